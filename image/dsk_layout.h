// dsk_layout.h - the DSK disc-image layout (extended, and the standard
// form where it differs), as TOBRIN reads and writes it: the one place that
// knows its offsets, signatures and sizes (image/dsk_codec applies them).
//
// An image is a 256-byte Disc-Info block followed by one track record per
// track side (track 0 side 0, track 0 side 1, track 1 side 0, ...; a
// one-sided image has side 0 records only).  A record is a 256-byte
// Track-Info block, whose sector list names each sector's ID, then the
// sectors' data in the order of that list.  Multi-byte values are
// little-endian.  The codec, and through it the disc image reader, the
// image written by -read and the virtual Einstein's disk, use these names;
// so does the built-in system disk, at compile time.  (The standard form's
// signature, "MV - CPC", is the codec's: nothing here writes that form.)
#pragma once
#include <cstdint>

namespace dsk {

constexpr int INFO_BLOCK_SIZE = 256;  // the Disc-Info block, and every Track-Info block
constexpr int RECORD_UNIT = 256;      // track size table entries count in these

// --- Disc-Info block ------------------------------------------------------
constexpr char DISC_SIGNATURE[] = "EXTENDED CPC DSK File\r\nDisk-Info\r\n";
constexpr int DISC_SIGNATURE_LENGTH = sizeof DISC_SIGNATURE - 1;  // 34
constexpr int DISC_CREATOR = 34;              // 14 bytes: the program that made the image
constexpr int DISC_CREATOR_LENGTH = 14;
constexpr int DISC_TRACKS = 48;               // number of tracks (cylinders)
constexpr int DISC_SIDES = 49;                // number of sides
constexpr int DISC_STANDARD_TRACK_SIZE = 50;  // a standard image's one record size (16 bits)
constexpr int DISC_TRACK_SIZES = 52;          // an extended image's size table: one byte per record, in units of 256
constexpr int DISC_TRACK_SIZE_ENTRIES = INFO_BLOCK_SIZE - DISC_TRACK_SIZES;  // 204

// --- Track-Info block -----------------------------------------------------
constexpr char TRACK_SIGNATURE[] = "Track-Info\r\n";
constexpr int TRACK_SIGNATURE_LENGTH = sizeof TRACK_SIGNATURE - 1;  // 12
constexpr int TRACK_NUMBER = 16;
constexpr int TRACK_SIDE = 17;
constexpr int TRACK_SIZE_CODE = 20;           // N: 2 = 512-byte sectors
constexpr int TRACK_SECTOR_COUNT = 21;
constexpr int TRACK_GAP3 = 22;
constexpr int TRACK_FILLER = 23;
constexpr int TRACK_SECTOR_LIST = 24;         // the sector information list
constexpr int SECTOR_ROW_SIZE = 8;
constexpr int MAX_SECTOR_ROWS = (INFO_BLOCK_SIZE - TRACK_SECTOR_LIST) / SECTOR_ROW_SIZE;  // 29

// One row of the sector information list.
constexpr int ROW_TRACK = 0;                  // C
constexpr int ROW_SIDE = 1;                   // H
constexpr int ROW_ID = 2;                     // R
constexpr int ROW_SIZE_CODE = 3;              // N
constexpr int ROW_FDC_STATUS1 = 4;            // the controller's status register 1 after reading it
constexpr int ROW_FDC_STATUS2 = 5;            // ... and status register 2
constexpr int ROW_DATA_LENGTH = 6;            // 16 bits: bytes of data stored for the sector

// Status bits a row may carry (those of the floppy controller the format
// was first made for): why a sector's stored data is not to be trusted.
constexpr std::uint8_t STATUS1_END_OF_CYLINDER = 0x80;
constexpr std::uint8_t STATUS1_DATA_ERROR = 0x20;        // CRC error in the ID or the data field
constexpr std::uint8_t STATUS1_NO_DATA = 0x04;           // the sector was not found
constexpr std::uint8_t STATUS1_MISSING_ADDRESS_MARK = 0x01;
constexpr std::uint8_t STATUS2_DATA_ERROR_IN_DATA = 0x20;// CRC error in the data field
constexpr std::uint8_t STATUS2_MISSING_DATA_MARK = 0x01;

// --- The Einstein's geometry ----------------------------------------------
constexpr int SECTOR_SIZE = 512;
constexpr int SIZE_CODE_512 = 2;
constexpr int SECTORS_PER_SIDE = 10;
constexpr int SIDE_DATA_SIZE = SECTOR_SIZE * SECTORS_PER_SIDE;  // 5120
constexpr int RECORD_SIZE = INFO_BLOCK_SIZE + SIDE_DATA_SIZE;    // 5376: size-table entry 21
constexpr int GAP3_LENGTH = 0x4E;

// Fills a 256-byte Track-Info block for a cylinder and side of the
// Einstein's layout: ten rows, IDs first_id to first_id + 9, 512 bytes
// each.  Usable at compile time.
constexpr void make_einstein_track_info(std::uint8_t* block, int track, int side, int first_id)
{
    for (int i = 0; i < INFO_BLOCK_SIZE; ++i) block[i] = 0;
    for (int i = 0; i < TRACK_SIGNATURE_LENGTH; ++i) block[i] = static_cast<std::uint8_t>(TRACK_SIGNATURE[i]);
    block[TRACK_NUMBER] = static_cast<std::uint8_t>(track);
    block[TRACK_SIDE] = static_cast<std::uint8_t>(side);
    block[TRACK_SIZE_CODE] = SIZE_CODE_512;
    block[TRACK_SECTOR_COUNT] = SECTORS_PER_SIDE;
    block[TRACK_GAP3] = GAP3_LENGTH;
    for (int k = 0; k < SECTORS_PER_SIDE; ++k) {
        std::uint8_t* row = block + TRACK_SECTOR_LIST + SECTOR_ROW_SIZE * k;
        row[ROW_TRACK] = static_cast<std::uint8_t>(track);
        row[ROW_SIDE] = static_cast<std::uint8_t>(side);
        row[ROW_ID] = static_cast<std::uint8_t>(first_id + k);
        row[ROW_SIZE_CODE] = SIZE_CODE_512;
        row[ROW_DATA_LENGTH] = SECTOR_SIZE & 0xFF;
        row[ROW_DATA_LENGTH + 1] = SECTOR_SIZE >> 8;
    }
}

// Writes the signature, creator and geometry of a Disc-Info block (the
// rest of the block is left as it is; the caller zeroes it first).
constexpr void put_disc_info(std::uint8_t* block, const char* creator, int tracks, int sides)
{
    for (int i = 0; i < DISC_SIGNATURE_LENGTH; ++i) block[i] = static_cast<std::uint8_t>(DISC_SIGNATURE[i]);
    for (int i = 0; i < DISC_CREATOR_LENGTH && creator[i] != '\0'; ++i)
        block[DISC_CREATOR + i] = static_cast<std::uint8_t>(creator[i]);
    block[DISC_TRACKS] = static_cast<std::uint8_t>(tracks);
    block[DISC_SIDES] = static_cast<std::uint8_t>(sides);
}

}  // namespace dsk
