// disc_builder.h - disc images made by the tests themselves: extended DSK
// images with chosen sector IDs and size-table entries, raw dumps, and
// sector contents that tell where they came from.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// 512 bytes that name their origin: track, side and sector ID in the first
// three bytes, a pattern of the three after them.
Bytes sector_pattern(int track, int side, int id);

// One track record: a Track-Info block whose ten rows carry `ids`, then the
// ten sectors (each sector_pattern(track, side, id) of its row's ID).
Bytes track_record(int track, int side, const std::array<int, 10>& ids);

// The IDs a standard side carries: 0 to 9, or 10 to 19.
std::array<int, 10> ids_from(int first);

// A Disc-Info block: signature, tracks, sides and the size-table entries.
Bytes disc_info(int tracks, int sides, const Bytes& size_table);

// A whole extended image of standard records (ids 0-9 on side 0, side 1
// numbered from side1_first), every size-table entry 21.
Bytes extended_image(int tracks, int sides, int side1_first = 0);

// A whole standard (not extended) image: one record size in its
// Disc-Info block, each side's sectors stored in the order `ids` gives
// (side 1's numbered from side1_first + the same order).
Bytes standard_image(int tracks, int sides, const std::array<int, 10>& ids, int side1_first = 0);

// A raw dump of `track_sides` track sides, in record order.
Bytes raw_dump(int track_sides);

// Writes bytes to a new file in a temporary folder; the folder goes when the
// process ends.
std::string write_temp_file(const Bytes& bytes, const std::string& name = "image.dsk");
