// einstein.h - the virtual Einstein: 64 KB of RAM, a Z80 (the z80ex core)
// clocked at 4 MHz and counted in T-states, the 8251 USART and its line to
// the PC at the rates of the CTC, the WD1770 with drive 0, the drive/side latch, the text screen,
// and the monitor's services (MOS calls at RST 08h, see mos.cpp).
//
// How it is driven: einstein_init with a drive set-up, einstein_load the
// code, einstein_start at an address (or einstein_boot the disk), then
// einstein_run until it stops: the monitor was re-entered (MOS call 9Ah, as
// after the target program's jump to 0000h), the Z80 starves for a byte
// from a queue link, or the T-state limit is reached.  Devices are stepped
// after every instruction and at every port access, with the exact T-state
// of that access.
#pragma once
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "sim/ctc.h"
#include "sim/floppy_disk.h"
#include "sim/host_link.h"
#include "sim/line_faults.h"
#include "sim/screen.h"
#include "sim/usart_8251.h"
#include "sim/wd1770.h"


constexpr std::uint64_t CPU_HZ = 4000000;

enum class StopReason {
    Limit,     // the T-state limit of this run was reached
    Starved,   // the Z80 waits for a byte a queue link does not have
    Monitor,   // the monitor was re-entered (MOS call 9Ah)
    Halted,    // a HALT instruction, or a MOS call the model does not know
    Reset,     // the machine was reset: the program is gone, the monitor waits at its prompt
};

// Where the disk's time went: figures only, nothing here changes the
// machine.  A stretch of disk work begins at a monitor sector call (or a
// sector command the program gives the controller itself) and ends
// when the Einstein next sends a byte on the line; within it, the time from
// a write call to the next read call counts as writing, from a read call to
// the next write call as reading (the program's own work between the calls,
// a verify's checks included, counts with them).
enum class DiskWork { None, Writing, Reading };
struct DiskTimes {
    std::uint64_t writing;              // T-states
    std::uint64_t reading;
    std::uint64_t writing_index_pulses; // index pulses that passed meanwhile
    std::uint64_t reading_index_pulses;
    std::set<std::pair<int, int>> sides_written;  // (track, side) written
    std::set<std::pair<int, int>> sides_read;     // ... and read
    DiskWork now;                       // the stretch being timed
    std::uint64_t since;                // ... since then
};

// The drive and the faults to arrange.
struct EinsteinConfig {
    int tracks = 40;                // drive 0: 40 or 80 tracks
    int sides = 1;                  // 1 or 2 sides
    bool disk_present = true;       // a disk in the drive
    bool write_protected = false;   // its notch covered
    bool fail_first_restore = false;// the first drive check fails "not ready"
    std::vector<std::pair<int, int>> weak_sectors; // (track, ID): the first write is taken but not kept (the controller's faults.weak)
    // A damaged spot, a seek that fails, a Write Track cut short; and
    // (track, ID) sectors whose every write fails "not found" (faults.unwritable)
    // or whose every read fails "bad data" and reads wrong (faults.bad_data):
    // the controller meets them and the monitor tries them again as it does.
    FdcFaults faults;
    LineFaults line;                // faults on the serial line
    SerialAdapter adapter;          // the PC's serial adapter (how it keeps to CTS, its latency, its rates)
    double max_baud = 0;            // above this rate every byte arrives damaged (0: no limit)
    std::uint64_t reset_at = UINT64_MAX; // the machine is reset at this T-state
};

