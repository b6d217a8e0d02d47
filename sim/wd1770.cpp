#include "sim/wd1770.h"

#include <algorithm>
#include <cstdlib>

#include "image/dsk_codec.h"

void wd1770_init(Wd1770* fdc)
{
    *fdc = Wd1770{};
    fdc->type1_status = true;
    fdc->figures.first_write_track = UINT64_MAX;
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

bool wd1770_data_command(const Wd1770* fdc)
{
    return fdc->phase != FdcPhase::Idle && fdc->phase != FdcPhase::TypeI;
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

// Whether (track, id) is among the spots a fault names.
static bool listed(const std::vector<std::pair<int, int>>& spots, int track, int id)
{
    for (const auto& [t, r] : spots)
        if (t == track && r == id) return true;
    return false;
}

static void finish_write_track(Wd1770* fdc, std::uint64_t now)
{
    disk_decode_track(fdc->wt_disk, fdc->wt_track, fdc->wt_side, fdc->disc_bytes, fdc->disc_sync);
    // A damaged spot keeps no data that a Write Track lays down on it either.
    for (DiskSector& s : fdc->wt_disk->track[fdc->wt_track][fdc->wt_side].sectors)
        if (listed(fdc->faults.unwritable, fdc->wt_track, s.r)) s.data_crc_ok = false;
    fdc->figures.supplied_log.push_back(fdc->supplied);
    fdc->figures.write_tracks++;
    fdc->figures.last_write_track_end = now;
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

// The fifth index pulse after `from`: where an ID search gives up.
static std::uint64_t search_deadline(std::uint64_t from)
{
    return next_index_after(from) + (FDC_SEARCH_INDEX_PULSES - 1) * FDC_REVOLUTION_TSTATES;
}

// Which ID fields a search takes: any (Read Address), those of the track
// register's track with a good CRC (a verify), or those that also carry the
// sector register's ID (Read Sector, Write Sector).
enum class IdMatch { Any, Track, Sector };

// The first ID field that the search takes whose sync bytes reach the head
// after `from`, and before the search gives up.  Returns when its last
// byte has passed, or UINT64_MAX; the sector goes to *found.

static std::uint64_t find_id(const Wd1770* fdc, std::uint64_t from, IdMatch match, DiskSector** found)
{
    if (!drive_ready(fdc) || fdc->side >= fdc->drive->sides || fdc->head_track >= fdc->drive->tracks) return UINT64_MAX;
    DiskTrackSide& t = fdc->drive->track[fdc->head_track][fdc->side];
    std::uint64_t best = UINT64_MAX;
    std::uint64_t angle = from % FDC_REVOLUTION_TSTATES;
    for (DiskSector& sector : t.sectors) {
        if (match != IdMatch::Any && (!sector.id_crc_ok || sector.c != fdc->track_reg)) continue;
        if (match == IdMatch::Sector && sector.r != fdc->sector_reg) continue;
        if (match == IdMatch::Sector && fdc->writing_sector && listed(fdc->faults.unwritable, fdc->head_track, sector.r))
            continue;
        // The controller must be searching when the field's sync bytes come.
        std::uint64_t sync = static_cast<std::uint64_t>(std::max(sector.id_offset - 3, 0)) * FDC_BYTE_TSTATES;
        std::uint64_t wait = sync >= angle ? sync - angle : FDC_REVOLUTION_TSTATES - angle + sync;
        std::uint64_t end = from + wait + 10 * FDC_BYTE_TSTATES;  // three A1h, the mark, C H R N, the CRC
        if (end < best) {
            best = end;
            if (found) *found = &sector;
        }
    }
    return best <= search_deadline(from) ? best : UINT64_MAX;
}

// The ID field has passed (or the search gave up at `at`).
static void sector_found(Wd1770* fdc, std::uint64_t at)
{
    DiskSector* s = fdc->found;
    if (s == nullptr) {
        fdc->status |= WD_STATUS_RECORD_NOT_FOUND;
        end_command(fdc, at);
        return;
    }
    // Where the data field's first byte passes: as far from the ID field's
    // end as the track lays it.
    std::uint64_t data_at = at + static_cast<std::uint64_t>(s->data_offset - s->id_offset - 7) * FDC_BYTE_TSTATES;
    if (s->data.empty()) {  // an ID without data: the data mark is never found
        fdc->status |= WD_STATUS_RECORD_NOT_FOUND;
        end_command(fdc, search_deadline(at));
        return;
    }
    if (fdc->writing_sector) {
        fdc->phase = FdcPhase::SectorWriteFirst;
        fdc->drq = true;
        fdc->drq_since = at + 2 * FDC_BYTE_TSTATES;
        fdc->phase_end = at + 22 * FDC_BYTE_TSTATES;  // the first byte must be in by then
        fdc->next_byte_at = data_at;
    } else {
        fdc->phase = FdcPhase::SectorRead;
        fdc->next_byte_at = data_at + FDC_BYTE_TSTATES;  // the first byte is whole
    }
}

// One byte time of the data field being read: the byte is in the data
// register; the one before it, still unread, is lost.
static void read_byte_time(Wd1770* fdc, std::uint64_t at)
{
    DiskSector* s = fdc->found;
    bool damaged = listed(fdc->faults.bad_data, fdc->head_track, s->r);
    if (fdc->byte_index < s->data.size()) {
        if (fdc->drq) lose_data(fdc);
        fdc->data_reg = static_cast<std::uint8_t>(s->data[fdc->byte_index++] ^ (damaged ? 0x55 : 0x00));
        fdc->drq = true;
        fdc->drq_since = at;
        return;
    }
    // The two CRC bytes have passed.
    if (!s->data_crc_ok || damaged) fdc->status |= WD_STATUS_CRC_ERROR;
    end_command(fdc, at + FDC_BYTE_TSTATES);
}

// The bytes written so far go onto the sector: all of them and a good CRC
// when the field is complete, else a field whose CRC is wrong.
static void keep_sector_data(Wd1770* fdc)
{
    DiskSector* s = fdc->found;
    if (listed(fdc->faults.weak, fdc->head_track, s->r) && fdc->faults.weak_written.insert({fdc->head_track, s->r}).second)
        return;  // a weak spot: its first write is not kept
    std::size_t n = std::min(fdc->sector_data.size(), s->data.size());
    std::copy(fdc->sector_data.begin(), fdc->sector_data.begin() + static_cast<long>(n), s->data.begin());
    s->data_crc_ok = n == s->data.size();
}

// One byte time of the data field being written.
static void write_sector_byte_time(Wd1770* fdc, std::uint64_t at)
{
    std::uint8_t value = 0;
    if (fdc->dr_full) value = fdc->data_reg;
    else lose_data(fdc);
    fdc->dr_full = false;
    fdc->sector_data.push_back(value);
    if (fdc->sector_data.size() < fdc->found->data.size()) {
        fdc->drq = true;
        fdc->drq_since = at;
        return;
    }
    keep_sector_data(fdc);
    end_command(fdc, at + 3 * FDC_BYTE_TSTATES);  // the CRC and one gap byte
}

// Read Address: the next ID field that passes, whatever its IDs, is read
// out byte by byte (C, H, R, N and its two CRC bytes) as it passes.
static void start_read_address(Wd1770* fdc, std::uint8_t command, std::uint64_t now)
{
    fdc->type1_status = false;
    fdc->status &= static_cast<std::uint8_t>(
        ~(WD_STATUS_LOST_DATA | WD_STATUS_CRC_ERROR | WD_STATUS_RECORD_NOT_FOUND | WD_STATUS_WRITE_PROTECT));
    fdc->found = nullptr;
    fdc->drq = false;
    fdc->byte_index = 0;
    fdc->phase = FdcPhase::AddressSearch;
    if (!drive_ready(fdc)) {  // no index pulses: the search never ends
        fdc->phase_end = UINT64_MAX;
        return;
    }
    std::uint64_t start = start_motor(fdc, now, (command & WD_FLAG_NO_SPIN_UP) == 0);
    if (command & WD_FLAG_SETTLE) start += FDC_SETTLE_TSTATES;
    std::uint64_t id_end = find_id(fdc, start, IdMatch::Any, &fdc->found);
    if (id_end == UINT64_MAX) {
        fdc->found = nullptr;
        fdc->phase_end = search_deadline(start);
    } else {
        fdc->phase_end = id_end - 6 * FDC_BYTE_TSTATES;  // the address mark has passed
    }
}

// One byte time of the ID field being read out by Read Address.
static void address_byte_time(Wd1770* fdc, std::uint64_t at)
{
    const DiskSector* s = fdc->found;
    const std::uint8_t id[4] = {s->c, s->h, s->r, s->n};
    if (fdc->drq) fdc->status |= WD_STATUS_LOST_DATA;  // (no sector's data: not in the figures)
    if (fdc->byte_index < 4) {
        fdc->data_reg = id[fdc->byte_index];
    } else {
        std::uint8_t field[8] = {0xA1, 0xA1, 0xA1, 0xFE, s->c, s->h, s->r, s->n};
        std::uint16_t crc = dsk::crc16(field, sizeof field);
        if (!s->id_crc_ok) crc = static_cast<std::uint16_t>(~crc);
        fdc->data_reg = static_cast<std::uint8_t>(fdc->byte_index == 4 ? crc >> 8 : crc & 0xFF);
    }
    fdc->drq = true;
    fdc->drq_since = at;
    if (++fdc->byte_index < 6) return;
    fdc->sector_reg = s->c;  // the track address goes to the sector register
    if (!s->id_crc_ok) fdc->status |= WD_STATUS_CRC_ERROR;
    end_command(fdc, at + FDC_BYTE_TSTATES);
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
        case FdcPhase::SectorSearch:
            if (now < fdc->phase_end) return;
            sector_found(fdc, fdc->phase_end);
            break;
        case FdcPhase::AddressSearch:
            if (now < fdc->phase_end) return;
            if (fdc->found == nullptr) {
                fdc->status |= WD_STATUS_RECORD_NOT_FOUND;
                end_command(fdc, fdc->phase_end);
                return;
            }
            fdc->phase = FdcPhase::AddressRead;
            fdc->next_byte_at = fdc->phase_end + FDC_BYTE_TSTATES;  // the first byte is whole
            break;
        case FdcPhase::AddressRead:
            if (now < fdc->next_byte_at) return;
            address_byte_time(fdc, fdc->next_byte_at);
            fdc->next_byte_at += FDC_BYTE_TSTATES;
            break;
        case FdcPhase::SectorRead:
            if (now < fdc->next_byte_at) return;
            read_byte_time(fdc, fdc->next_byte_at);
            fdc->next_byte_at += FDC_BYTE_TSTATES;
            break;
        case FdcPhase::SectorWriteFirst:
            if (now < fdc->phase_end) return;
            lose_data(fdc);  // the first byte never came: nothing is written
            end_command(fdc, fdc->phase_end);
            return;
        case FdcPhase::SectorWrite:
            if (now < fdc->next_byte_at) return;
            write_sector_byte_time(fdc, fdc->next_byte_at);
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
    std::uint64_t step_time = FDC_STEP_TSTATES[command & WD_STEP_RATE_MASK];
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
    fdc->phase_end = start + static_cast<std::uint64_t>(steps) * step_time + 8 * FDC_BYTE_TSTATES;
    if (command & WD_FLAG_VERIFY) {
        // An ID field of the track reached, after the head has settled.
        std::uint64_t from = fdc->phase_end + FDC_SETTLE_TSTATES;
        std::uint64_t id_end = find_id(fdc, from, IdMatch::Track, nullptr);
        if (id_end == UINT64_MAX) {
            fdc->status |= WD_STATUS_SEEK_ERROR;
            id_end = search_deadline(from);
        }
        fdc->phase_end = id_end;
    }
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
    fdc->figures.first_write_track = std::min(fdc->figures.first_write_track, now);
}

// Read Sector or Write Sector: the search for the sector's ID field.
static void start_sector_command(Wd1770* fdc, std::uint8_t command, std::uint64_t now)
{
    fdc->type1_status = false;
    fdc->status &= static_cast<std::uint8_t>(
        ~(WD_STATUS_LOST_DATA | WD_STATUS_CRC_ERROR | WD_STATUS_RECORD_NOT_FOUND | WD_STATUS_WRITE_PROTECT));
    fdc->writing_sector = (command >> 4) >= WD_WRITE_SECTOR;
    fdc->found = nullptr;
    fdc->drq = false;
    fdc->dr_full = false;
    fdc->byte_index = 0;
    fdc->sector_data.clear();
    fdc->figures.sector_commands++;
    fdc->phase = FdcPhase::SectorSearch;
    if (!drive_ready(fdc)) {  // no index pulses: the search never ends
        fdc->phase_end = UINT64_MAX;
        return;
    }
    if (fdc->writing_sector && fdc->drive->write_protected) {
        fdc->status |= WD_STATUS_WRITE_PROTECT;
        end_command(fdc, now);
        return;
    }
    std::uint64_t start = start_motor(fdc, now, (command & WD_FLAG_NO_SPIN_UP) == 0);
    if (command & WD_FLAG_SETTLE) start += FDC_SETTLE_TSTATES;
    std::uint64_t id_end = find_id(fdc, start, IdMatch::Sector, &fdc->found);
    if (id_end == UINT64_MAX) {
        fdc->found = nullptr;
        fdc->phase_end = search_deadline(start);
    } else {
        fdc->phase_end = id_end;
        if (id_end - now > FDC_SLOT_TSTATES * 3 / 2) fdc->figures.turns_waited++;
    }
}

// Force Interrupt: ends the current command at once, without an interrupt.
static void force_interrupt(Wd1770* fdc, std::uint64_t now)
{
    if (fdc->phase == FdcPhase::WriteTrack)  // the track is cut where it stands
        disk_decode_track(fdc->wt_disk, fdc->wt_track, fdc->wt_side, fdc->disc_bytes, fdc->disc_sync);
    if (fdc->phase == FdcPhase::SectorWrite) keep_sector_data(fdc);  // a data field cut short
    if (fdc->phase == FdcPhase::Idle) fdc->type1_status = true;
    end_command(fdc, now);
}

static void command(Wd1770* fdc, std::uint8_t value, std::uint64_t now)
{
    if (fdc->figures.commands.size() < COMMAND_LOG_SIZE) fdc->figures.commands.emplace_back(now, value);
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
    case WD_READ_SECTOR:
    case WD_READ_SECTOR + 1:
    case WD_WRITE_SECTOR:
    case WD_WRITE_SECTOR + 1:
        start_sector_command(fdc, value, now);
        break;
    case WD_READ_ADDRESS:
        start_read_address(fdc, value, now);
        break;
    default:
        // Read Track is not used by TOBRIN's program: it ends at once with
        // Record Not Found.
        fdc->type1_status = false;
        fdc->status |= WD_STATUS_RECORD_NOT_FOUND;
        break;
    }
}

// A byte for the Write Track in the data register.
static void load_data(Wd1770* fdc, std::uint8_t value, std::uint64_t now)
{
    fdc->data_reg = value;
    if (fdc->phase == FdcPhase::SectorWriteFirst || fdc->phase == FdcPhase::SectorWrite) {
        if (!fdc->drq) return;
        fdc->drq = false;
        fdc->dr_full = true;
        if (fdc->phase == FdcPhase::SectorWriteFirst) fdc->phase = FdcPhase::SectorWrite;
        return;
    }
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
    default:
        if (fdc->phase == FdcPhase::SectorRead || fdc->phase == FdcPhase::AddressRead) fdc->drq = false;  // the byte is taken
        return fdc->data_reg;
    }
}

bool wd1770_data_request(const Wd1770* fdc)
{
    return fdc->drq && wd1770_busy(fdc);
}

std::uint64_t wd1770_next_event(const Wd1770* fdc)
{
    switch (fdc->phase) {
    case FdcPhase::Idle: return UINT64_MAX;
    case FdcPhase::TypeI:
    case FdcPhase::SectorSearch:
    case FdcPhase::AddressSearch:
    case FdcPhase::SectorWriteFirst: return fdc->phase_end;
    case FdcPhase::WriteFirstByte: return fdc->drq_since + 3 * FDC_BYTE_TSTATES;
    default: return fdc->next_byte_at;
    }
}

void wd1770_reset(Wd1770* fdc, std::uint64_t now)
{
    end_command(fdc, now);
    fdc->motor_on = false;
    fdc->type1_status = true;
    fdc->status = 0;
}
