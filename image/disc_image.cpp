// disc_image.cpp - the disc image reader.
#include "image/disc_image.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <sys/stat.h>

#include "report/halt_report.h"

// A raw dump of 40, 80 (one side) or 160 (two sides) track sides.
static const int RAW_40_TRACKS = 40 * SIDE_DATA_SIZE;
static const int RAW_80_TRACKS = 80 * SIDE_DATA_SIZE;
static const int RAW_80_TRACKS_2_SIDES = 160 * SIDE_DATA_SIZE;

int image_track_count(const DiscImage* image)
{
    return image->tracks;
}

int image_side_count(const DiscImage* image)
{
    return image->sides;
}

const std::uint8_t* blank_sector()
{
    static std::uint8_t blank[SECTOR_SIZE];
    std::memset(blank, BLANK_BYTE, sizeof blank);
    return blank;
}

// A new image record, every byte zero; its owner closes it.
static DiscImageOwner image_new()
{
    DiscImageOwner image(new (std::nothrow) DiscImage{});
    if (!image) halt_report("Cannot allocate DSK buffer", nullptr, HALT_RESOURCE);
    return image;
}

void image_close(DiscImage* image)
{
    delete image;  // a file's bytes go with it; borrowed bytes are not its own
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The whole file into `bytes`: nullptr, or why not.  Only a regular file
// is opened (a folder, a FIFO or a device could block the open or the
// read: it is refused first); an empty one, one larger than the int range
// or one shorter than its size said is refused too.
static const char* read_whole_file(const char* name, std::vector<std::uint8_t>* bytes)
{
    struct stat info;
    if (stat(name, &info) != 0) return errno == ENOENT ? "There is no file of that name" : std::strerror(errno);
    if (S_ISDIR(info.st_mode)) return "It is a folder: name the image file in it";
    if (!S_ISREG(info.st_mode)) return "It is a device or a pipe, not a file: name an image file";
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(name, "rb"));
    if (!file) return std::strerror(errno);
    long size = -1;
    if (std::fseek(file.get(), 0, SEEK_END) == 0) size = std::ftell(file.get());
    if (size == 0) return "The file is empty";
    if (size < 0 || size > INT_MAX || std::fseek(file.get(), 0, SEEK_SET) != 0)
        return "The file is too big for a disc image";
    try {
        bytes->resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        return "There is not enough memory to read it";
    }
    if (std::fread(bytes->data(), 1, bytes->size(), file.get()) != bytes->size()) return "It could not be read whole";
    return nullptr;
}

// Reports why the image cannot be used (its owner releases it).
static int detect_failed(const char* message)
{
    halt_report(message, nullptr, HALT_FILE);
    return 0;
}

static const char CONVERT_HINT[] = ": TOBRIN writes 10 sectors of 512 bytes to a side, as the Einstein's "
                                   "format lays them down (the README shows how to convert other formats with "
                                   "libdsk's dsktrans)";

// A DSK image's tracks must be the Einstein's: 512-byte sectors, at most
// 10 to a side.  1, or 0 after a report that says what the image has.
static int check_einstein_tracks(const dsk::Disk& disk)
{
    for (std::size_t r = 0; r < disk.records.size(); ++r) {
        const dsk::Track& track = disk.records[r];
        int cylinder = static_cast<int>(r) / disk.sides, side = static_cast<int>(r) % disk.sides;
        char what[160];
        if (track.sectors.size() > static_cast<std::size_t>(SECTORS_PER_SIDE)) {
            std::snprintf(what, sizeof what, "Disc image has %d sectors on track %d side %d",
                          static_cast<int>(track.sectors.size()), cylinder, side);
        } else {
            what[0] = '\0';
            for (const dsk::Sector& sector : track.sectors) {
                bool stored_whole = sector.data.size() >= static_cast<std::size_t>(SECTOR_SIZE) ||
                                    sector.data.empty();  // no data stored: a sector that is missing
                if (sector.n != dsk::SIZE_CODE_512 || !stored_whole) {
                    std::snprintf(what, sizeof what, "Disc image has sectors of %d bytes (track %d side %d)",
                                  128 << (sector.n & 7), cylinder, side);
                    break;
                }
            }
        }
        if (what[0] != '\0') {
            std::string message = std::string(what) + CONVERT_HINT;
            halt_report(message.c_str(), nullptr, HALT_FILE);
            return 0;
        }
    }
    return 1;
}

