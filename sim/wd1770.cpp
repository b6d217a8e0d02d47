#include "sim/wd1770.h"

#include <algorithm>
#include <cstdlib>

#include "image/dsk_codec.h"

void wd1770_init(Wd1770* fdc)
{
    *fdc = Wd1770{};
    fdc->type1_status = true;
    fdc->faults = {-1, -1, -1, -1};
}

void wd1770_select(Wd1770* fdc, FloppyDisk* disk, int side)
{
    fdc->drive = disk;
    fdc->side = side;
}

bool wd1770_busy(const Wd1770* fdc)
{
    return fdc->phase != FdcPhase::Idle;
}

static bool drive_ready(const Wd1770* fdc)
{
    return fdc->drive != nullptr && fdc->drive->present;
}

static std::uint64_t next_index_after(std::uint64_t t)
{
    return (t / FDC_REVOLUTION_TSTATES + 1) * FDC_REVOLUTION_TSTATES;
}

// The motor and its spin-up: with the spin-up sequence enabled and the
// motor off, a command waits six index pulses.  Returns when it may start.
static std::uint64_t start_motor(Wd1770* fdc, std::uint64_t now, bool spin_up)
{
    std::uint64_t start = now;
    if (!fdc->motor_on || now >= fdc->motor_off_at) {
        fdc->motor_on = true;
        std::uint64_t done = now;
        if (spin_up) done = next_index_after(now) + (FDC_SPINUP_REVOLUTIONS - 1) * FDC_REVOLUTION_TSTATES;
        fdc->spin_up_done = done;
        start = done;
    }
    fdc->motor_off_at = UINT64_MAX;
    return start;
}

static void end_command(Wd1770* fdc, std::uint64_t now)
{
    fdc->phase = FdcPhase::Idle;
    fdc->drq = false;
    fdc->motor_off_at = now + 9 * FDC_REVOLUTION_TSTATES;
}

static void put_disc_byte(Wd1770* fdc, std::uint8_t value, bool sync)
{
    fdc->disc_bytes.push_back(value);
    fdc->disc_sync.push_back(sync);
}

static void finish_write_track(Wd1770* fdc, std::uint64_t now)
{
    disk_decode_track(fdc->wt_disk, fdc->wt_track, fdc->wt_side, fdc->disc_bytes, fdc->disc_sync);
    fdc->figures.supplied_log.push_back(fdc->supplied);
    fdc->figures.write_tracks++;
    end_command(fdc, now);
}

// Lost Data: the CPU missed a byte time.
static void lose_data(Wd1770* fdc)
{
    fdc->figures.lost_data++;
    fdc->status |= WD_STATUS_LOST_DATA;
}

// One byte time of the Write Track: the data register goes onto the disc.
static void write_byte_time(Wd1770* fdc, std::uint64_t at)
{
    if (fdc->crc_bytes_pending > 0) {  // the second byte of an F7h
        put_disc_byte(fdc, static_cast<std::uint8_t>(fdc->crc & 0xFF), false);
        fdc->crc_bytes_pending = 0;
        return;
    }
    std::uint8_t value = 0;
    if (fdc->dr_full) {
        value = fdc->data_reg;
    } else {
        lose_data(fdc);  // the CPU missed this byte time: a zero goes down
    }
    fdc->dr_full = false;
    if (value == 0xF5) {
        // A run of F5h presets the CRC at its first byte; the A1h sync
        // bytes themselves count, as a reading controller counts them.
        static const std::uint8_t sync_byte = 0xA1;
        bool run_continues = !fdc->disc_sync.empty() && fdc->disc_sync.back();
        fdc->crc = dsk::crc16(&sync_byte, 1, run_continues ? fdc->crc : 0xFFFF);
        put_disc_byte(fdc, 0xA1, true);
    } else if (value == 0xF6) {
        put_disc_byte(fdc, 0xC2, false);
    } else if (value == 0xF7) {
        put_disc_byte(fdc, static_cast<std::uint8_t>(fdc->crc >> 8), false);
        fdc->crc_bytes_pending = 1;
    } else {
        fdc->crc = dsk::crc16(&value, 1, fdc->crc);
        put_disc_byte(fdc, value, false);
    }
    fdc->drq = true;  // the register is free for the next byte
    // After F7h the next byte is due only after both CRC bytes: measure its
    // delay from one byte time before that, like every other byte.
    fdc->drq_since = fdc->crc_bytes_pending ? at + FDC_BYTE_TSTATES : at;
}

