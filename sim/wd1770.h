// wd1770.h - the WD1770 floppy disc controller: four registers (status or
// command, track, sector, data) and the drive the board hands it.
//
// How it is driven: the board maps the registers onto its ports and calls
// wd1770_read / wd1770_write with a register number (0-3) and the emulated
// time of each access, wd1770_advance after every instruction, and
// wd1770_select whenever its drive latch changes: which disk (or none) and
// which side.  The controller knows nothing of the board's ports or latch.
//
// The disk turns at 300 rpm: one revolution is 800,000 T at 4 MHz, the
// index pulse comes when the time is a multiple of that, and in double
// density a byte passes the head every 128 T (6,250 a track).
//
// Commands modelled: Restore and Seek (type I, with the step rate of the
// command's low bits, the verify flag and the motor and spin-up status
// bits), Read Sector and Write Sector (type II: one sector, with the head
// settle flag), Read Address (the next ID field that passes: its six bytes
// as they pass, the track address into the sector register), Write Track
// (type III) and Force Interrupt; Read Track ends at once with Record Not
// Found (nothing here uses it).
// The type II commands find their sector on the turning disk: the first ID
// field with the track register's track and the sector register's ID that
// passes the head after the command (and the settle delay), or Record Not
// Found at the fifth index pulse.  A read then offers the data field's bytes
// as they pass, a data request each, with Lost Data when the CPU leaves a
// byte unread until the next one comes and CRC Error when the field's CRC
// was bad; a write raises its first data request two bytes after the ID
// field, ends with Lost Data (writing nothing) if that byte is not in the
// register 22 bytes after the ID field, then takes a byte at every byte time
// (a zero and Lost Data when the register is empty).
// Write Track raises a data request as soon as it is accepted and ends with
// Lost Data if the first byte is not in the data register within three
// byte times; it writes from one index pulse to the next, taking the data
// register at every byte time (a zero and Lost Data when it is empty).
// F5h writes a sync byte A1h and presets the CRC, F6h writes C2h, F7h writes
// the two CRC bytes.  The written track is decoded into the disk's sectors.
//
// Apart from its registers the model keeps figures: the delay from each
// data request to the CPU's write, lost data, the bytes of every Write Track.
#pragma once
#include <cstdint>
#include <utility>
#include <set>
#include <vector>

#include "sim/floppy_disk.h"

constexpr std::uint64_t FDC_BYTE_TSTATES = 128;          // 32 us at 4 MHz
constexpr std::uint64_t FDC_REVOLUTION_TSTATES = 800000; // 200 ms
constexpr std::uint64_t FDC_SLOT_TSTATES = FDC_REVOLUTION_TSTATES / 10;  // a tenth of a turn: a sector of the format's
constexpr std::uint64_t FDC_STEP_TSTATES[4] = {24000, 48000, 80000, 120000};  // 6, 12, 20, 30 ms a step (rate bits 1-0)
constexpr std::uint64_t FDC_SETTLE_TSTATES = 120000;     // 30 ms: the head settle delay (flag E)
constexpr int FDC_SEARCH_INDEX_PULSES = 5;               // an ID search gives up at the fifth index pulse
constexpr int FDC_SPINUP_REVOLUTIONS = 6;

// Register numbers (the low two bits of the board's port).
enum Wd1770Register { WD_REG_STATUS_COMMAND = 0, WD_REG_TRACK = 1, WD_REG_SECTOR = 2, WD_REG_DATA = 3 };

