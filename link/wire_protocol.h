// wire_protocol.h - the values of the line between TOBRIN and its program
// on the Einstein, as C++ constants.  They come from link/wire_table.def,
// from which the Z80 side's wire.inc is made too; docs/protocol.md tells
// the exchanges (the block framing's code is link/block_transfer.h).
#pragma once
#include <cstdint>

#include "link/sector_lz.h"
#include "target/target_program.h"

// Every value of the line, from the one table (link/wire_table.def):
// the bytes as std::uint8_t, the counts as int.
#define WIRE_BYTE(name, value, from, when, meaning) constexpr std::uint8_t name = value;
#define WIRE_SIZE(name, value, when, meaning) constexpr int name = value;
#include "link/wire_table.def"
#undef WIRE_BYTE
#undef WIRE_SIZE

// What the program's assembly decides (its room), beside the table.
constexpr int FOLLOW_STREAMS = target_program_image_labels::FOLLOW_STREAMS;
constexpr int STREAM_MAX = target_program_image_labels::STREAM_MAX;
// After a batch of FAST_BATCH_SECTORS the stream has the rest of the
// Einstein's batch buffer, and room for about a whole batch of random bytes.
constexpr int STREAM_MAX_WIDE = target_program_image_labels::STREAM_MAX_WIDE;

// The cause of a failed sector's status byte, in words.
const char* sector_failure_text(std::uint8_t status);

namespace wire_checks {
namespace labels = target_program_image_labels;
// The notices come unasked where the PC may be waiting for a count of
// sectors (0 to BATCH_SECTORS), a track, a grant, a block marker or a
// resume's answer: their values are none of those.
static_assert(WORKING_NOTICE > BATCH_SECTORS && WORKING_NOTICE < GRANT_UNITS);
static_assert(TIMEOUT_NOTICE > BATCH_SECTORS && TIMEOUT_NOTICE < GRANT_UNITS);
static_assert(TIMEOUT_NOTICE != WORKING_NOTICE && TIMEOUT_NOTICE != FULL_MARKER && TIMEOUT_NOTICE != FILL_MARKER);
// The program's largest compressed block is the table's framing around the
// longest form the compressor makes.
static_assert(labels::PACKED_MAX == PACKED_HEADER - 3 + LZ_MAX_FORM + PACKED_TRAILER);
}  // namespace wire_checks
