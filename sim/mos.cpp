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
//        4 not ready; returns with interrupts on
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
constexpr std::uint64_t HEAD_SETTLE = 60000;   // 15 ms after a seek

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

void mos_restore(Einstein* e)
{
    e->restores++;
    std::uint8_t code = selected_drive_error(e);
    if (code == 0 && e->config.fail_first_restore && e->restores == 1) code = ERROR_NOT_READY;
    if (code == 0) {
        e->clock += wd1770_restore_now(&e->fdc, e->clock);
        e->ram[mos_head_track] = 0;
        int side = (e->drive_latch & LATCH_SIDE1) ? 1 : 0;
        if (e->disk.track[0][side].sectors.empty()) {
            // The verify finds no ID field within five revolutions.
            e->clock += 5 * FDC_REVOLUTION_TSTATES;
            e->fdc.status |= WD_STATUS_SEEK_ERROR;
            code = ERROR_NOT_FOUND;
        } else {
            e->clock += FDC_REVOLUTION_TSTATES / 2;
        }
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
// seeking to its track, then its data field in the buffer or from it.
void mos_sector_call(Einstein* e, bool write)
{
    int call = write ? e->sector_writes++ : e->sector_reads++;
    std::uint8_t drive = e->ram[mos_drive];
    int track = e->ram[mos_track];
    int id = e->ram[mos_sector];
    std::uint16_t buffer = static_cast<std::uint16_t>(e->ram[mos_buffer] | e->ram[mos_buffer + 1] << 8);
    int side = id >= 10 ? 1 : 0;
    std::uint8_t code = 0;

    einstein_select_drive(e, static_cast<std::uint8_t>(LATCH_DRIVE0 | (side ? LATCH_SIDE1 : 0)));
    if (drive != 0) code = ERROR_NO_DRIVE;
    else if (!e->disk.present) code = ERROR_NOT_READY;
    else if (write && e->disk.write_protected) code = ERROR_WRITE_PROTECTED;
    if (code == 0) {
        // Seek as needed from where the head was left.
        int from = e->ram[mos_head_track + drive];
        if (from != track) e->clock += static_cast<std::uint64_t>(std::abs(track - from)) * FDC_STEP_TSTATES + HEAD_SETTLE;
        e->ram[mos_head_track + drive] = static_cast<std::uint8_t>(track);
        e->fdc.head_track = std::min(track, DISK_MAX_TRACKS - 1);
        e->fdc.track_reg = static_cast<std::uint8_t>(track);
        DiskSector* sector = nullptr;
        if (track < e->disk.tracks && side < e->disk.sides) sector = disk_find_sector(&e->disk, track, side, id);
        bool bad_read = !write && sector != nullptr && listed(e->config.bad_reads, track, id);
        if (sector == nullptr || (write && call == e->config.fail_write_call)) {
            code = sector == nullptr ? ERROR_NOT_FOUND : e->config.fail_write_code;
            e->clock += 5 * FDC_REVOLUTION_TSTATES;  // the tries the monitor makes
        } else {
            // Wait for the sector's ID to come round, then its data field.
            std::uint64_t at = static_cast<std::uint64_t>(sector->id_offset) * FDC_BYTE_TSTATES;
            std::uint64_t angle = e->clock % FDC_REVOLUTION_TSTATES;
            e->clock += (at >= angle ? at - angle : FDC_REVOLUTION_TSTATES - angle + at);
            e->clock += (7 + 22 + 16 + sector->data.size() + 2) * FDC_BYTE_TSTATES;
            std::size_t n = std::min<std::size_t>(sector->data.size(), 512);
            if (write) {
                // A weak spot takes its first write without keeping it.
                bool weak = listed(e->config.weak_sectors, track, id) && e->weak_written.insert({track, id}).second;
                if (!weak) {
                    std::memcpy(sector->data.data(), &e->ram[buffer], n);
                    sector->data_crc_ok = true;
                }
            } else {
                for (std::size_t i = 0; i < n; ++i)
                    e->ram[static_cast<std::uint16_t>(buffer + i)] = bad_read ? static_cast<std::uint8_t>(sector->data[i] ^ 0x55) : sector->data[i];
                if (bad_read || !sector->data_crc_ok) {
                    code = ERROR_BAD_DATA;  // what was read is in the buffer all the same
                    e->clock += 9 * FDC_REVOLUTION_TSTATES;  // the monitor's other tries
                }
            }
        }
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
