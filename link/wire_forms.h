// wire_forms.h - the forms of the messages the extensions add to the line
// (docs/protocol.md), made and read in one place: pure functions over
// bytes, no line.  The transfer code, the tests and einstein-sim's
// protocol events use these; the values are link/wire_table.def's.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

#include "link/wire_protocol.h"

using WireBytes = std::vector<std::uint8_t>;

// --- Checked commands and checked values -------------------------------
// The check byte that makes `count` bytes and itself sum to FFh.
std::uint8_t check_byte(const std::uint8_t* bytes, std::size_t count);
// A command byte, its parameters and their check byte ("W", "R", "F", "P").
WireBytes checked_command(std::uint8_t command, std::initializer_list<std::uint8_t> parameters);
WireBytes checked_command(std::uint8_t command, const std::uint8_t* parameters, std::size_t count);
// A value and its complement: the Einstein's count of blocks taken (-fast),
// the checked format's status bytes.
std::array<std::uint8_t, 2> with_complement(std::uint8_t value);
// The value of a pair that came whole and is at most `most`; nothing when
// the two do not agree (one of them was damaged) or it is more.
std::optional<int> checked_value(std::uint8_t value, std::uint8_t complement, int most = 255);

// --- -fast: packed blocks and streams ----------------------------------
// What a sector's packed block says.
struct PackedSector {
    int number;          // its place in the batch (0 to FAST_BATCH_SECTORS - 1, or BATCH_SECTORS - 1)
    bool filler;         // the format's filler: nothing follows the number
    bool layable;        // no F5h-F7h in it: the Write Track may lay it down
    std::uint16_t crc;   // the CRC-16 of the sector (its read back is compared with it)
    WireBytes form;      // its compressed form (link/sector_lz.h), empty for the filler
};
// Sector k of the batch (its sectors one after the other), as the PC
// packs it: its form may copy from the batch's earlier sectors.
PackedSector pack_sector(const std::vector<std::uint8_t>& batch, int k);
// The block: its length (2, high byte with LAYABLE_FLAG) and their check,
// the number (with FILLER_FLAG), the sector's CRC-16 and the form (not for
// the filler), and the CRC-16 of all of that.
WireBytes packed_block(const PackedSector& sector);
// A stream's header: the length of its blocks, the position of the
// batch's first sector, and a check byte that makes the five sum to FFh.
std::array<std::uint8_t, STREAM_HEADER> stream_header(std::size_t length, int track, int sector);
// A whole stream: the header and the blocks.
WireBytes stream_of(const std::vector<WireBytes>& blocks, int track, int sector);

// --- -verify -----------------------------------------------------------
// The CRC-16 of each of `count` sectors, high byte first.
WireBytes sector_crcs(const std::uint8_t* sectors, int count);

// --- -read -------------------------------------------------------------
// A sector record's head, as the Einstein sends it before the block.
struct RecordHead {
    int track, sector;      // where it was read
    std::uint8_t status;    // the monitor's code (0: read)
    std::uint16_t crc;      // the CRC-16 of the sector, then of track, sector and status
};
RecordHead record_head(const std::uint8_t (&head)[5]);
std::array<std::uint8_t, 5> record_head_bytes(const RecordHead& head);
// The CRC a record carries for these 512 bytes at that place and status.
std::uint16_t record_crc(const std::uint8_t* sector, int track, int index, std::uint8_t status);
