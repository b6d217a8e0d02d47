// wire_protocol.h - every byte value the PC and the target program agree
// on, in one place; each one the target program also names is checked
// against its assembled label at compile time.
//
// The conversation, PC side (the block framing is link/block_transfer.h):
//
//   program block   2048 raw bytes through the typed loader
//   format          PC "*"; Einstein: drive check status, format status
//   write           Einstein: drive flags; PC: image tracks, sectors per
//                   cylinder (10/20), batch size (80); then per batch PC:
//                   batch byte and the sector blocks (-verify: their
//                   CRC-16s; -fast: compressed, target/packed.asm),
//                   Einstein: the status block; PC: end byte
//   resume          "W", sectors per cylinder, batch size, track, sector,
//                   check byte; Einstein: "W" and its drive flags
//   report          after a status block of failures only: the drive flags
//                   and the status block again
//   still working?  after a long silence while a batch is written, PC:
//                   WORK_QUESTION; Einstein: WORKING_NOTICE after each of
//                   its sector calls from then on, until the status block
//   second stage    "S" and its first part as one block, "S" back once it
//                   is in place (-verify, -read, -fast); "T" and its
//                   second part likewise (-read, -fast); "F", a rate and
//                   its probe (link/fast_line.h)
//   checked format  "X" (-fast): as "*", each status byte followed by its
//                   complement and confirmed by the PC ("C"), else again
//   read            "R", track, sector, check byte; Einstein: drive check
//                   status, drive flags, then per sector its record -
//                   position (track, sector), status byte, CRC-16, the
//                   sector block - which the PC takes (06h) or has again
#pragma once
#include <cstdint>

#include "link/sector_lz.h"
#include "target/target_program.h"

// --- Commands and framing bytes ---------------------------------------------
constexpr std::uint8_t FORMAT_COMMAND = 0x2A;   // "*": check the drive, format it
constexpr std::uint8_t RESUME_COMMAND = 'W';    // write on from a track and sector
constexpr std::uint8_t READ_COMMAND = 'R';      // read from a track and sector on
constexpr std::uint8_t STAGE_TWO_COMMAND = 'S'; // the program's second stage follows as a block
constexpr std::uint8_t FAST_COMMAND = 'F';      // a line rate to try (link/fast_line.h)
constexpr std::uint8_t BATCH_BYTE = 0;          // a batch of sectors to write
constexpr std::uint8_t VERIFY_BATCH = 4;        // the same, each sector read back and compared
// A batch of compressed sectors, always verified (-fast, once the second
// stage is in place): its first track and sector follow the byte, checked
// (send_checked_command), so the batches may go in any order; then one
// block per sector, each carrying its number in the
// batch (FILLER_FLAG: the format's filler, read back but not written), the
// CRC-16 of the sector and its compressed form (link/sector_lz.h; neither
// for the filler), and the CRC-16 of the block; LAYABLE_FLAG in the
// length's high byte tells that the
// sector holds no F5h-F7h, so the Write Track may lay it down
// (target/packed.asm).
constexpr std::uint8_t PACKED_BATCH = 'P';
constexpr std::uint8_t FILLER_FLAG = 0x80;
constexpr std::uint8_t LAYABLE_FLAG = 0x80;
constexpr int PACKED_HEADER = 6;                // length (2, low first) and its check, number, CRC (2, high first)
constexpr int PACKED_TRAILER = 2;               // the block's CRC-16, high first
// While a compressed batch is written, the PC streams the next one's first
// blocks (as many as STREAM_MAX bytes take, with this header: their length,
// low first, the batch's first track and sector, and a check byte that
// makes the five sum to FFh; a length of 0 when no batch follows).  The
// next batch byte is answered with the number of blocks the Einstein took
// of it and that number's complement.  While blocks are due, the PC then
// sends the batch's rest from the first one due as a stream (a follow;
// its header names the batch), answered as the batch byte, up to
// FOLLOW_STREAMS times a batch; the rest go one by one.
constexpr int STREAM_HEADER = 5;
// While a compressed batch is written, its next batch's stream goes only as
// the Einstein grants it (target/grant.asm): GRANT_UNITS + n, n units of
// GRANT_UNIT bytes more; GRANT_REST, the rest.
constexpr std::uint8_t GRANT_UNITS = 0x80;
constexpr std::uint8_t GRANT_REST = 0x80;
constexpr int GRANT_UNIT = 32;
constexpr int FOLLOW_STREAMS = target_program_image_labels::FOLLOW_STREAMS;
constexpr int STREAM_MAX = target_program_image_labels::STREAM_MAX;
// After a batch of FAST_BATCH_SECTORS the stream has the rest of the
// Einstein's batch buffer, and room for about a whole batch of random bytes.
constexpr int STREAM_MAX_WIDE = target_program_image_labels::STREAM_MAX_WIDE;
constexpr std::uint8_t REPORT_COMMAND = 1;      // the drive flags and the last status block again
constexpr std::uint8_t END_BYTE = 2;            // the write is complete
constexpr int BATCH_SECTORS = 80;               // sectors in a batch (and bytes in its status block)
// -fast: smaller batches, so that the rest of the Einstein's batch buffer
// holds the next one's stream and the line works beside the disk from
// early on.
constexpr int FAST_BATCH_SECTORS = 40;
// While a batch is written: the PC asks whether the Einstein still works,
// which from then on tells after each of its monitor's sector calls.
constexpr std::uint8_t WORK_QUESTION = '?';
constexpr std::uint8_t WORKING_NOTICE = 0x16;
// The resume's answer, in place of "W", when the second stage is in place,
// whole or its first part only.
constexpr std::uint8_t RESUMED_WITH_STAGE = 0x06;
constexpr std::uint8_t RESUMED_WITH_FIRST_PART = 0x17;
constexpr std::uint8_t STAGE_REST_COMMAND = 'T';  // the second stage's second part follows, in blocks of
constexpr int STAGE_REST_PIECE = 512;              // this many bytes (the last shorter): at a byte in a
                                                   // thousand damaged, each gets across in a pass or two
