// disc_image.h - disc images as the Einstein's sectors: a DSK image
// (standard or extended, through image/dsk_codec) or a raw sector dump,
// held whole in memory and read one cylinder at a time into fixed track
// buffers.
//
// An Einstein track side holds 10 sectors of 512 bytes with IDs 0 to 9 (the
// format pass numbers side 1's sectors 10 to 19).  A cylinder's sectors are
// asked for by index: 0 to 9 are side 0, 10 to 19 side 1.  Only opening can
// fail, with a halt report - also for a DSK image whose sectors are not
// 512 bytes or that has more than 10 to a side, which the Einstein's
// format cannot lay down; a track side that cannot be read, or a sector
// that is not there, is told on the console and comes back as E5h bytes.
//
// The caller owns what it opens: hold it in a DiscImageOwner, so that every
// way out closes it.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "image/dsk_codec.h"
#include "image/dsk_layout.h"

using dsk::SECTOR_SIZE;
using dsk::SECTORS_PER_SIDE;
using dsk::SIDE_DATA_SIZE;
constexpr std::uint8_t BLANK_BYTE = 0xE5;

enum ImageFormat { IMAGE_RAW = 1, IMAGE_EXTENDED_DSK = 2, IMAGE_STANDARD_DSK = 3 };

// One side of the loaded cylinder.
struct TrackBuffer {
    int count;                                      // sectors found on the side (at most 10)
    std::uint8_t ids[SECTORS_PER_SIDE];             // slot k: the ID of the sector in slot k
    std::uint8_t sectors[SIDE_DATA_SIZE];           // slot k: that sector's 512 bytes
};

// An opened image.
struct DiscImage {
    std::vector<std::uint8_t> file;  // a file's bytes, owned here; empty for a borrowed image
    const std::uint8_t* bytes;       // the whole image (file's bytes, or borrowed ones); never written
    std::int32_t length;             // bytes at `bytes`
    std::int32_t borrowed;           // nonzero: `bytes` belong to someone else (never freed)
    std::int32_t format;             // an ImageFormat
    std::int32_t tracks;             // cylinders
    std::int32_t sides;              // 1 or 2
    dsk::Disk disk;                  // a DSK image's records, decoded once
    std::int32_t next_cylinder;      // the cylinder image_load_track loads next
    std::int32_t quiet;              // nonzero: no warning printed (a look ahead at the image)
    TrackBuffer side[2];             // side 0, side 1 of the loaded cylinder
};

// Reads a file whole and checks that it is a disc image TOBRIN can send,
// printing nothing: null after a halt report when it cannot be used.  The
// file is not opened again: what was checked is what is sent.
DiscImage* image_load_file(const char* name);
// Prints the image's description line (" + Disc image 40 track, ...").
void image_describe(const DiscImage* image);
// image_load_file, then the description line.
DiscImage* image_open_file(const char* name);
// Opens an image already in memory, without copying it or taking it over.
DiscImage* image_open_memory(const std::uint8_t* bytes, std::int32_t length);
void image_close(DiscImage* image);
// Loads the next cylinder (side 0, and side 1 of a two-sided image).
void image_load_track(DiscImage* image);
// The sector at index (0-19) of the cylinder loaded last; `cylinder` only
// names it in the not-found warning.  Never null.
const std::uint8_t* image_find_sector(DiscImage* image, int cylinder, int index);
// 512 bytes of E5h: one static buffer, refilled at every call.
const std::uint8_t* blank_sector();
// Whether the `count` sectors from sector `first` on, the image read as
// `spc` sectors a cylinder (10: side 0 only) as far as `tracks`, are all
// blank (past `tracks` they are): a look ahead that prints no warning.
// The cylinder loaded next stays; the one loaded may be another after it.
bool image_sectors_blank(DiscImage* image, int first, int count, int spc, int tracks);

// The owner of an opened image: closes it when it goes.
struct DiscImageCloser {
    void operator()(DiscImage* image) const { image_close(image); }
};
using DiscImageOwner = std::unique_ptr<DiscImage, DiscImageCloser>;

// The image's geometry.
int image_track_count(const DiscImage* image);
int image_side_count(const DiscImage* image);
