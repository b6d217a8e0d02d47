// mos.cpp - the Einstein's ROM monitor as TOBRIN's code meets it: the RAM
// stubs at 0000h, the workspace bytes, and the services behind RST 08h.
//
// A call is RST 08h followed by a code byte; the monitor returns to the
// byte after the code (after the inline text for CFh).  The caller must take
// every register as changed except where a call keeps some: this model
// scrambles the others, so Z80 code that leans on them fails here as it
// would on the machine.  Each service charges the T-states it takes.
//   CFh  print the inline text; its last character has bit 7 set
//   AFh  restore with verify on the drive selected at port 23h:
//        Z, A=0; or NZ with A = 3 (no ID on track 0: unformatted),
//        4 (not ready: no disk), 5 (no such drive); also in FB56h
//   AEh  A to the controller's command register, then up to 128 polls for
//        busy: Z, A=0 when it went busy, NZ, A=FFh when not; keeps BC, E, IX
//   A3h  write 512 bytes at (FB53h) to drive (FB50h), track (FB51h), sector
//        ID (FB52h), IDs 10 and up on side 1; seeks as needed (head track
//        at FB58h+drive); on failure FB56h = 2 write-protected, 3 not found,
//        4 not ready; returns with interrupts on.  The restore and the
//        sector calls drive the controller model (sim/wd1770) as the
//        monitor drives the chip, so their time is the turning disk's.
//   A2h  read likewise into (FB53h); 1 bad data (what was read is in the
//        buffer all the same), 3 not found, 4 not ready
//   BDh  reset the controller, deselect the drives
//   9Ah  back to the monitor prompt: the machine stops
//   9Eh  print the character in A
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include <z80ex/z80ex.h>

#include "sim/mos.h"

#include "sim/einstein.h"