// Recognises the format, checks the geometry; 1, or 0 after a report.
static int image_detect(DiscImage* image)
{
    switch (dsk::decode(image->bytes, static_cast<std::size_t>(image->length), &image->disk)) {
    case dsk::DECODED:
        image->format = image->disk.extended ? IMAGE_EXTENDED_DSK : IMAGE_STANDARD_DSK;
        image->tracks = image->disk.tracks;
        image->sides = image->disk.sides;
        return check_einstein_tracks(image->disk);
    case dsk::TOO_SMALL: return detect_failed("Disc image is too small");
    case dsk::BAD_SIDES: return detect_failed("Disc image has an invalid number of sides");
    case dsk::NO_TRACKS: return detect_failed("Disc image has no tracks");
    case dsk::NOT_DSK: break;
    }

    // A raw dump.
    image->format = IMAGE_RAW;
    std::int32_t size = image->length;
    if (size < dsk::INFO_BLOCK_SIZE) return detect_failed("Disc image is too small");
    if (size % SECTOR_SIZE != 0) return detect_failed("Disc image contains incomplete sectors");
    if ((size / SECTOR_SIZE) % SECTORS_PER_SIDE != 0)
        return detect_failed("Disc image contains incomplete tracks");
    if (size == RAW_40_TRACKS) image->tracks = 40, image->sides = 1;
    else if (size == RAW_80_TRACKS) image->tracks = 80, image->sides = 1;
    else if (size == RAW_80_TRACKS_2_SIDES) image->tracks = 80, image->sides = 2;
    else return detect_failed("Disc image is too big");
    return 1;
}

static void print_image_geometry(const DiscImage* image)
{
    std::printf("%02d track, ", image_track_count(image));
    std::printf("%s", image_side_count(image) * 10 > 10 ? "double" : "single");
    std::printf(" sided");
}

DiscImage* image_load_file(const char* name)
{
    DiscImageOwner image = image_new();
    if (!image) return nullptr;
    if (const char* why = read_whole_file(name, &image->file)) {
        halt_report("Cannot open disc image '%s'", name, HALT_FILE);
        halt_hint(why);
        return nullptr;
    }
    image->bytes = image->file.data();
    image->length = static_cast<std::int32_t>(image->file.size());
    if (!image_detect(image.get())) {
        if (image->format == IMAGE_RAW) {
            // Neither a DSK image nor a dump of a size TOBRIN knows.
            std::string what = std::string(name) + ": " + std::to_string(image->length) +
                               (image->length == 1 ? " byte" : " bytes") + ". An image is an " +
                               "extended or standard DSK file, or a raw dump of " + std::to_string(RAW_40_TRACKS) +
                               " (40 tracks), " + std::to_string(RAW_80_TRACKS) + " (80 tracks) or " +
                               std::to_string(RAW_80_TRACKS_2_SIDES) + " bytes (80 tracks, two sides)";
            halt_hint(what.c_str());
        }
        return nullptr;
    }
    return image.release();
}

void image_describe(const DiscImage* image)
{
    std::printf(" + Disc image ");
    print_image_geometry(image);
    const char* format = image->format == IMAGE_RAW            ? "RAW disc dump"
                         : image->format == IMAGE_STANDARD_DSK ? "standard .DSK format"
                                                               : "extended .DSK format";
    std::printf(" (%s)\n", format);
    std::fflush(stdout);
}

