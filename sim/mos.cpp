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
constexpr std::uint64_t PRINT_PER_CHARACTER = 600;

// How the monitor drives the controller for its disk calls, as this model
// takes it: it seeks at the 6 ms step rate (rate bits 00) without verify and
// asks for the controller's head settle delay (E) on the first sector
// command after a seek; it sets up a sector call (drive checks, latch,
// registers) in SECTOR_SETUP T-states, polls the status register every
// POLL_TSTATES and moves one byte at each data request, and makes up to
// TRIES tries of a sector that is not found or reads back bad.
constexpr std::uint8_t STEP_RATE = 0x00;
constexpr std::uint64_t SECTOR_SETUP = 500;
constexpr std::uint64_t POLL_TSTATES = 40;
constexpr int TRIES = 10;
// A command that never ends (no index pulses) is given up after this long.
constexpr std::uint64_t COMMAND_TIME_LIMIT = 10 * FDC_REVOLUTION_TSTATES;

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

std::uint8_t selected_drive_error(Einstein* e)
{
    if ((e->drive_latch & 0x0F) != LATCH_DRIVE0) return ERROR_NO_DRIVE;  // only drive 0 exists here
    if (!e->disk.present) return ERROR_NOT_READY;
    return 0;
}

void mos_print(Einstein* e, std::uint16_t* next)
{
    std::uint16_t at = *next;
    for (;;) {
        std::uint8_t c = e->ram[at++];
        screen_put(&e->screen, static_cast<char>(c & 0x7F));
        e->clock += PRINT_PER_CHARACTER;
        if (c & 0x80) break;
    }
    *next = at;
    scramble(e, false);
}

// Runs one controller command to its end as the monitor's loop does:
// polling the status register, a byte moved at each data request (into RAM
// from `buffer` on for a read, out of it for a write).  Returns the status.
std::uint8_t run_command(Einstein* e, std::uint8_t command, std::uint16_t buffer)
{
    // A command the program left running ends first (the monitor waits for
    // the controller to be idle).
    std::uint64_t limit = e->clock + COMMAND_TIME_LIMIT;
    while (wd1770_busy(&e->fdc) && e->clock < limit) {
        e->clock = std::max(e->clock + POLL_TSTATES, std::min(wd1770_next_event(&e->fdc), limit));
        wd1770_advance(&e->fdc, e->clock);
    }
    if (wd1770_busy(&e->fdc))
        wd1770_write(&e->fdc, WD_REG_STATUS_COMMAND, static_cast<std::uint8_t>(WD_FORCE_INTERRUPT << 4), e->clock);
    wd1770_write(&e->fdc, WD_REG_STATUS_COMMAND, command, e->clock);
    limit = e->clock + COMMAND_TIME_LIMIT;
    bool writing = (command >> 4) == WD_WRITE_SECTOR;
    for (;;) {
        e->clock += POLL_TSTATES;
        wd1770_advance(&e->fdc, e->clock);
        if (!wd1770_busy(&e->fdc)) break;
        if (wd1770_data_request(&e->fdc)) {
            if (writing) wd1770_write(&e->fdc, WD_REG_DATA, e->ram[buffer++], e->clock);
            else e->ram[buffer++] = wd1770_read(&e->fdc, WD_REG_DATA, e->clock);
            continue;
        }
        if (e->clock >= limit) {
            wd1770_write(&e->fdc, WD_REG_STATUS_COMMAND, static_cast<std::uint8_t>(WD_FORCE_INTERRUPT << 4), e->clock);
            break;
        }
        // Nothing changes before the controller's next event: the polls
        // until then.
        std::uint64_t next = std::min(wd1770_next_event(&e->fdc), limit);
        if (next > e->clock + POLL_TSTATES) e->clock += (next - e->clock) / POLL_TSTATES * POLL_TSTATES;
    }
    return wd1770_read(&e->fdc, WD_REG_STATUS_COMMAND, e->clock);
}

void mos_restore(Einstein* e)
{
    e->restores++;
    std::uint8_t code = selected_drive_error(e);
    if (code == 0 && e->config.fail_first_restore && e->restores == 1) code = ERROR_NOT_READY;
    if (code == 0) {
        std::uint8_t status = run_command(e, static_cast<std::uint8_t>(WD_RESTORE << 4 | WD_FLAG_VERIFY | STEP_RATE), 0);
        e->ram[mos_head_track] = 0;
        if (status & WD_STATUS_SEEK_ERROR) code = ERROR_NOT_FOUND;  // no ID on track 0: unformatted
    } else {
        e->clock += 2 * FDC_REVOLUTION_TSTATES;
    }
    fail(e, code);
    scramble(e, false);
}