void wd1770_advance(Wd1770* fdc, std::uint64_t now)
{
    for (;;) {
        switch (fdc->phase) {
        case FdcPhase::Idle:
            return;
        case FdcPhase::TypeI:
            if (now < fdc->phase_end) return;
            end_command(fdc, fdc->phase_end);
            return;
        case FdcPhase::WriteFirstByte:
            if (now < fdc->drq_since + 3 * FDC_BYTE_TSTATES) return;
            lose_data(fdc);
            end_command(fdc, fdc->drq_since + 3 * FDC_BYTE_TSTATES);
            return;
        case FdcPhase::WriteWaitIndex:
            if (now < fdc->next_byte_at) return;
            fdc->phase = FdcPhase::WriteTrack;
            fdc->track_end_at = fdc->next_byte_at + FDC_REVOLUTION_TSTATES;
            if (fdc->faults.end_early_track == fdc->wt_track && fdc->faults.end_early_bytes >= 0)
                fdc->track_end_at = fdc->next_byte_at + static_cast<std::uint64_t>(fdc->faults.end_early_bytes) * FDC_BYTE_TSTATES;
            break;
        case FdcPhase::WriteTrack:
            if (fdc->next_byte_at >= fdc->track_end_at && now >= fdc->track_end_at) {
                finish_write_track(fdc, fdc->track_end_at);
                return;
            }
            if (now < fdc->next_byte_at) return;
            write_byte_time(fdc, fdc->next_byte_at);
            fdc->next_byte_at += FDC_BYTE_TSTATES;
            break;
        }
    }
}

// Restore (to the track-0 sensor) or Seek (to the track in the data
// register); stepping commands are not used by TOBRIN and act as a seek to
// where they would lead.
static void start_type1(Wd1770* fdc, std::uint8_t command, std::uint64_t now)
{
    fdc->type1_status = true;
    fdc->status &= static_cast<std::uint8_t>(~(WD_STATUS_SEEK_ERROR | WD_STATUS_CRC_ERROR));
    fdc->phase = FdcPhase::TypeI;
    if (!drive_ready(fdc)) {
        // No index pulses ever come: the spin-up never ends, nor the command.
        fdc->motor_on = true;
        fdc->spin_up_done = fdc->phase_end = UINT64_MAX;
        return;
    }
    std::uint64_t start = start_motor(fdc, now, (command & WD_FLAG_NO_SPIN_UP) == 0);
    int steps;
    if ((command >> 4) == WD_RESTORE) {
        steps = fdc->head_track;
        fdc->head_track = 0;
        fdc->track_reg = 0;
    } else {
        int target = fdc->data_reg;
        steps = std::abs(target - fdc->track_reg);
        fdc->head_track = std::clamp(fdc->head_track + target - fdc->track_reg, 0, DISK_MAX_TRACKS - 1);
        fdc->track_reg = static_cast<std::uint8_t>(target);
        if (target == fdc->faults.seek_error_track) fdc->status |= WD_STATUS_SEEK_ERROR;
        if (target == fdc->faults.crc_error_track) fdc->status |= WD_STATUS_CRC_ERROR;
    }
    fdc->phase_end = start + static_cast<std::uint64_t>(steps) * FDC_STEP_TSTATES + 8 * FDC_BYTE_TSTATES;
}

static void start_write_track(Wd1770* fdc, std::uint8_t command, std::uint64_t now)
{
    fdc->type1_status = false;
    fdc->status &= static_cast<std::uint8_t>(~(WD_STATUS_LOST_DATA | WD_STATUS_WRITE_PROTECT));
    if (!drive_ready(fdc) || fdc->drive->write_protected) {
        fdc->phase = FdcPhase::Idle;
        return;
    }
    std::uint64_t start = start_motor(fdc, now, (command & WD_FLAG_NO_SPIN_UP) == 0);
    fdc->wt_disk = fdc->drive;
    fdc->wt_track = std::clamp(fdc->head_track, 0, DISK_MAX_TRACKS - 1);
    fdc->wt_side = fdc->side;
    fdc->disc_bytes.clear();
    fdc->disc_sync.clear();
    fdc->supplied.clear();
    fdc->crc = 0xFFFF;
    fdc->crc_bytes_pending = 0;
    fdc->dr_full = false;
    fdc->drq = true;
    fdc->drq_since = start;
    fdc->phase = FdcPhase::WriteFirstByte;
}

// Force Interrupt: ends the current command at once, without an interrupt.
static void force_interrupt(Wd1770* fdc, std::uint64_t now)
{
    if (fdc->phase == FdcPhase::WriteTrack)  // the track is cut where it stands
        disk_decode_track(fdc->wt_disk, fdc->wt_track, fdc->wt_side, fdc->disc_bytes, fdc->disc_sync);
    if (fdc->phase == FdcPhase::Idle) fdc->type1_status = true;
    end_command(fdc, now);
}

