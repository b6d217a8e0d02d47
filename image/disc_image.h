// disc_image.h - disc images as the Einstein's sectors: an extended DSK
// image or a raw sector dump, held whole in memory and read one cylinder at
// a time into fixed track buffers.
//
// An Einstein track side holds 10 sectors of 512 bytes with IDs 0 to 9 (the
// format pass numbers side 1's sectors 10 to 19).  A cylinder's sectors are
// asked for by index: 0 to 9 are side 0, 10 to 19 side 1.  Only opening can
// fail, with a halt report; a track side that cannot be read, or a sector
// that is not there, is told on the console and comes back as E5h bytes.
#pragma once
#include <cstdint>

constexpr int SECTOR_SIZE = 512;
constexpr int SECTORS_PER_SIDE = 10;
constexpr int SIDE_DATA_SIZE = SECTOR_SIZE * SECTORS_PER_SIDE;  // 5120
constexpr int INFO_BLOCK_SIZE = 256;
constexpr int TRACK_SIZE_TABLE_OFFSET = 52;
constexpr int TRACK_SIZE_TABLE_ENTRIES = INFO_BLOCK_SIZE - TRACK_SIZE_TABLE_OFFSET;  // 204
constexpr std::uint8_t BLANK_BYTE = 0xE5;

enum ImageFormat { IMAGE_RAW = 1, IMAGE_EXTENDED_DSK = 2 };

// The extended DSK format's two signatures.
constexpr char DSK_SIGNATURE[] = "EXTENDED CPC DSK File\r\nDisk-Info\r\n";  // 34 bytes
constexpr char TRACK_INFO_SIGNATURE[] = "Track-Info\r\n";                       // 12 bytes

// One side of the loaded cylinder.
struct TrackBuffer {
    std::uint8_t track_info[INFO_BLOCK_SIZE];  // the side's Track-Info block, read or synthesized
    std::uint8_t sectors[SIDE_DATA_SIZE];      // slot k: the sector of row k of track_info
};

// An opened image.
struct DiscImage {
    const std::uint8_t* bytes;   // the whole image; never written
    std::int32_t length;         // bytes at `bytes`
    std::int32_t borrowed;       // nonzero: `bytes` belong to someone else (never freed)
    std::int32_t position;       // read position within `bytes`; only grows
    std::int32_t format;         // an ImageFormat
    std::int32_t next_track;     // track records gone through; index of the next size-table entry
    std::uint8_t disc_info[INFO_BLOCK_SIZE];  // Disc-Info block; byte 48 tracks, byte 49 sides
    TrackBuffer side[2];         // side 0, side 1 of the loaded cylinder
};

// Opens a file: reads it whole and prints its description line.  Null after
// a halt report when it cannot be used.
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

// The image's geometry, read from its Disc-Info block.
int image_track_count(const DiscImage* image);
int image_side_count(const DiscImage* image);
// Fills a 256-byte Track-Info block as the reader synthesizes it for a
// cylinder and side: sector rows 0-9 with IDs 0-9 of 512 bytes.  Usable at
// compile time, so the built-in image carries exactly these blocks.
constexpr void make_track_info(std::uint8_t* block, int track, int side)
{
    constexpr int SECTOR_LIST_OFFSET = 24, SECTOR_ROW_SIZE = 8, SIZE_CODE_512 = 2, GAP3_LENGTH = 0x4E;
    for (int i = 0; i < INFO_BLOCK_SIZE; ++i) block[i] = 0;
    for (int i = 0; TRACK_INFO_SIGNATURE[i] != '\0'; ++i) block[i] = static_cast<std::uint8_t>(TRACK_INFO_SIGNATURE[i]);
    block[16] = static_cast<std::uint8_t>(track);
    block[17] = static_cast<std::uint8_t>(side);
    block[20] = SIZE_CODE_512;
    block[21] = SECTORS_PER_SIDE;
    block[22] = GAP3_LENGTH;
    for (int k = 0; k < SECTORS_PER_SIDE; ++k) {
        std::uint8_t* row = block + SECTOR_LIST_OFFSET + SECTOR_ROW_SIZE * k;
        row[0] = static_cast<std::uint8_t>(track);
        row[1] = static_cast<std::uint8_t>(side);
        row[2] = static_cast<std::uint8_t>(k);
        row[3] = SIZE_CODE_512;
        row[6] = SECTOR_SIZE & 0xFF;
        row[7] = SECTOR_SIZE >> 8;
    }
}
