// dsk_codec.h - DSK disc-image files to and from their tracks and sectors:
// the one set of rules by which TOBRIN (its image reader, the -read
// writer) and the virtual Einstein (its disk's load and save) read and
// write them.  Offsets and signatures are in dsk_layout.h.
//
// Both forms are read.  A standard image ("MV - CPC" signature) gives one
// record size for every track in its Disc-Info block and stores each
// sector in 128 << N bytes (N of the Track-Info block); an extended image
// gives each record's size in its size table and each sector's stored
// length in its row.  Either way the records follow the Disc-Info block in
// order (track 0 side 0, track 0 side 1, track 1 side 0, ...), and a
// record's sectors are found by the IDs of its sector list, whatever their
// order.  Writing always makes an extended image.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace dsk {

// One sector of a track record.
struct Sector {
    std::uint8_t c, h, r, n;            // its ID field: cylinder, head, record (the sector ID), size code
    std::uint8_t status1, status2;      // the controller status bits stored with it (0: read well)
    std::vector<std::uint8_t> data;     // its data as stored (empty: none stored)
};

// One track side.
struct Track {
    bool present;                       // the image holds a record for it
    bool damaged;                       // its record runs past the end of the file: only the
                                        // sectors stored whole before the end are here
    std::uint8_t size_code;             // the Track-Info block's N
    std::uint8_t gap3, filler;          // its format gap and filler byte
    std::vector<Sector> sectors;        // in the order of its sector list (the order on the track)
};

// A whole image.
struct Disk {
    bool extended;                      // read from an extended image (written ones always are)
    int tracks;                         // cylinders
    int sides;                          // 1 or 2
    std::vector<Track> records;         // tracks x sides: record t * sides + s is track t side s
};

enum DecodeResult {
    DECODED = 0,
    NOT_DSK = 1,         // neither signature: not a DSK image
    TOO_SMALL = 2,       // a signature, but not a whole Disc-Info block
    BAD_SIDES = 3,       // a side count other than 1 or 2
    NO_TRACKS = 4,       // a track count of 0
};

// Decodes an image held in memory.  Records that the image leaves out
// (size 0) or that lie past its end are not present (a record cut short
// keeps the sectors stored whole before the end, and is marked damaged).
// The extended form's size table describes at most 204 records, so the
// track count is bounded to that for both forms.
DecodeResult decode(const std::uint8_t* bytes, std::size_t length, Disk* disk);

// The extended image of a disk, with `creator` (up to 14 characters) in
// its Disc-Info block.  A record that is not present is written as a size
// of 0; each record is padded to a multiple of 256 bytes.
std::vector<std::uint8_t> encode(const Disk& disk, const char* creator);

// The CRC-16 of the floppy controller (CCITT, polynomial 1021h, most
// significant bit first), from `preset` (FFFFh for a whole field).
constexpr std::uint16_t crc16(const std::uint8_t* bytes, std::size_t count, std::uint16_t preset = 0xFFFF)
{
    std::uint16_t crc = preset;
    for (std::size_t i = 0; i < count; ++i) {
        crc = static_cast<std::uint16_t>(crc ^ (bytes[i] << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

}  // namespace dsk
