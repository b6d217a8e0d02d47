// disc_image.cpp - the disc image reader.
#include "image/disc_image.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <sys/stat.h>

#include "report/halt_report.h"

// A raw dump of 40, 80 (one side) or 160 (two sides) track sides.
static const int RAW_40_TRACKS = 40 * SIDE_DATA_SIZE;
static const int RAW_80_TRACKS = 80 * SIDE_DATA_SIZE;
static const int RAW_80_TRACKS_2_SIDES = 160 * SIDE_DATA_SIZE;

int image_track_count(const DiscImage* image)
{
    return image->disc_info[dsk::DISC_TRACKS];
}

int image_side_count(const DiscImage* image)
{
    return image->disc_info[dsk::DISC_SIDES];
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

// Copies up to n bytes from the read position; returns how many came.
static int image_read(DiscImage* image, void* destination, int n)
{
    if (image->position >= image->length) return 0;
    if (n > image->length - image->position) n = image->length - image->position;
    std::memcpy(destination, image->bytes + image->position, static_cast<std::size_t>(n));
    image->position += n;
    return n;
}

// Moves the read position on by n bytes; false when the image ends first.
static bool image_skip(DiscImage* image, int n)
{
    if (n > image->length - image->position) {
        image->position = image->length;
        return false;
    }
    image->position += n;
    return true;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The whole file into `bytes`; false when it is not a regular file (a
// folder, a FIFO or a device, which could block the open or the read: it
// is refused before it is opened), empty, unreadable, larger than the int
// range or shorter than its size said.
static bool read_whole_file(const char* name, std::vector<std::uint8_t>* bytes)
{
    struct stat info;
    if (stat(name, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(name, "rb"));
    if (!file) return false;
    long size = -1;
    if (std::fseek(file.get(), 0, SEEK_END) == 0) size = std::ftell(file.get());
    if (size <= 0 || size > INT_MAX || std::fseek(file.get(), 0, SEEK_SET) != 0) return false;
    try {
        bytes->resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return std::fread(bytes->data(), 1, bytes->size(), file.get()) == bytes->size();
}

// Reports why the image cannot be used (its owner releases it).
static int detect_failed(const char* message)
{
    halt_report(message, nullptr, HALT_FILE);
    return 0;
}

// Recognises the format, checks the geometry; 1, or 0 after a report.
static int image_detect(DiscImage* image)
{
    if (image_read(image, image->disc_info, dsk::INFO_BLOCK_SIZE) < dsk::INFO_BLOCK_SIZE)
        return detect_failed("Disc image is too small");

    if (std::memcmp(image->disc_info, dsk::DISC_SIGNATURE, dsk::DISC_SIGNATURE_LENGTH) == 0) {
        image->format = IMAGE_EXTENDED_DSK;
        int sides = image_side_count(image);
        if (sides != 1 && sides != 2)
            return detect_failed("Disc image has an invalid number of sides");
        if (image_track_count(image) == 0)
            return detect_failed("Disc image has no tracks");
        // The size table describes at most 204 track records.
        if (image_track_count(image) * sides > dsk::DISC_TRACK_SIZE_ENTRIES)
            image->disc_info[dsk::DISC_TRACKS] = static_cast<std::uint8_t>(dsk::DISC_TRACK_SIZE_ENTRIES / sides);
        return 1;
    }

    // A raw dump: the 256 bytes just read are sector data, read them again.
    image->format = IMAGE_RAW;
    image->position = 0;
    std::int32_t size = image->length;
    if (size % SECTOR_SIZE != 0) return detect_failed("Disc image contains incomplete sectors");
    if ((size / SECTOR_SIZE) % SECTORS_PER_SIDE != 0)
        return detect_failed("Disc image contains incomplete tracks");
    int tracks, sides;
    if (size == RAW_40_TRACKS) tracks = 40, sides = 1;
    else if (size == RAW_80_TRACKS) tracks = 80, sides = 1;
    else if (size == RAW_80_TRACKS_2_SIDES) tracks = 80, sides = 2;
    else return detect_failed("Disc image is too big");
    image->disc_info[dsk::DISC_TRACKS] = static_cast<std::uint8_t>(tracks);
    image->disc_info[dsk::DISC_SIDES] = static_cast<std::uint8_t>(sides);
    return 1;
}

static void print_image_geometry(const DiscImage* image)
{
    std::printf("%02d track, ", image_track_count(image));
    std::printf("%s", image_side_count(image) * 10 > 10 ? "double" : "single");
    std::printf(" sided");
}

// Opens a file and recognises it, without the description line.
static DiscImageOwner open_file_quietly(const char* name)
{
    DiscImageOwner image = image_new();
    if (!image) return nullptr;
    if (!read_whole_file(name, &image->file)) {
        halt_report("Cannot open disc image '%s'", name, HALT_FILE);
        return nullptr;
    }
    image->bytes = image->file.data();
    image->length = static_cast<std::int32_t>(image->file.size());
    if (!image_detect(image.get())) return nullptr;
    return image;
}

int image_check_file(const char* name)
{
    return open_file_quietly(name) ? 1 : 0;
}

DiscImage* image_open_file(const char* name)
{
    DiscImageOwner image = open_file_quietly(name);
    if (!image) return nullptr;
    std::printf(" + Disc image ");
    print_image_geometry(image.get());
    std::printf(" (%s)\n", image->format == IMAGE_RAW ? "RAW disc dump" : "extended .DSK format");
    std::fflush(stdout);
    return image.release();
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

static void image_reset_track(DiscImage* image, int cylinder)
{
    make_track_info(image->side[0].track_info, cylinder, 0);
    make_track_info(image->side[1].track_info, cylinder, 1);
}

// Reads one side of the next track record into side[s]; false when the
// record is absent or cannot be read whole.
static bool image_read_side(DiscImage* image, int s)
{
    TrackBuffer* side = &image->side[s];
    if (image->format == IMAGE_RAW)
        return image_read(image, side->sectors, SIDE_DATA_SIZE) == SIDE_DATA_SIZE;

    // The size table entry, unsigned: 0 is a record the image leaves out;
    // more than 21 (over 5120 data bytes) keeps the first 5120 and skips the
    // rest, so that the records after it stay in step.
    int entry = image->next_track < dsk::DISC_TRACK_SIZE_ENTRIES
                    ? image->disc_info[dsk::DISC_TRACK_SIZES + image->next_track] : 0;
    if (entry == 0) return false;
    if (image_read(image, side->track_info, dsk::INFO_BLOCK_SIZE) < dsk::INFO_BLOCK_SIZE) return false;
    int data = entry * dsk::RECORD_UNIT - dsk::INFO_BLOCK_SIZE;
    int kept = data < SIDE_DATA_SIZE ? data : SIDE_DATA_SIZE;
    if (image_read(image, side->sectors, kept) < kept) return false;
    return image_skip(image, data - kept);
}

void image_load_track(DiscImage* image)
{
    std::memset(image->side[0].sectors, BLANK_BYTE, SIDE_DATA_SIZE);
    std::memset(image->side[1].sectors, BLANK_BYTE, SIDE_DATA_SIZE);
    int sides = image_side_count(image);
    int cylinder = sides == 2 ? image->next_track / 2 : image->next_track;
    bool failed = !image_read_side(image, 0);
    image->next_track++;
    if (sides == 2) {
        if (!image_read_side(image, 1)) failed = true;
        image->next_track++;
    }
    if (image->format == IMAGE_RAW || failed) image_reset_track(image, cylinder);
    if (failed) std::printf("  + Warning track %d is invalid (and has been reset)\n", cylinder);
}

// The row of the side's Track-Info sector list that carries the ID, or -1.
static int find_row(const TrackBuffer* side, int id)
{
    for (int row = 0; row < SECTORS_PER_SIDE; ++row)
        if (side->track_info[dsk::TRACK_SECTOR_LIST + dsk::SECTOR_ROW_SIZE * row + dsk::ROW_ID] == id) return row;
    return -1;
}

const std::uint8_t* image_find_sector(DiscImage* image, int cylinder, int index)
{
    if (index < 0 || index >= 2 * SECTORS_PER_SIDE) return blank_sector();
    int s = index >= SECTORS_PER_SIDE ? 1 : 0;
    int wanted = index - s * SECTORS_PER_SIDE;
    const TrackBuffer* side = &image->side[s];
    int row = find_row(side, wanted);
    // A real two-sided Einstein disk numbers side 1's sectors 10 to 19.
    if (row < 0 && s == 1) row = find_row(side, index);
    if (row < 0) {
        std::printf("  + Track %02d, sector %02d not found\n", cylinder, wanted);
        return blank_sector();
    }
    return side->sectors + SECTOR_SIZE * row;
}
