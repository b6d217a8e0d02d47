// sector_lz.h - the compressed form of a 512-byte sector on the line, an
// LZ77 form made for a Z80 that expands it with LDIR (target/expand.asm):
//
//   token 00h-7Fh   a run of token + 1 literal bytes follows (1-128)
//   token 80h-FFh   a copy of (token - 80h) + 3 bytes (3-130) from d bytes
//                   back in what is expanded so far; the next byte is d - 1
//                   (d = 1-256; d shorter than the copy repeats a pattern)
//
// The form has no end mark: it ends when 512 bytes are expanded.  Random
// data grows by one byte in 128; the compressor takes the longest copy it
// finds within 256 bytes back (greedy), which is what a sector of code,
// text or a directory gives most of.
#pragma once
#include <cstdint>
#include <vector>

constexpr int LZ_SECTOR_SIZE = 512;
constexpr int LZ_MAX_LITERALS = 128;
constexpr int LZ_MIN_COPY = 3;
constexpr int LZ_MAX_COPY = 130;
constexpr int LZ_MAX_DISTANCE = 256;
// The longest compressed sector: all literals.
constexpr int LZ_MAX_FORM = LZ_SECTOR_SIZE + LZ_SECTOR_SIZE / LZ_MAX_LITERALS;

// Compresses one sector.
std::vector<std::uint8_t> lz_compress_sector(const std::uint8_t* sector);
// Expands a compressed sector into `sector`: true when the form is whole
// (it expands to exactly 512 bytes, every copy within what is there, and
// no byte is left over).
bool lz_expand_sector(const std::uint8_t* form, std::size_t length, std::uint8_t* sector);