// Status bits.  Some bits mean one thing after a type I command (restore,
// seek, step) and another during or after a type II or III command.
constexpr std::uint8_t WD_STATUS_BUSY = 0x01;
constexpr std::uint8_t WD_STATUS_INDEX = 0x02;            // type I: the index hole passes the sensor
constexpr std::uint8_t WD_STATUS_DATA_REQUEST = 0x02;     // type II/III: the data register wants a byte
constexpr std::uint8_t WD_STATUS_TRACK0 = 0x04;           // type I: the head is on track 0
constexpr std::uint8_t WD_STATUS_LOST_DATA = 0x04;        // type II/III: the CPU missed a byte time
constexpr std::uint8_t WD_STATUS_CRC_ERROR = 0x08;
constexpr std::uint8_t WD_STATUS_SEEK_ERROR = 0x10;       // type I: the track could not be verified
constexpr std::uint8_t WD_STATUS_RECORD_NOT_FOUND = 0x10; // type II/III
constexpr std::uint8_t WD_STATUS_SPIN_UP_DONE = 0x20;     // type I: the spin-up sequence has ended
constexpr std::uint8_t WD_STATUS_WRITE_PROTECT = 0x40;
constexpr std::uint8_t WD_STATUS_MOTOR_ON = 0x80;

// Commands, by the high nibble of the command byte.
enum Wd1770Command {
    WD_RESTORE = 0x0,
    WD_SEEK = 0x1,
    WD_STEP = 0x2,              // and 0x3
    WD_STEP_IN = 0x4,           // and 0x5
    WD_STEP_OUT = 0x6,          // and 0x7
    WD_READ_SECTOR = 0x8,       // and 0x9
    WD_WRITE_SECTOR = 0xA,      // and 0xB
    WD_READ_ADDRESS = 0xC,
    WD_FORCE_INTERRUPT = 0xD,
    WD_READ_TRACK = 0xE,
    WD_WRITE_TRACK = 0xF,
};
constexpr std::uint8_t WD_FLAG_NO_SPIN_UP = 0x08;  // h: the motor is taken as up to speed
constexpr std::uint8_t WD_FLAG_VERIFY = 0x04;      // V (type I): read an ID field on the track reached
constexpr std::uint8_t WD_FLAG_SETTLE = 0x04;      // E (type II and III): wait for the head to settle
constexpr std::uint8_t WD_STEP_RATE_MASK = 0x03;   // r1 r0 (type I): the step rate

enum class FdcPhase {
    Idle,
    TypeI,            // stepping; ends at `phase_end`
    WriteFirstByte,   // Write Track accepted: the first byte is due within 3 byte times
    WriteWaitIndex,   // first byte in: waiting for the index pulse
    WriteTrack,       // writing, a byte every 128 T until the next index pulse
    SectorSearch,     // type II: until the sector's ID field passes (or Record Not Found at `phase_end`)
    SectorRead,       // reading the data field: a byte every 128 T
    SectorWriteFirst, // writing: the first byte is due by `phase_end`
    SectorWrite,      // writing the data field: a byte every 128 T
    AddressSearch,    // Read Address: until an ID field's mark has passed (or Record Not Found at `phase_end`)
    AddressRead,      // Read Address: the ID field's six bytes, one every 128 T
};

// Faults a test can arrange: a damaged spot of the disk, or a drive that
// misbehaves, as the controller meets it.
struct FdcFaults {
    int seek_error_track = -1;   // a seek to this track ends with Seek Error (-1 none)
    int crc_error_track = -1;    // ... with CRC Error (-1 none)
    int end_early_track = -1;    // a Write Track on this track ends after
    int end_early_bytes = -1;    // this many disc bytes (-1 none)
    std::vector<std::pair<int, int>> unwritable;  // (track, ID): Write Sector never finds its ID field, a Write Track's data there reads back bad
    std::vector<std::pair<int, int>> bad_data;    // (track, ID): Read Sector reads it wrong, with CRC Error
    std::vector<std::pair<int, int>> weak;        // (track, ID): the first Write Sector there is taken but not kept
    std::set<std::pair<int, int>> weak_written;   // ... those whose first write was lost already
};

