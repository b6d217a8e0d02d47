// dsk_writer.cpp - a disk read from the Einstein as an extended DSK image.
#include "image/dsk_writer.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "report/halt_report.h"

// The monitor's error codes, and the controller status bits that say the
// same in a sector row.
static void failure_status(std::uint8_t code, std::uint8_t* status1, std::uint8_t* status2)
{
    constexpr std::uint8_t BAD_DATA = 1, NOT_FOUND = 3;
    *status1 = *status2 = 0;
    if (code == 0) return;
    if (code == BAD_DATA) {
        *status1 = dsk::STATUS1_DATA_ERROR;
        *status2 = dsk::STATUS2_DATA_ERROR_IN_DATA;
    } else if (code == NOT_FOUND) {
        *status1 = dsk::STATUS1_NO_DATA;
    } else {
        *status1 = dsk::STATUS1_NO_DATA | dsk::STATUS1_MISSING_ADDRESS_MARK;  // not ready, no drive: nothing came
    }
}

std::vector<std::uint8_t> dsk_image_of(const DiskRead& disk)
{
    int records = disk.tracks * disk.sides;
    std::vector<std::uint8_t> image(static_cast<std::size_t>(dsk::INFO_BLOCK_SIZE + records * dsk::RECORD_SIZE), 0);
    dsk::put_disc_info(image.data(), "TOBRIN", disk.tracks, disk.sides);
    for (int r = 0; r < records && r < dsk::DISC_TRACK_SIZE_ENTRIES; ++r)
        image[static_cast<std::size_t>(dsk::DISC_TRACK_SIZES + r)] = dsk::RECORD_SIZE / dsk::RECORD_UNIT;
    for (int r = 0; r < records; ++r) {
        int track = r / disk.sides, side = r % disk.sides;
        std::uint8_t* record = image.data() + dsk::INFO_BLOCK_SIZE + static_cast<std::size_t>(r) * dsk::RECORD_SIZE;
        dsk::make_einstein_track_info(record, track, side, side * dsk::SECTORS_PER_SIDE);
        record[dsk::TRACK_FILLER] = 0xE5;
        for (int k = 0; k < dsk::SECTORS_PER_SIDE; ++k) {
            const ReadSector& sector = disk.sectors[static_cast<std::size_t>(r * dsk::SECTORS_PER_SIDE + k)];
            std::uint8_t* row = record + dsk::TRACK_SECTOR_LIST + dsk::SECTOR_ROW_SIZE * k;
            failure_status(sector.status, &row[dsk::ROW_FDC_STATUS1], &row[dsk::ROW_FDC_STATUS2]);
            std::memcpy(record + dsk::INFO_BLOCK_SIZE + k * dsk::SECTOR_SIZE, sector.data, dsk::SECTOR_SIZE);
        }
    }
    return image;
}

NewImageFile::~NewImageFile()
{
    if (!done && !temporary.empty()) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
    }
}

int new_image_begin(NewImageFile* file, const char* path)
{
    file->path = path;
    file->temporary = file->path + ".part";
    std::FILE* f = std::fopen(file->temporary.c_str(), "wb");
    if (f == nullptr) {
        file->temporary.clear();  // nothing of ours to remove
        halt_report("Cannot write the image file '%s'", path, HALT_FILE);
        return 0;
    }
    std::fclose(f);
    return 1;
}

int new_image_finish(NewImageFile* file, const std::vector<std::uint8_t>& bytes)
{
    struct FileCloser {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(file->temporary.c_str(), "wb"));
    bool ok = f && std::fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size();
    ok = f && std::fclose(f.release()) == 0 && ok;
    std::error_code error;
    if (ok) std::filesystem::rename(file->temporary, file->path, error);
    if (!ok || error) {
        halt_report("Cannot write the image file '%s'", file->path.c_str(), HALT_FILE);
        return 0;
    }
    file->done = true;
    return 1;
}
