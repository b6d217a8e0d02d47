// sector_lz.h - the compressed form of a 512-byte sector on the line, an
// LZ77 form made for a Z80 that expands it with LDIR (target/expand.asm):
//
//   token 00h-7Fh   a run of token + 1 literal bytes follows (1-128)
//   token 80h-BFh   a copy of (token - 80h) + 3 bytes (3-66) from d bytes
//                   back; the next byte is d - 1 (d = 1-256)
//   token C0h-FFh   a copy of (token - C0h) + 4 bytes (4-67) from d bytes
//                   back; the next two bytes are d - 1, low byte first
//                   (d = 1-65536)
//
// "Back" is in what is expanded so far: the sector's own bytes and, before
// them, the earlier sectors of the same batch, which the Einstein keeps in
// one buffer in the batch's order (a d shorter than the copy repeats a
// pattern).  The form has no end mark: it ends when 512 bytes are
// expanded.  Random data grows by one byte in 128.  The compressor finds,
// at each place, the longest copy within each reach (one distance byte or
// two), and then the shortest form of the whole sector from those copies
// and runs of literals (from the sector's end back).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr int LZ_SECTOR_SIZE = 512;
constexpr int LZ_MAX_LITERALS = 128;
constexpr int LZ_MIN_COPY = 3;        // a near copy (one distance byte)
constexpr int LZ_MAX_COPY = 66;
constexpr int LZ_MAX_NEAR = 256;      // the farthest a near copy reaches
constexpr int LZ_MIN_FAR_COPY = 4;    // a far copy (two distance bytes)
constexpr int LZ_MAX_FAR_COPY = 67;
constexpr int LZ_MAX_DISTANCE = 65536;
// The longest compressed sector: all literals.
constexpr int LZ_MAX_FORM = LZ_SECTOR_SIZE + LZ_SECTOR_SIZE / LZ_MAX_LITERALS;

// Compresses the sector at base + offset, with the `offset` bytes before
// it (the batch's earlier sectors) to copy from.
std::vector<std::uint8_t> lz_compress_sector(const std::uint8_t* base, std::size_t offset);
// Expands a compressed sector into base + offset, copying from there and
// the `offset` bytes before it: true when the form is whole (it expands to
// exactly 512 bytes, every copy within what is there, and no byte is left
// over).
bool lz_expand_sector(const std::uint8_t* form, std::size_t length, std::uint8_t* base, std::size_t offset);