namespace {

using namespace mos;

// The drive/side latch as the monitor puts it out for drive 0.
constexpr std::uint8_t LATCH_DRIVE0 = 0x01;
constexpr std::uint8_t LATCH_SIDE1 = 0x10;

constexpr std::uint64_t CALL_OVERHEAD = 120;   // paging the ROM in and out, the dispatch
// The monitor's print puts each character on the screen through the video
// chip: 1.6 ms a character, a control character half that (MAME's Einstein
// with the MOS 1.2 prints a 32-character progress line in 52 ms).
constexpr std::uint64_t PRINT_PER_CHARACTER = 6500;
constexpr std::uint64_t PRINT_PER_CONTROL = 3200;

std::uint64_t print_cost(std::uint8_t c)
{
    return (c & 0x7F) < 0x20 ? PRINT_PER_CONTROL : PRINT_PER_CHARACTER;
}

// How the MOS 1.2 drives the controller for its disk calls (its commented
// disassembly; the times as MAME's Einstein running that ROM shows them):
// it steps at 12 ms (rate bits 01, the cold start's "12 ms stepping");
// after a seek or a restore it waits in software (a 1100h-pass loop, 28 ms)
// and asks the controller for no head settle; a sector call made while the
// motor is off begins with a full restore with verify; a sector that is not
// found or reads back bad is tried up to ten times, each try after the
// first behind a Force Interrupt, a restore and a new seek; write
// protection, not ready and no drive end the call at once; after a failure
// the controller is reset.  The call runs with interrupts off (here it is
// one step of the model: nothing else runs meanwhile) and polls the status
// register for busy and data requests, one byte moved at each request.
constexpr std::uint8_t STEP_RATE = 0x01;
constexpr std::uint64_t SOFTWARE_SETTLE = 0x1100 * 26;
constexpr std::uint64_t SECTOR_SETUP = 800;      // the call to its first controller command: 0.2 ms
constexpr std::uint64_t POLL_TSTATES = 40;
constexpr int TRIES = 10;
constexpr std::uint8_t SEEK_STATUS_MASK = 0xB9;  // after a seek: motor on, spun up, nothing else
constexpr std::uint8_t SEEK_STATUS_READY = 0xA0;
// The monitor waits this long for an index pulse (a drive that never turns
// one has no disk) and for a command to end; past it the call fails "not
// ready".  Every command on a turning disk ends well within: a restore
// from track 79 after a spin-up and a verify take about 16 turns.
constexpr std::uint64_t INDEX_WAIT_LIMIT = 10 * FDC_REVOLUTION_TSTATES;
constexpr std::uint64_t COMMAND_TIME_LIMIT = 25 * FDC_REVOLUTION_TSTATES;

Z80EX_CONTEXT* cpu_of(Einstein* e)
{
    return static_cast<Z80EX_CONTEXT*>(e->cpu);
}

void set_result(Einstein* e, std::uint8_t a, bool zero)
{
    std::uint16_t af = static_cast<std::uint16_t>(a << 8 | (zero ? 0x40 : 0x00));
    z80ex_set_reg(cpu_of(e), regAF, af);
}

// Registers the call does not promise to keep get values nobody may rely on.
void scramble(Einstein* e, bool keep_bc_e_ix)
{
    Z80EX_CONTEXT* cpu = cpu_of(e);
    std::uint16_t junk = static_cast<std::uint16_t>(0xA5C3 ^ (e->clock & 0xFFFF));
    if (keep_bc_e_ix) {
        std::uint16_t de = z80ex_get_reg(cpu, regDE);
        z80ex_set_reg(cpu, regDE, static_cast<std::uint16_t>((junk & 0xFF00) | (de & 0x00FF)));
    } else {
        z80ex_set_reg(cpu, regBC, junk);
        z80ex_set_reg(cpu, regDE, static_cast<std::uint16_t>(junk ^ 0x1111));
        z80ex_set_reg(cpu, regIX, static_cast<std::uint16_t>(junk ^ 0x2222));
    }
    z80ex_set_reg(cpu, regHL, static_cast<std::uint16_t>(junk ^ 0x3333));
    z80ex_set_reg(cpu, regIY, static_cast<std::uint16_t>(junk ^ 0x4444));
}

void fail(Einstein* e, std::uint8_t code)
{
    e->ram[mos_error] = code;
    set_result(e, code, code == 0);
}

void mos_print(Einstein* e, std::uint16_t* next)
{
    std::uint16_t at = *next;
    for (;;) {
        std::uint8_t c = e->ram[at++];
        screen_put(&e->screen, static_cast<char>(c & 0x7F));
        e->clock += print_cost(c);
        if (c & 0x80) break;
    }
    *next = at;
    scramble(e, false);
}

std::uint8_t status_now(Einstein* e)
{
    return wd1770_read(&e->fdc, WD_REG_STATUS_COMMAND, e->clock);
}

void force_interrupt(Einstein* e)
{
    wd1770_write(&e->fdc, WD_REG_STATUS_COMMAND, static_cast<std::uint8_t>(WD_FORCE_INTERRUPT << 4), e->clock);
}

// Polls the status register as the monitor's loop does until the controller
// is idle, moving a byte at each data request (into RAM from *buffer on for
// a read, out of it for a write; none when buffer is null).  False when it
// is still busy at `limit`: the command is then ended by Force Interrupt.
bool poll_until_idle(Einstein* e, std::uint16_t* buffer, bool writing, std::uint64_t limit)
{
    for (;;) {
        e->clock += POLL_TSTATES;
        wd1770_advance(&e->fdc, e->clock);
        if (!wd1770_busy(&e->fdc)) return true;
        if (buffer != nullptr && wd1770_data_request(&e->fdc)) {
            if (writing) wd1770_write(&e->fdc, WD_REG_DATA, e->ram[(*buffer)++], e->clock);
            else e->ram[(*buffer)++] = wd1770_read(&e->fdc, WD_REG_DATA, e->clock);
            continue;
        }
        if (e->clock >= limit) {
            force_interrupt(e);
            return false;
        }
        // Nothing changes before the controller's next event: the polls
        // until then.
        std::uint64_t next = std::min(wd1770_next_event(&e->fdc), limit);
        if (next > e->clock + POLL_TSTATES) e->clock += (next - e->clock) / POLL_TSTATES * POLL_TSTATES;
    }
}

// Polls the type I status until an index pulse shows; false at `limit`.
bool wait_for_index(Einstein* e, std::uint64_t limit)
{
    for (;;) {
        if (status_now(e) & WD_STATUS_INDEX) return true;
        if (e->clock >= limit) return false;
        std::uint64_t next_pulse = (e->clock / FDC_REVOLUTION_TSTATES + 1) * FDC_REVOLUTION_TSTATES;
        e->clock = std::min(std::max(e->clock + POLL_TSTATES, next_pulse), limit);
    }
}

// Issues a command once the controller is idle (a command the program left
// running ends first, or is ended at the limit).
void issue(Einstein* e, std::uint8_t command)
{
    if (!poll_until_idle(e, nullptr, false, e->clock + COMMAND_TIME_LIMIT)) force_interrupt(e);
    wd1770_write(&e->fdc, WD_REG_STATUS_COMMAND, command, e->clock);
}

// The monitor's restore with verify (AFh, and before each try of a sector
// call after the first): command 05h, an index pulse, not busy, the
// software settle.  The head table says track 0 after it.  Returns 0, 3 (no
// ID field on track 0: an unformatted disk) or 4 (no index pulse, or a
// command that never ended: no disk).
std::uint8_t restore_sequence(Einstein* e, int drive)
{
    issue(e, static_cast<std::uint8_t>(WD_RESTORE << 4 | WD_FLAG_VERIFY | STEP_RATE));
    std::uint64_t start = e->clock;
    bool turned = wait_for_index(e, start + INDEX_WAIT_LIMIT);
    bool ended = turned && poll_until_idle(e, nullptr, false, start + COMMAND_TIME_LIMIT);
    if (!ended) {
        force_interrupt(e);
        return ERROR_NOT_READY;
    }
    e->clock += SOFTWARE_SETTLE;
    e->ram[mos_head_track + drive] = 0;
    return (status_now(e) & WD_STATUS_SEEK_ERROR) ? ERROR_NOT_FOUND : 0;
}

// The monitor's seek to `track` from where its head table says the head
// is: command 11h, not busy, the software settle, then the status must say
// motor on and spun up with no error (else "not ready", in this model's
// reading).
std::uint8_t seek_sequence(Einstein* e, int drive, int track)
{
    wd1770_write(&e->fdc, WD_REG_TRACK, e->ram[mos_head_track + drive], e->clock);
    wd1770_write(&e->fdc, WD_REG_DATA, static_cast<std::uint8_t>(track), e->clock);
    issue(e, static_cast<std::uint8_t>(WD_SEEK << 4 | STEP_RATE));
    if (!poll_until_idle(e, nullptr, false, e->clock + COMMAND_TIME_LIMIT)) return ERROR_NOT_READY;
    e->clock += SOFTWARE_SETTLE;
    e->ram[mos_head_track + drive] = static_cast<std::uint8_t>(track);
    return (status_now(e) & SEEK_STATUS_MASK) == SEEK_STATUS_READY ? 0 : ERROR_NOT_READY;
}

void mos_restore(Einstein* e)
{
    e->restores++;
    std::uint8_t code = (e->drive_latch & 0x0F) == LATCH_DRIVE0 ? 0 : ERROR_NO_DRIVE;  // only drive 0 exists here
    if (code == 0 && e->config.fail_first_restore && e->restores == 1) {
        code = ERROR_NOT_READY;
        e->clock += INDEX_WAIT_LIMIT;
    } else if (code == 0) {
        code = restore_sequence(e, 0);
    }
    fail(e, code);
    scramble(e, false);
}

void mos_fdc_command(Einstein* e)
{
    std::uint8_t command = static_cast<std::uint8_t>(z80ex_get_reg(cpu_of(e), regAF) >> 8);
    e->clock += CALL_OVERHEAD / 2;
    einstein_fdc_command(e, command, e->clock);
    bool busy = wd1770_busy(&e->fdc);
    e->clock += busy ? 40 : 128 * 40;  // the polls for busy
    e->clock += CALL_OVERHEAD / 2;
    set_result(e, busy ? 0x00 : 0xFF, busy);
    scramble(e, true);
}

// One try of a sector: the seek when the head table says the head is
// elsewhere, then Read Sector or Write Sector with the data moved as the
// controller asks.  Returns the monitor's code.
std::uint8_t sector_try(Einstein* e, int drive, int track, int id, std::uint16_t buffer, bool write)
{
    if (e->ram[mos_head_track + drive] != track) {
        std::uint8_t code = seek_sequence(e, drive, track);
        if (code != 0) return code;
    }
    wd1770_write(&e->fdc, WD_REG_TRACK, static_cast<std::uint8_t>(track), e->clock);
    wd1770_write(&e->fdc, WD_REG_SECTOR, static_cast<std::uint8_t>(id), e->clock);
    issue(e, static_cast<std::uint8_t>((write ? WD_WRITE_SECTOR : WD_READ_SECTOR) << 4));
    if (!poll_until_idle(e, &buffer, write, e->clock + COMMAND_TIME_LIMIT)) return ERROR_NOT_READY;
    std::uint8_t status = status_now(e);
    if (write && (status & WD_STATUS_WRITE_PROTECT)) return ERROR_WRITE_PROTECTED;
    if (status & WD_STATUS_RECORD_NOT_FOUND) return ERROR_NOT_FOUND;
    if (status & (WD_STATUS_CRC_ERROR | WD_STATUS_LOST_DATA)) return ERROR_BAD_DATA;  // what was read is in the buffer all the same
    return 0;
}

// A3h (write) and A2h (read): the sector that the workspace names, IDs 10
// and up on side 1, as the MOS 1.2 does it (see above).  (A weak spot, a
// test's, is the controller's: wd1770.h.)
void mos_sector_call(Einstein* e, bool write)
{
    (write ? e->sector_writes : e->sector_reads)++;
    std::uint8_t drive = e->ram[mos_drive];
    int track = e->ram[mos_track];
    int id = e->ram[mos_sector];
    std::uint16_t buffer = static_cast<std::uint16_t>(e->ram[mos_buffer] | e->ram[mos_buffer + 1] << 8);
    int side = id >= 10 ? 1 : 0;
    einstein_disk_work(e, write ? DiskWork::Writing : DiskWork::Reading, track, side);

    e->clock += SECTOR_SETUP;
    const std::uint8_t latch = static_cast<std::uint8_t>(LATCH_DRIVE0 << (drive & 3) | (side ? LATCH_SIDE1 : 0));
    einstein_select_drive(e, latch);
    std::uint8_t code = drive == 0 ? 0 : ERROR_NO_DRIVE;  // only drive 0 exists here

    // The motor has stopped: a full restore first (its verify may fail on
    // a disk without IDs on track 0; the tries tell).
    if (code == 0 && !(status_now(e) & WD_STATUS_MOTOR_ON)) {
        code = restore_sequence(e, drive);
        if (code == ERROR_NOT_FOUND) code = 0;
    }
    for (int t = 0; code == 0 && t < TRIES; ++t) {
        if (t > 0) {
            force_interrupt(e);
            code = restore_sequence(e, drive);
            if (code == ERROR_NOT_READY) break;
            einstein_select_drive(e, latch);
        }
        code = sector_try(e, drive, track, id, buffer, write);
        if (code != ERROR_BAD_DATA && code != ERROR_NOT_FOUND) break;  // done, or not tried again
        if (t + 1 < TRIES) code = 0;
    }
    if (code != 0) {  // BDh: the controller reset, every drive deselected
        wd1770_reset(&e->fdc, e->clock);
        einstein_select_drive(e, 0);
    }
    e->clock += CALL_OVERHEAD;
    fail(e, code);
    z80ex_set_reg(cpu_of(e), regIFF1, 1);
    z80ex_set_reg(cpu_of(e), regIFF2, 1);
    scramble(e, false);
}

}  // namespace