constexpr std::uint8_t STAGE_TWO_TAKEN = 'S';   // a block of the second stage got across
// The checked format (-fast): "X", and the PC's word on each status byte
// and its complement (anything else has the two again).
constexpr std::uint8_t CHECKED_FORMAT_COMMAND = 'X';
constexpr std::uint8_t STATUS_CONFIRMED = 'C';
// A read sector's record: taken; ANSWER_AGAIN (or any other byte) has it
// again, as it has a checked format's status byte again.
constexpr std::uint8_t SECTOR_TAKEN = 0x06;
constexpr std::uint8_t ANSWER_AGAIN = 0x18;

constexpr std::uint8_t FILL_MARKER = 0x03;      // a block of one value: the marker and the value
constexpr std::uint8_t FULL_MARKER = 0x00;      // a block in full, under checksums
// The Einstein sends this when one of its poll limits ran out and it went
// back to its command loop (never in a run without faults).
constexpr std::uint8_t TIMEOUT_NOTICE = 0x15;

// --- The drive flags byte (the monitor's drive configuration) ---------------
constexpr std::uint8_t DRIVE_80_TRACKS = 0x10;
constexpr std::uint8_t DRIVE_TWO_SIDES = 0x01;

// --- Status bytes: the monitor's error codes, and a verified batch's ---------
constexpr std::uint8_t MOS_BAD_DATA = 1, MOS_WRITE_PROTECTED = 2, MOS_NOT_FOUND = 3, MOS_NOT_READY = 4,
                       MOS_NO_DRIVE = 5;
constexpr std::uint8_t STATUS_VERIFIED_AFTER_REWRITE = 0x80;  // + the rewrites it took
constexpr std::uint8_t STATUS_VERIFY_MISMATCH = 0x40;         // read back, but not what was sent
constexpr std::uint8_t STATUS_READ_FAILED = 0x20;             // + the monitor's code

// The cause of a failed sector's status byte, in words.
const char* sector_failure_text(std::uint8_t status);

namespace wire_checks {
namespace labels = target_program_image_labels;
static_assert(RESUME_COMMAND == labels::RESUME_COMMAND);
static_assert(READ_COMMAND == labels::READ_COMMAND);
static_assert(STAGE_TWO_COMMAND == labels::STAGE_TWO_COMMAND);
static_assert(FAST_COMMAND == labels::FAST_COMMAND);
static_assert(END_BYTE == labels::END_BYTE);
static_assert(REPORT_COMMAND == labels::REPORT_COMMAND);
static_assert(VERIFY_BATCH == labels::VERIFY_BATCH);
static_assert(PACKED_BATCH == labels::PACKED_BATCH);
static_assert(FILLER_FLAG == labels::FILLER_FLAG);
static_assert(labels::PACKED_MAX == PACKED_HEADER - 3 + LZ_MAX_FORM + PACKED_TRAILER);
static_assert(LAYABLE_FLAG == labels::LAYABLE_FLAG);
static_assert(STREAM_HEADER == labels::STREAM_HEADER);
static_assert(GRANT_UNITS == labels::GRANT_UNITS);
static_assert(GRANT_REST == labels::GRANT_REST);
static_assert(GRANT_UNIT == labels::GRANT_UNIT);
static_assert(STATUS_VERIFY_MISMATCH == labels::VERIFY_MISMATCH);
static_assert(STATUS_READ_FAILED == labels::READ_FAILED);
static_assert(STATUS_VERIFIED_AFTER_REWRITE == labels::VERIFIED_AFTER_REWRITE);
static_assert(BATCH_SECTORS == labels::MAX_BATCH);
static_assert(FAST_BATCH_SECTORS == labels::PACKED_BATCH_MAX);
static_assert(FORMAT_COMMAND == labels::FORMAT_COMMAND);
static_assert(FILL_MARKER == labels::FILL_MARKER);
static_assert(FULL_MARKER == labels::FULL_MARKER);
static_assert(TIMEOUT_NOTICE == labels::TIMEOUT_NOTICE);
static_assert(WORK_QUESTION == labels::WORK_QUESTION);
static_assert(WORKING_NOTICE == labels::WORKING_NOTICE);
static_assert(RESUMED_WITH_STAGE == labels::RESUMED_WITH_STAGE);
static_assert(RESUMED_WITH_FIRST_PART == labels::RESUMED_WITH_FIRST_PART);
static_assert(STAGE_REST_COMMAND == labels::STAGE_REST_COMMAND);
static_assert(STAGE_REST_PIECE == labels::STAGE_REST_PIECE);
static_assert(STAGE_TWO_TAKEN == labels::STAGE_TWO_TAKEN);
static_assert(CHECKED_FORMAT_COMMAND == labels::CHECKED_FORMAT_COMMAND);
static_assert(STATUS_CONFIRMED == labels::STATUS_CONFIRMED);
static_assert(SECTOR_TAKEN == labels::SECTOR_TAKEN);
static_assert(ANSWER_AGAIN != SECTOR_TAKEN);
}  // namespace wire_checks