// What the model measured: nothing here changes what the CPU sees.
struct Wd1770Figures {
    std::uint64_t worst_drq_delay;   // longest data request to CPU write while writing (budget 128 T)
    std::uint64_t worst_first_delay; // longest command to first byte (budget 3 byte times, 384 T)
    std::uint64_t lost_data;         // byte times of a sector's data or a Write Track that the CPU missed
    std::uint64_t write_tracks;      // Write Track commands completed
    std::uint64_t first_write_track; // when the first Write Track was accepted (UINT64_MAX: none yet)
    std::uint64_t last_write_track_end; // when the last one ended
    std::uint64_t sector_commands;   // Read Sector and Write Sector commands accepted
    std::uint64_t turns_waited;      // ... of them, those that waited for their sector to come round
                                     // (its ID field came more than one and a half slots after them)
    std::vector<std::vector<std::uint8_t>> supplied_log;  // the bytes supplied to every Write Track
    std::vector<std::pair<std::uint64_t, std::uint8_t>> commands;  // (when, command) of the first COMMAND_LOG_SIZE
};
constexpr std::size_t COMMAND_LOG_SIZE = 4096;

struct Wd1770 {
    FloppyDisk* drive;         // the selected drive's disk, handed over by the board; null: none selected
    int side;                  // the side the board selects (0 or 1)
    std::uint8_t track_reg;    // track register
    std::uint8_t sector_reg;   // sector register
    std::uint8_t data_reg;     // data register
    int head_track;            // where the drive's head stands
    bool type1_status;         // the status register shows the type I meanings
    std::uint8_t status;       // the error bits of the last command (CRC, seek/not found, lost data)
    FdcPhase phase;            // what the controller is doing
    std::uint64_t phase_end;   // type I: when stepping ends
    bool motor_on;             // motor running
    std::uint64_t motor_off_at;// it stops 9 revolutions after the last command
    std::uint64_t spin_up_done;// when the spin-up sequence has ended
    FdcFaults faults;          // arranged failures
    // Write Track
    bool drq;                  // data request
    std::uint64_t drq_since;   // when it was raised
    bool dr_full;              // the CPU has loaded the data register since
    std::uint64_t next_byte_at;// next byte time on the disc
    std::uint64_t track_end_at;// the index pulse that ends the write
    FloppyDisk* wt_disk;       // where it writes: the disk,
    int wt_track, wt_side;     // the track and the side
    int crc_bytes_pending;     // second CRC byte of an F7h still to write
    std::uint16_t crc;         // running CRC
    std::vector<std::uint8_t> disc_bytes;  // what went onto the disc
    std::vector<bool> disc_sync;           // which of them are F5h sync bytes
    std::vector<std::uint8_t> supplied;    // what the CPU put in the data register
    // Read Sector and Write Sector
    DiskSector* found;         // the sector whose ID field was found
    bool writing_sector;       // the command is Write Sector
    std::size_t byte_index;    // the data field's next byte
    std::vector<std::uint8_t> sector_data;  // the bytes written so far
    Wd1770Figures figures;     // measurements, apart from the registers
};

void wd1770_init(Wd1770* fdc);
// The board's drive latch changed: the selected drive's disk (null: none)
// and the side.
void wd1770_select(Wd1770* fdc, FloppyDisk* disk, int side);
void wd1770_advance(Wd1770* fdc, std::uint64_t now);
std::uint8_t wd1770_read(Wd1770* fdc, int reg, std::uint64_t now);
void wd1770_write(Wd1770* fdc, int reg, std::uint8_t value, std::uint64_t now);
bool wd1770_busy(const Wd1770* fdc);
// A sector or track command (type II or III) is in progress.
bool wd1770_data_command(const Wd1770* fdc);
// True while the controller asks for a byte (read) or offers one (write).
bool wd1770_data_request(const Wd1770* fdc);
// When the controller next changes of itself (a byte time, the end of a
// step or a search): a caller that polls may sleep until then.
std::uint64_t wd1770_next_event(const Wd1770* fdc);
// Reset: ends any command, motor off.
void wd1770_reset(Wd1770* fdc, std::uint64_t now);
