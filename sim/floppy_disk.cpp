#include "sim/floppy_disk.h"

#include <cstdio>
#include <memory>

#include "image/dsk_codec.h"
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
        std::uint16_t crc = dsk::crc16(&bytes[i], 8);
        s.id_crc_ok = bytes[i + 8] == (crc >> 8) && bytes[i + 9] == (crc & 0xFF);
        // The data field follows within the gap a controller allows (43 bytes).
        std::size_t size = 128u << (s.n & 3);
        for (std::size_t j = i + 10; j < i + 10 + 43 && j + 4 + size + 2 <= bytes.size(); ++j) {
            if (!address_mark_at(bytes, sync, j, 0xFB)) continue;
            s.data_offset = static_cast<int>(j + 4);
            s.data.assign(bytes.begin() + static_cast<long>(j + 4), bytes.begin() + static_cast<long>(j + 4 + size));
            std::uint16_t dcrc = dsk::crc16(&bytes[j], 4 + size);
            s.data_crc_ok = bytes[j + 4 + size] == (dcrc >> 8) && bytes[j + 5 + size] == (dcrc & 0xFF);
            break;
        }
        t.sectors.push_back(std::move(s));
        i += 9;
    }
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

bool disk_save_dsk(const FloppyDisk* disk, const std::string& path)
{
    dsk::Disk image{true, disk->tracks, disk->sides, {}};
    for (int t = 0; t < disk->tracks; ++t)
        for (int s = 0; s < disk->sides; ++s) {
            const DiskTrackSide& side = disk->track[t][s];
            dsk::Track record{};
            record.present = side.formatted;
            record.size_code = dsk::SIZE_CODE_512;
            record.gap3 = dsk::GAP3_LENGTH;
            record.filler = 0xE5;
            for (const DiskSector& sec : side.sectors) {
                if (sec.data.empty()) continue;  // an ID without a data field stores nothing
                std::uint8_t status1 = sec.data_crc_ok ? 0 : dsk::STATUS1_DATA_ERROR;
                std::uint8_t status2 = sec.data_crc_ok ? 0 : dsk::STATUS2_DATA_ERROR_IN_DATA;
                record.sectors.push_back({sec.c, sec.h, sec.r, sec.n, status1, status2, sec.data});
            }
            image.records.push_back(std::move(record));
        }
    std::vector<std::uint8_t> bytes = dsk::encode(image, "EINSTEIN-SIM");
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "wb"));
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size();
    return std::fclose(f.release()) == 0 && ok;
}

bool disk_load_dsk(FloppyDisk* disk, const std::string& path)
{
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
    if (!f) return false;
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[65536];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f.get())) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
    dsk::Disk image;
    if (dsk::decode(bytes.data(), bytes.size(), &image) != dsk::DECODED) return false;
    for (std::size_t r = 0; r < image.records.size(); ++r) {
        const dsk::Track& record = image.records[r];
        int track = static_cast<int>(r) / image.sides, side = static_cast<int>(r) % image.sides;
        if (!record.present || track >= DISK_MAX_TRACKS) continue;
        DiskTrackSide& t = disk->track[track][side];
        t.formatted = true;
        t.sectors.clear();
        int at = 47;  // the first ID address mark, as the program's format lays it
        for (const dsk::Sector& s : record.sectors) {
            DiskSector sector{};
            sector.c = s.c;
            sector.h = s.h;
            sector.r = s.r;
            sector.n = s.n;
            sector.id_offset = at;
            sector.data_offset = at + 45;    // the ID field, the gap, the sync bytes and the data mark
            at += 106 + static_cast<int>(s.data.size());  // the next one, after this one's data and gap
            sector.id_crc_ok = true;
            sector.data_crc_ok = (s.status2 & dsk::STATUS2_DATA_ERROR_IN_DATA) == 0;
            sector.data = s.data;
            t.sectors.push_back(std::move(sector));
        }
    }
    return true;
}