static void command(Wd1770* fdc, std::uint8_t value, std::uint64_t now)
{
    int which = value >> 4;
    if (which == WD_FORCE_INTERRUPT) {
        force_interrupt(fdc, now);
        return;
    }
    if (wd1770_busy(fdc)) return;  // ignored while busy
    switch (which) {
    case WD_RESTORE:
    case WD_SEEK:
    case WD_STEP:
    case WD_STEP + 1:
    case WD_STEP_IN:
    case WD_STEP_IN + 1:
    case WD_STEP_OUT:
    case WD_STEP_OUT + 1:
        start_type1(fdc, value, now);
        break;
    case WD_WRITE_TRACK:
        start_write_track(fdc, value, now);
        break;
    default:
        // Sector, address and track reads and sector writes are not used by
        // TOBRIN's program: they end at once with Record Not Found.
        fdc->type1_status = false;
        fdc->status |= WD_STATUS_RECORD_NOT_FOUND;
        break;
    }
}

// A byte for the Write Track in the data register.
static void load_data(Wd1770* fdc, std::uint8_t value, std::uint64_t now)
{
    fdc->data_reg = value;
    bool writing = fdc->phase == FdcPhase::WriteFirstByte || fdc->phase == FdcPhase::WriteTrack ||
                   fdc->phase == FdcPhase::WriteWaitIndex;
    if (!fdc->drq || !writing) return;
    std::uint64_t delay = now > fdc->drq_since ? now - fdc->drq_since : 0;
    if (fdc->phase == FdcPhase::WriteFirstByte)
        fdc->figures.worst_first_delay = std::max(fdc->figures.worst_first_delay, delay);
    else
        fdc->figures.worst_drq_delay = std::max(fdc->figures.worst_drq_delay, delay);
    fdc->drq = false;
    fdc->dr_full = true;
    fdc->supplied.push_back(value);
    if (fdc->phase == FdcPhase::WriteFirstByte) {
        fdc->phase = FdcPhase::WriteWaitIndex;
        fdc->next_byte_at = next_index_after(now);
    }
}

void wd1770_write(Wd1770* fdc, int reg, std::uint8_t value, std::uint64_t now)
{
    wd1770_advance(fdc, now);
    switch (reg & 3) {
    case WD_REG_STATUS_COMMAND: command(fdc, value, now); return;
    case WD_REG_TRACK: fdc->track_reg = value; return;
    case WD_REG_SECTOR: fdc->sector_reg = value; return;
    case WD_REG_DATA: load_data(fdc, value, now); return;
    }
}

static std::uint8_t status_register(const Wd1770* fdc, std::uint64_t now)
{
    std::uint8_t s = fdc->status & (WD_STATUS_CRC_ERROR | WD_STATUS_SEEK_ERROR | WD_STATUS_LOST_DATA);
    if (fdc->drive != nullptr && fdc->drive->present && fdc->drive->write_protected) s |= WD_STATUS_WRITE_PROTECT;
    bool motor = fdc->motor_on && now < fdc->motor_off_at;
    if (motor) s |= WD_STATUS_MOTOR_ON;
    if (wd1770_busy(fdc)) s |= WD_STATUS_BUSY;
    if (fdc->type1_status) {
        s &= static_cast<std::uint8_t>(~WD_STATUS_LOST_DATA);
        if (motor && now >= fdc->spin_up_done) s |= WD_STATUS_SPIN_UP_DONE;
        if (fdc->head_track == 0) s |= WD_STATUS_TRACK0;
        if (motor && drive_ready(fdc) && now % FDC_REVOLUTION_TSTATES < 4 * FDC_BYTE_TSTATES) s |= WD_STATUS_INDEX;
    } else if (fdc->drq && wd1770_busy(fdc)) {
        s |= WD_STATUS_DATA_REQUEST;
    }
    return s;
}

std::uint8_t wd1770_read(Wd1770* fdc, int reg, std::uint64_t now)
{
    wd1770_advance(fdc, now);
    switch (reg & 3) {
    case WD_REG_STATUS_COMMAND: return status_register(fdc, now);
    case WD_REG_TRACK: return fdc->track_reg;
    case WD_REG_SECTOR: return fdc->sector_reg;
    default: return fdc->data_reg;
    }
}

std::uint64_t wd1770_restore_now(Wd1770* fdc, std::uint64_t now)
{
    std::uint64_t start = start_motor(fdc, now, true);
    std::uint64_t steps = static_cast<std::uint64_t>(std::max(fdc->head_track, 0));
    fdc->head_track = 0;
    fdc->track_reg = 0;
    fdc->type1_status = true;
    fdc->status &= static_cast<std::uint8_t>(~(WD_STATUS_SEEK_ERROR | WD_STATUS_CRC_ERROR));
    fdc->phase = FdcPhase::Idle;
    fdc->motor_off_at = UINT64_MAX;
    return (start - now) + steps * FDC_STEP_TSTATES;
}

void wd1770_reset(Wd1770* fdc, std::uint64_t now)
{
    end_command(fdc, now);
    fdc->motor_on = false;
    fdc->type1_status = true;
    fdc->status = 0;
}
