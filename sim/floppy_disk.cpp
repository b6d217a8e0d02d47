#include "sim/floppy_disk.h"

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <memory>

#include "image/dsk_layout.h"

void disk_init(FloppyDisk* disk, int tracks, int sides)
{
    disk->present = true;
    disk->write_protected = false;
    disk->tracks = tracks;
    disk->sides = sides;
    for (auto& t : disk->track)
        for (auto& s : t) s = DiskTrackSide{};
}

std::uint16_t disk_crc16(const std::uint8_t* bytes, std::size_t count, std::uint16_t crc)
{
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= static_cast<std::uint16_t>(bytes[i] << 8);
        for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021) : static_cast<std::uint16_t>(crc << 1);
    }
    return crc;
}

DiskSector* disk_find_sector(FloppyDisk* disk, int track, int side, int r)
{
    if (track < 0 || track >= DISK_MAX_TRACKS || side < 0 || side > 1) return nullptr;
    for (auto& s : disk->track[track][side].sectors)
        if (s.r == r && s.c == track && !s.data.empty()) return &s;
    return nullptr;
}

// Three sync bytes and a mark at i: A1h A1h A1h (written by F5h) then `mark`.
static bool address_mark_at(const std::vector<std::uint8_t>& b, const std::vector<bool>& sync, std::size_t i,
                            std::uint8_t mark)
{
    return i + 3 < b.size() && sync[i] && sync[i + 1] && sync[i + 2] && b[i] == 0xA1 && b[i + 1] == 0xA1 &&
           b[i + 2] == 0xA1 && b[i + 3] == mark;
}

void disk_decode_track(FloppyDisk* disk, int track, int side, const std::vector<std::uint8_t>& bytes,
                       const std::vector<bool>& sync)
{
    DiskTrackSide& t = disk->track[track][side];
    t.formatted = true;
    t.raw = bytes;
    t.sectors.clear();
    for (std::size_t i = 0; i + 10 < bytes.size(); ++i) {
        if (!address_mark_at(bytes, sync, i, 0xFE)) continue;
        DiskSector s{};
        s.c = bytes[i + 4];
        s.h = bytes[i + 5];
        s.r = bytes[i + 6];
        s.n = bytes[i + 7];
        s.id_offset = static_cast<int>(i + 3);
        std::uint16_t crc = disk_crc16(&bytes[i], 8);
        s.id_crc_ok = bytes[i + 8] == (crc >> 8) && bytes[i + 9] == (crc & 0xFF);
        // The data field follows within the gap a controller allows (43 bytes).
        std::size_t size = 128u << (s.n & 3);
        for (std::size_t j = i + 10; j < i + 10 + 43 && j + 4 + size + 2 <= bytes.size(); ++j) {
            if (!address_mark_at(bytes, sync, j, 0xFB)) continue;
            s.data.assign(bytes.begin() + static_cast<long>(j + 4), bytes.begin() + static_cast<long>(j + 4 + size));
            std::uint16_t dcrc = disk_crc16(&bytes[j], 4 + size);
            s.data_crc_ok = bytes[j + 4 + size] == (dcrc >> 8) && bytes[j + 5 + size] == (dcrc & 0xFF);
            break;
        }
        t.sectors.push_back(std::move(s));
        i += 9;
    }
}

