// wd1770.h - the Einstein's WD1770 floppy disc controller (ports 18h
// status/command, 19h track, 1Ah sector, 1Bh data) with drive 0 behind it.
//
// How it is driven: the machine calls wd1770_read / wd1770_write with the
// emulated time of each port access and wd1770_advance after every
// instruction.  The disk turns at 300 rpm: one revolution is 800,000 T at
// 4 MHz, the index pulse comes when the time is a multiple of that, and in
// double density a byte passes the head every 128 T (6,250 a track).
//
// Commands modelled: Restore and Seek (type I, with step time and the motor
// and spin-up status bits), Write Track (type III) and Force Interrupt.
// Write Track raises a data request as soon as it is accepted and ends with
// Lost Data if the first byte is not in the data register within three
// byte times; it writes from one index pulse to the next, taking the data
// register at every byte time (a zero and Lost Data when it is empty).
// F5h writes a sync byte A1h and presets the CRC, F6h writes C2h, F7h writes
// the two CRC bytes.  The written track is decoded into the disk's sectors.
// The model measures the delay from each data request to the CPU's write.
#pragma once
#include <cstdint>
#include <vector>

#include "sim/floppy_disk.h"

constexpr std::uint64_t FDC_BYTE_TSTATES = 128;          // 32 us at 4 MHz
constexpr std::uint64_t FDC_REVOLUTION_TSTATES = 800000; // 200 ms
constexpr std::uint64_t FDC_STEP_TSTATES = 24000;        // 6 ms a step
constexpr int FDC_SPINUP_REVOLUTIONS = 6;

// Status bits
constexpr std::uint8_t FDC_ST_BUSY = 0x01;
constexpr std::uint8_t FDC_ST_INDEX_OR_DRQ = 0x02;
constexpr std::uint8_t FDC_ST_TRACK0_OR_LOST = 0x04;
constexpr std::uint8_t FDC_ST_CRC_ERROR = 0x08;
constexpr std::uint8_t FDC_ST_SEEK_ERROR = 0x10;
constexpr std::uint8_t FDC_ST_SPINUP_DONE = 0x20;
constexpr std::uint8_t FDC_ST_WRITE_PROTECT = 0x40;
constexpr std::uint8_t FDC_ST_MOTOR_ON = 0x80;

enum class FdcPhase {
    Idle,
    TypeI,            // stepping; ends at `phase_end`
    WriteFirstByte,   // Write Track accepted: the first byte is due within 3 byte times
    WriteWaitIndex,   // first byte in: waiting for the index pulse
    WriteTrack,       // writing, a byte every 128 T until the next index pulse
};

// Faults a test can arrange.
struct FdcFaults {
    int seek_error_track;    // a seek to this track ends with Seek Error (-1 none)
    int crc_error_track;     // ... with CRC Error (-1 none)
    int end_early_track;     // a Write Track on this track ends after
    int end_early_bytes;     // this many disc bytes (-1 none)
};

struct Wd1770 {
    FloppyDisk* disk;          // the disk in drive 0
    std::uint8_t select;       // the drive/side latch (port 23h): bit 0 drive 0, bit 4 side 1
    std::uint8_t track_reg;    // track register
    std::uint8_t sector_reg;   // sector register
    std::uint8_t data_reg;     // data register
    int head_track;            // where drive 0's head stands
    bool type1_status;         // status shows the type I bits
    std::uint8_t status;       // the status bits other than busy/DRQ/index computed on read
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
    int wt_track, wt_side;     // where it writes
    int crc_bytes_pending;     // second CRC byte of an F7h still to write
    std::uint16_t crc;         // running CRC
    std::vector<std::uint8_t> disc_bytes;  // what went onto the disc
    std::vector<bool> disc_sync;           // which of them are F5h sync bytes
    std::vector<std::uint8_t> supplied;    // what the CPU put in the data register
    // Figures
    std::uint64_t worst_drq_delay;  // longest data request to CPU write while writing (budget 128 T)
    std::uint64_t worst_first_delay;// longest command to first byte (budget 3 byte times, 384 T)
    std::uint64_t lost_data;        // byte times the CPU missed
    std::uint64_t write_tracks;     // Write Track commands completed
    std::vector<std::vector<std::uint8_t>> supplied_log;  // supplied bytes of every Write Track
};

void wd1770_init(Wd1770* fdc, FloppyDisk* disk);
void wd1770_advance(Wd1770* fdc, std::uint64_t now);
std::uint8_t wd1770_read(Wd1770* fdc, int port, std::uint64_t now);
void wd1770_write(Wd1770* fdc, int port, std::uint8_t value, std::uint64_t now);
bool wd1770_busy(const Wd1770* fdc);
// What the monitor's restore does to the controller: motor on, head and
// track register at 0, type I status.  Returns the T-states it took.
std::uint64_t wd1770_restore_now(Wd1770* fdc, std::uint64_t now);
// Reset: ends any command, motor off.
void wd1770_reset(Wd1770* fdc, std::uint64_t now);
