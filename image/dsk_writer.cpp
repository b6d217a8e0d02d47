// dsk_writer.cpp - a disk read from the Einstein as an extended DSK image.
#include "image/dsk_writer.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "image/dsk_codec.h"
#include "platform/files.h"
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
    dsk::Disk image{true, disk.tracks, disk.sides, {}};
    for (int r = 0; r < disk.tracks * disk.sides; ++r) {
        int track = r / disk.sides, side = r % disk.sides;
        dsk::Track record{true, false, dsk::SIZE_CODE_512, dsk::GAP3_LENGTH, 0xE5, {}};
        for (int k = 0; k < dsk::SECTORS_PER_SIDE; ++k) {
            const ReadSector& sector = disk.sectors[static_cast<std::size_t>(r * dsk::SECTORS_PER_SIDE + k)];
            dsk::Sector s{static_cast<std::uint8_t>(track), static_cast<std::uint8_t>(side),
                          static_cast<std::uint8_t>(side * dsk::SECTORS_PER_SIDE + k), dsk::SIZE_CODE_512, 0, 0,
                          std::vector<std::uint8_t>(sector.data, sector.data + dsk::SECTOR_SIZE)};
            failure_status(sector.status, &s.status1, &s.status2);
            record.sectors.push_back(std::move(s));
        }
        image.records.push_back(std::move(record));
    }
    return dsk::encode(image, "TOBRIN");
}

NewImageFile::~NewImageFile()
{
    stream.reset();
    if (!keep && !temporary.empty()) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
    }
}

NewImageTarget new_image_check(const char* path)
{
    // The folder it goes in must be there before the Einstein is asked.
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code error;
    if (!folder.empty() && !std::filesystem::is_directory(folder, error)) {
        halt_report("Cannot create a file beside '%s' to write the image into", path, HALT_FILE);
        std::string why = "The folder '" + folder.string() + "' does not exist: create it, or name a file in a folder "
                          "that exists";
        halt_hint(why.c_str());
        return NEW_IMAGE_REFUSED;
    }
    switch (path_kind(path)) {
    case PATH_NONE: return NEW_IMAGE_NEW;
    case PATH_FILE:
    case PATH_LINK: return NEW_IMAGE_REPLACES;
    default:
        halt_report("'%s' is a folder or a device, not a file: name a new file, or a file to replace", path,
                    HALT_FILE);
        return NEW_IMAGE_REFUSED;
    }
}

// The partial file, created new: "<file>.part", or "<file>.N.part" when a
// name before it is taken (by anything: a file, a link, a folder).
static bool create_partial(NewImageFile* file)
{
    constexpr int TRIES = 100;
    for (int n = 1; n <= TRIES; ++n) {
        std::string name = n == 1 ? file->path + ".part" : file->path + "." + std::to_string(n) + ".part";
        file->stream.reset(file_create_new(name.c_str()));
        if (file->stream) {
            file->temporary = name;
            return true;
        }
        if (path_kind(name.c_str()) == PATH_NONE) break;  // not a name taken: the folder refuses
    }
    return false;
}

int new_image_begin(NewImageFile* file, const char* path)
{
    file->path = path;
    if (!create_partial(file)) {
        halt_report("Cannot create a file beside '%s' to write the image into", path, HALT_FILE);
        return 0;
    }
    return 1;
}

int new_image_finish(NewImageFile* file, const std::vector<std::uint8_t>& bytes)
{
    std::FILE* f = file->stream.get();
    bool ok = f != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && file_sync(f);
    ok = f != nullptr && std::fclose(file->stream.release()) == 0 && ok;
    if (!ok) {
        halt_report("Cannot write the image file '%s'", file->path.c_str(), HALT_FILE);
        return 0;
    }
    std::error_code error;
    std::filesystem::rename(file->temporary, file->path, error);
    if (error) {
        file->keep = true;
        std::string both = file->path + "' (" + error.message() + "); the image is kept as '" + file->temporary;
        halt_report("Cannot give the image its name '%s'", both.c_str(), HALT_FILE);
        return 0;
    }
    file->keep = true;
    return 1;
}