bool disk_save_dsk(const FloppyDisk* disk, const std::string& path)
{
    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "wb"));
    if (!f) return false;
    std::uint8_t info[dsk::INFO_BLOCK_SIZE] = {};
    dsk::put_disc_info(info, "EINSTEIN-SIM", disk->tracks, disk->sides);
    std::vector<std::vector<std::uint8_t>> records;
    for (int t = 0; t < disk->tracks; ++t)
        for (int s = 0; s < disk->sides; ++s) {
            const DiskTrackSide& side = disk->track[t][s];
            std::vector<std::uint8_t> record;
            if (side.formatted) {
                record.assign(dsk::INFO_BLOCK_SIZE, 0);
                std::memcpy(record.data(), dsk::TRACK_SIGNATURE, dsk::TRACK_SIGNATURE_LENGTH);
                record[dsk::TRACK_NUMBER] = static_cast<std::uint8_t>(t);
                record[dsk::TRACK_SIDE] = static_cast<std::uint8_t>(s);
                record[dsk::TRACK_SIZE_CODE] = dsk::SIZE_CODE_512;
                int count = 0;
                for (const auto& sec : side.sectors) {
                    if (sec.data.empty() || count == dsk::MAX_SECTOR_ROWS) continue;
                    std::uint8_t* row = record.data() + dsk::TRACK_SECTOR_LIST + dsk::SECTOR_ROW_SIZE * count++;
                    row[dsk::ROW_TRACK] = sec.c;
                    row[dsk::ROW_SIDE] = sec.h;
                    row[dsk::ROW_ID] = sec.r;
                    row[dsk::ROW_SIZE_CODE] = sec.n;
                    if (!sec.data_crc_ok) {
                        row[dsk::ROW_FDC_STATUS1] = dsk::STATUS1_DATA_ERROR;
                        row[dsk::ROW_FDC_STATUS2] = dsk::STATUS2_DATA_ERROR_IN_DATA;
                    }
                    row[dsk::ROW_DATA_LENGTH] = static_cast<std::uint8_t>(sec.data.size() & 0xFF);
                    row[dsk::ROW_DATA_LENGTH + 1] = static_cast<std::uint8_t>(sec.data.size() >> 8);
                }
                record[dsk::TRACK_SECTOR_COUNT] = static_cast<std::uint8_t>(count);
                record[dsk::TRACK_GAP3] = dsk::GAP3_LENGTH;
                record[dsk::TRACK_FILLER] = 0xE5;
                int written = 0;
                for (const auto& sec : side.sectors) {
                    if (sec.data.empty() || written++ == dsk::MAX_SECTOR_ROWS) continue;
                    record.insert(record.end(), sec.data.begin(), sec.data.end());
                }
                record.resize((record.size() + dsk::RECORD_UNIT - 1) / dsk::RECORD_UNIT * dsk::RECORD_UNIT, 0);
            }
            info[dsk::DISC_TRACK_SIZES + records.size()] = static_cast<std::uint8_t>(record.size() / dsk::RECORD_UNIT);
            records.push_back(std::move(record));
        }
    bool ok = std::fwrite(info, 1, sizeof info, f.get()) == sizeof info;
    for (const auto& r : records) ok = ok && std::fwrite(r.data(), 1, r.size(), f.get()) == r.size();
    return std::fclose(f.release()) == 0 && ok;
}

bool disk_load_dsk(FloppyDisk* disk, const std::string& path)
{
    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
    if (!f) return false;
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[65536];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f.get())) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
    if (bytes.size() < dsk::INFO_BLOCK_SIZE ||
        std::memcmp(bytes.data(), dsk::DISC_SIGNATURE, dsk::DISC_SIGNATURE_LENGTH) != 0)
        return false;
    int tracks = bytes[dsk::DISC_TRACKS], sides = bytes[dsk::DISC_SIDES];
    std::size_t at = dsk::INFO_BLOCK_SIZE;
    for (int r = 0; r < tracks * sides && r < dsk::DISC_TRACK_SIZE_ENTRIES; ++r) {
        std::size_t size = static_cast<std::size_t>(bytes[dsk::DISC_TRACK_SIZES + r]) * dsk::RECORD_UNIT;
        if (size == 0) continue;
        if (at + size > bytes.size()) return false;
        const std::uint8_t* info = &bytes[at];
        int track = r / sides, side = r % sides;
        if (track < DISK_MAX_TRACKS && side < 2) {
            DiskTrackSide& t = disk->track[track][side];
            t.formatted = true;
            t.sectors.clear();
            std::size_t data = at + dsk::INFO_BLOCK_SIZE;
            int count = std::min<int>(info[dsk::TRACK_SECTOR_COUNT], dsk::MAX_SECTOR_ROWS);
            for (int k = 0; k < count; ++k) {
                const std::uint8_t* row = info + dsk::TRACK_SECTOR_LIST + dsk::SECTOR_ROW_SIZE * k;
                std::size_t length = static_cast<std::size_t>(row[dsk::ROW_DATA_LENGTH] | row[dsk::ROW_DATA_LENGTH + 1] << 8);
                if (data + length > at + size) break;
                DiskSector sector{};
                sector.c = row[dsk::ROW_TRACK];
                sector.h = row[dsk::ROW_SIDE];
                sector.r = row[dsk::ROW_ID];
                sector.n = row[dsk::ROW_SIZE_CODE];
                sector.id_offset = 32 + k * 614;  // where a format puts the k-th ID field
                sector.id_crc_ok = true;
                sector.data_crc_ok = (row[dsk::ROW_FDC_STATUS2] & dsk::STATUS2_DATA_ERROR_IN_DATA) == 0;
                sector.data.assign(bytes.begin() + static_cast<long>(data), bytes.begin() + static_cast<long>(data + length));
                t.sectors.push_back(std::move(sector));
                data += length;
            }
        }
        at += size;
    }
    return true;
}
