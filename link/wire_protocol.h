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
//   second stage    "S" and the second stage's code as one block (-read,
//                   -fast); "F", a rate and its probe (link/fast_line.h)
//   read            "R", track, sector, check byte; Einstein: drive check
//                   status, drive flags, then per sector its position
//                   (track, sector), its status byte and the sector block
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
// stage is in place): one block per sector, each carrying its number in the
// batch (FILLER_FLAG: the format's filler, read back but not written), the
// CRC-16 of the sector and its number, and its compressed form
// (link/sector_lz.h; target/packed.asm).
constexpr std::uint8_t PACKED_BATCH = 'P';
constexpr std::uint8_t FILLER_FLAG = 0x80;
constexpr int PACKED_HEADER = 6;                // length (2, low first) and its check, number, CRC (2, high first)
constexpr std::uint8_t REPORT_COMMAND = 1;      // the drive flags and the last status block again
constexpr std::uint8_t END_BYTE = 2;            // the write is complete
constexpr int BATCH_SECTORS = 80;               // sectors in a batch (and bytes in its status block)

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
static_assert(labels::PACKED_MAX == PACKED_HEADER - 3 + LZ_MAX_FORM);
static_assert(STATUS_VERIFY_MISMATCH == labels::VERIFY_MISMATCH);
static_assert(STATUS_READ_FAILED == labels::READ_FAILED);
static_assert(STATUS_VERIFIED_AFTER_REWRITE == labels::VERIFIED_AFTER_REWRITE);
static_assert(BATCH_SECTORS == labels::MAX_BATCH);
static_assert(FORMAT_COMMAND == labels::FORMAT_COMMAND);
static_assert(FILL_MARKER == labels::FILL_MARKER);
static_assert(FULL_MARKER == labels::FULL_MARKER);
static_assert(TIMEOUT_NOTICE == labels::TIMEOUT_NOTICE);
}  // namespace wire_checks