struct Einstein {
    std::uint8_t ram[65536];        // all of memory (the ROM is not modelled: MOS calls are trapped)
    void* cpu;                      // the z80ex context
    std::uint64_t clock;            // emulated time, T-states since start
    EinsteinConfig config;          // the set-up
    HostLink host;                  // the PC's end of the line
    LineFaults line_faults;         // the line's faults and what they did
    Usart8251 usart;                // ports 10h, 11h
    Ctc ctc;                        // ports 28h-2Bh: the line's rates
    FloppyDisk disk;                // drive 0's disk
    Wd1770 fdc;                     // ports 18h-1Bh
    std::uint8_t drive_latch;       // port 23h: bit n selects drive n, bit 4 side 1
    Screen screen;                  // what MOS print calls showed
    StopReason stop;                // why the last run stopped
    std::uint8_t unknown_mos_call;  // the code of an unmodelled MOS call
    int restores;                   // MOS drive checks made
    int sector_writes;              // MOS sector writes made
    int sector_reads;               // MOS sector reads made
    DiskTimes disk_times;           // where the disk's time went
    bool changed_read;              // the last byte read from the 8251 was changed on the line ...
    std::set<std::uint16_t> changed_stores; // ... and where the next store put it (figures only)
    std::uint64_t overlap_bytes;    // bytes from the PC that arrived while the controller was busy ...
    std::uint64_t overlap_tstates;  // ... and their line time
    std::uint64_t first_overrun_at; // when the 8251 first lost a byte to an overrun (UINT64_MAX: never) ...
    std::uint16_t first_overrun_pc; // ... and the instruction the Z80 had just run
    std::uint64_t protected_writes; // stores into 0000h-000Ah or FB00h-FFFFh outside the documented workspace bytes
    std::vector<std::uint16_t> watch_addresses;   // addresses whose first execution is timed
    std::vector<std::uint64_t> watch_times;       // ... at this T-state (UINT64_MAX: not yet)
    bool booted;                    // started by einstein_boot (its stack below FCFFh is the program's)
    bool was_reset;                 // the arranged reset happened: the monitor waits at its prompt
    std::vector<std::pair<std::uint16_t, std::function<void(Einstein*)>>> traps;  // run before the instruction at an address
    std::function<void(Einstein*, std::uint8_t* byte)> on_send;  // run as the Z80 writes a byte to the 8251 to send (it may change it)
};

void einstein_init(Einstein* e, const EinsteinConfig& config);
void einstein_destroy(Einstein* e);
// Puts the line on a pseudo-terminal instead of the test queue.
bool einstein_use_pty(Einstein* e);
void einstein_load(Einstein* e, std::uint16_t address, const std::uint8_t* bytes, std::size_t count);
// Starts the Z80 at pc with the stack at sp, interrupts off.
void einstein_start(Einstein* e, std::uint16_t pc, std::uint16_t sp);
// Runs until a stop or until max_tstates more have passed.  When the Z80
// waits for a byte the PC has not sent, it stops as Starved (the caller
// sends, or waits for the PC with host_link_wait and lets the machine
// catch up with einstein_catch_up) - unless stop_when_starved is false:
// then emulated time runs on, so that poll limits can run out.
StopReason einstein_run(Einstein* e, std::uint64_t max_tstates, bool stop_when_starved = true);
// The PC was silent for `seconds` of wall time while the Z80 waited: the
// Z80 polls for as long, taking no byte the PC sent meanwhile.  Returns
// why that run stopped (Limit when it used the whole time).
StopReason einstein_catch_up(Einstein* e, double seconds);
// Runs `action` each time the Z80 is about to execute the instruction at
// `address`.
void einstein_trap(Einstein* e, std::uint16_t address, std::function<void(Einstein*)> action);
// Boots drive 0 as the monitor does: reads track 0 sector 0 for the load
// addresses, loads the sectors and starts the entry point.  False when the
// disk cannot be read (the reason is printed on the screen).
bool einstein_boot(Einstein* e);
// Times the first execution of an address; returns its index.
int einstein_watch(Einstein* e, std::uint16_t address);
std::uint64_t einstein_watch_time(const Einstein* e, int index);
std::uint16_t einstein_pc(const Einstein* e);

// Times the disk's work: a sector call of the given kind begins (on the
// track side), or (None) the line is used again.
void einstein_disk_work(Einstein* e, DiskWork work, int track = 0, int side = 0);
// A command for the controller from the program (its port, or the
// monitor's call AEh): a sector read or write it gives itself is timed as
// the disk's work too.
void einstein_fdc_command(Einstein* e, std::uint8_t command, std::uint64_t at);

// Writes the drive/side latch (port 23h) and hands the controller the
// selected drive and side.  Only drive 0 exists.
void einstein_select_drive(Einstein* e, std::uint8_t latch);