DiscImage* image_open_file(const char* name)
{
    DiscImage* image = image_load_file(name);
    if (image != nullptr) image_describe(image);
    return image;
}

DiscImage* image_open_memory(const std::uint8_t* bytes, std::int32_t length)
{
    DiscImageOwner image = image_new();
    if (!image) return nullptr;
    image->bytes = bytes;
    image->length = length;
    image->borrowed = 1;
    if (!image_detect(image.get())) return nullptr;
    return image.release();
}

// Fills one side of the loaded cylinder: false when its record is absent
// or damaged (the sectors that came whole are kept all the same).
static bool load_side(DiscImage* image, int cylinder, int s)
{
    TrackBuffer* side = &image->side[s];
    side->count = 0;
    std::memset(side->sectors, BLANK_BYTE, SIDE_DATA_SIZE);
    if (image->format == IMAGE_RAW) {
        std::size_t at = static_cast<std::size_t>(cylinder * image->sides + s) * SIDE_DATA_SIZE;
        std::memcpy(side->sectors, image->bytes + at, SIDE_DATA_SIZE);
        for (int k = 0; k < SECTORS_PER_SIDE; ++k) side->ids[k] = static_cast<std::uint8_t>(k);
        side->count = SECTORS_PER_SIDE;
        return true;
    }
    std::size_t r = static_cast<std::size_t>(cylinder * image->sides + s);
    if (r >= image->disk.records.size()) return false;
    const dsk::Track& track = image->disk.records[r];
    for (const dsk::Sector& sector : track.sectors) {
        if (sector.data.empty()) continue;  // no data stored: not there
        side->ids[side->count] = sector.r;
        std::memcpy(side->sectors + SECTOR_SIZE * side->count, sector.data.data(), SECTOR_SIZE);
        ++side->count;
    }
    return track.present && !track.damaged;
}

void image_load_track(DiscImage* image)
{
    int cylinder = image->next_cylinder++;
    bool failed = !load_side(image, cylinder, 0);
    if (image->sides == 2 && !load_side(image, cylinder, 1)) failed = true;
    if (failed && image->quiet == 0) std::printf("  + Warning track %d is invalid (and has been reset)\n", cylinder);
}

// The slot of the side that holds the sector ID (the first of two with
// the same ID), or -1.
static int find_slot(const TrackBuffer* side, int id)
{
    for (int k = 0; k < side->count; ++k)
        if (side->ids[k] == id) return k;
    return -1;
}

bool image_sectors_blank(DiscImage* image, int first, int count, int spc, int tracks)
{
    const std::int32_t next = image->next_cylinder, quiet = image->quiet;
    image->quiet = 1;
    bool blank = true;
    for (int n = first; n < first + count && blank; ++n) {
        int cylinder = n / spc, index = n % spc;
        if (cylinder >= tracks) break;
        if (index == 0 || n == first) {
            image->next_cylinder = cylinder;
            image_load_track(image);
        }
        blank = std::memcmp(image_find_sector(image, cylinder, index), blank_sector(), SECTOR_SIZE) == 0;
    }
    image->next_cylinder = next;
    image->quiet = quiet;
    return blank;
}

const std::uint8_t* image_find_sector(DiscImage* image, int cylinder, int index)
{
    if (index < 0 || index >= 2 * SECTORS_PER_SIDE) return blank_sector();
    int s = index >= SECTORS_PER_SIDE ? 1 : 0;
    int wanted = index - s * SECTORS_PER_SIDE;
    const TrackBuffer* side = &image->side[s];
    int slot = find_slot(side, wanted);
    // A real two-sided Einstein disk numbers side 1's sectors 10 to 19.
    if (slot < 0 && s == 1) slot = find_slot(side, index);
    if (slot < 0) {
        if (image->quiet == 0) std::printf("  + Track %02d, sector %02d not found\n", cylinder, wanted);
        return blank_sector();
    }
    return side->sectors + SECTOR_SIZE * slot;
}