void mos_fdc_command(Einstein* e)
{
    std::uint8_t command = static_cast<std::uint8_t>(z80ex_get_reg(cpu_of(e), regAF) >> 8);
    e->clock += CALL_OVERHEAD / 2;
    wd1770_write(&e->fdc, WD_REG_STATUS_COMMAND, command, e->clock);
    bool busy = wd1770_busy(&e->fdc);
    e->clock += busy ? 40 : 128 * 40;  // the polls for busy
    e->clock += CALL_OVERHEAD / 2;
    set_result(e, busy ? 0x00 : 0xFF, busy);
    scramble(e, true);
}

bool listed(const std::vector<std::pair<int, int>>& list, int track, int id)
{
    for (const auto& [t, r] : list)
        if (t == track && r == id) return true;
    return false;
}

// A3h (write) and A2h (read): the sector that the workspace names, after
// seeking to its track, through the controller: a Seek when the head is
// elsewhere, then Read Sector or Write Sector, tried again as the monitor
// does.  A failed write a test arranges is charged the monitor's tries
// without reaching the disk; weak sectors and bad reads act on the data.
void mos_sector_call(Einstein* e, bool write)
{
    (write ? e->sector_writes : e->sector_reads)++;
    std::uint8_t drive = e->ram[mos_drive];
    int track = e->ram[mos_track];
    int id = e->ram[mos_sector];
    std::uint16_t buffer = static_cast<std::uint16_t>(e->ram[mos_buffer] | e->ram[mos_buffer + 1] << 8);
    int side = id >= 10 ? 1 : 0;
    std::uint8_t code = 0;

    einstein_disk_work(e, write ? DiskWork::Writing : DiskWork::Reading, track, side);
    e->clock += SECTOR_SETUP;
    einstein_select_drive(e, static_cast<std::uint8_t>(LATCH_DRIVE0 | (side ? LATCH_SIDE1 : 0)));
    if (drive != 0) code = ERROR_NO_DRIVE;
    else if (!e->disk.present) code = ERROR_NOT_READY;
    if (code != 0) e->clock += 2 * FDC_REVOLUTION_TSTATES;  // no index pulses come
    bool settle = false;
    if (code == 0 && e->ram[mos_head_track + drive] != track) {
        wd1770_write(&e->fdc, WD_REG_TRACK, e->ram[mos_head_track + drive], e->clock);
        wd1770_write(&e->fdc, WD_REG_DATA, static_cast<std::uint8_t>(track), e->clock);
        run_command(e, static_cast<std::uint8_t>(WD_SEEK << 4 | STEP_RATE), 0);
        e->ram[mos_head_track + drive] = static_cast<std::uint8_t>(track);
        settle = true;
    }
    DiskSector* sector = nullptr;
    if (code == 0 && track < e->disk.tracks && side < e->disk.sides) sector = disk_find_sector(&e->disk, track, side, id);
    if (code == 0 && write && listed(e->config.failed_writes, track, id)) {
        // An arranged failure: the monitor's tries, each as long as a search.
        code = e->config.fail_write_code;
        e->clock += static_cast<std::uint64_t>(code == ERROR_NOT_FOUND ? TRIES * 5 : 1) * FDC_REVOLUTION_TSTATES;
    } else if (code == 0) {
        // A weak spot takes its first write without keeping it.
        bool weak = write && sector != nullptr && listed(e->config.weak_sectors, track, id) &&
                    e->weak_written.insert({track, id}).second;
        DiskSector before = weak ? *sector : DiskSector{};
        bool bad_read = !write && listed(e->config.bad_reads, track, id);
        for (int t = 0; t < TRIES; ++t) {
            wd1770_write(&e->fdc, WD_REG_TRACK, static_cast<std::uint8_t>(track), e->clock);
            wd1770_write(&e->fdc, WD_REG_SECTOR, static_cast<std::uint8_t>(id), e->clock);
            std::uint8_t command = static_cast<std::uint8_t>((write ? WD_WRITE_SECTOR : WD_READ_SECTOR) << 4);
            if (settle) command |= WD_FLAG_SETTLE;
            settle = false;
            std::uint8_t status = run_command(e, command, buffer);
            if (bad_read && !(status & WD_STATUS_RECORD_NOT_FOUND)) {
                for (int i = 0; i < 512; ++i) e->ram[static_cast<std::uint16_t>(buffer + i)] ^= 0x55;
                status |= WD_STATUS_CRC_ERROR;
            }
            if (status & WD_STATUS_WRITE_PROTECT) code = ERROR_WRITE_PROTECTED;
            else if (status & WD_STATUS_RECORD_NOT_FOUND) code = ERROR_NOT_FOUND;
            else if (status & (WD_STATUS_CRC_ERROR | WD_STATUS_LOST_DATA)) code = ERROR_BAD_DATA;  // what was read is in the buffer all the same
            else code = 0;
            if (code == 0 || code == ERROR_WRITE_PROTECTED) break;
        }
        if (weak && code == 0) *sector = before;
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
        e->clock += PRINT_PER_CHARACTER;
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