void mos_install(Einstein* e)
{
    // 0000h: RST 08h / DEFB 9Ah, so a jump to 0 re-enters the monitor.
    e->ram[0x0000] = 0xCF;  // RST 08h
    e->ram[0x0001] = CALL_MONITOR;
    // 0008h: the jump to the monitor's dispatcher (trapped before it runs).
    e->ram[0x0008] = 0xC3;
    e->ram[0x0009] = 0x00;
    e->ram[0x000A] = 0xFB;
    std::uint8_t config = 0;
    if (e->config.sides == 2) config |= 0x01;   // drive 0 two-sided
    if (e->config.tracks == 80) config |= 0x10;  // drive 0 has 80 tracks
    e->ram[mos_drive_config] = config;
}

void mos_call(Einstein* e)
{
    Z80EX_CONTEXT* cpu = cpu_of(e);
    std::uint16_t sp = z80ex_get_reg(cpu, regSP);
    std::uint16_t ret = static_cast<std::uint16_t>(e->ram[sp] | e->ram[static_cast<std::uint16_t>(sp + 1)] << 8);
    z80ex_set_reg(cpu, regSP, static_cast<std::uint16_t>(sp + 2));
    std::uint8_t code = e->ram[ret];
    std::uint16_t next = static_cast<std::uint16_t>(ret + 1);
    e->clock += CALL_OVERHEAD;
    switch (code) {
    case CALL_PRINT_TEXT: mos_print(e, &next); break;
    case CALL_RESTORE: mos_restore(e); break;
    case CALL_FDC_COMMAND: mos_fdc_command(e); break;
    case CALL_WRITE_SECTOR: mos_sector_call(e, true); break;
    case CALL_READ_SECTOR: mos_sector_call(e, false); break;
    case CALL_FDC_RESET:
        wd1770_reset(&e->fdc, e->clock);
        einstein_select_drive(e, 0);  // every drive deselected
        e->clock += 400;
        scramble(e, false);
        break;
    case CALL_PRINT_CHARACTER:
        screen_put(&e->screen, static_cast<char>((z80ex_get_reg(cpu, regAF) >> 8) & 0x7F));
        e->clock += print_cost(static_cast<std::uint8_t>(z80ex_get_reg(cpu, regAF) >> 8));
        scramble(e, false);
        break;
    case CALL_MONITOR:
        e->stop = StopReason::Monitor;
        break;
    default:
        e->unknown_mos_call = code;
        e->stop = StopReason::Halted;
        break;
    }
    z80ex_set_reg(cpu, regPC, next);
}
