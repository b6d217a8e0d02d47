// program_probe.h - the one part of the virtual Einstein that knows
// TOBRIN's own program: its labels (target/target_program.h), for
// einstein-sim's figures and for faults that begin with the program.
// The machine itself - board, monitor, controller, 8251, disk - knows
// nothing of what it runs.
//
// What it watches: where the program starts, where its format begins
// (the plain one, or the one laid down with the writes of -fast), where
// the image write begins; and where the program takes a block in, to
// count the blocks it took with a byte the line had changed.
#pragma once
#include <cstdint>

#include "sim/einstein.h"

// The blocks the program took in with a byte changed on the line: full
// blocks whose 8-bit checksum let the change through, blocks in the fill
// form, which have no checksum at all, and compressed blocks (-fast) whose
// CRC-16 let it through.
struct BlockWatch {
    std::uint64_t changed_at_start = 0;       // the 8251's changed bytes taken when the block began
    std::uint64_t full_taken_changed = 0;
    std::uint64_t fill_taken_changed = 0;
    std::uint64_t compressed_taken_changed = 0;
};

// The program's phases, as einstein_watch indices.
struct ProgramProbe {
    int at_program;      // the program's first instruction
    int at_format;       // the plain format
    int at_laid_format;  // the format laid down with the writes (-fast)
    int at_write;        // the image write
};

// Watches the program in `e` (its traps and watches set); unless
// `faults_from_start`, the line's faults begin with the program.
ProgramProbe probe_program(Einstein* e, bool faults_from_start);
// When the format command was taken (either kind); UINT64_MAX before.
std::uint64_t probe_format_time(const Einstein* e, const ProgramProbe& probe);
// The format was laid down with the writes.
bool probe_format_laid(const Einstein* e, const ProgramProbe& probe);
// The blocks taken with a changed byte, so far.
const BlockWatch& probe_blocks();

// A byte of a protocol event changed on the line (5Ah flipped), at the
// event's n-th time: "follow-answer:2" is the Einstein's answer to the
// second follow stream.  The events:
//   format-status      the Einstein's first format status byte
//   drive-flags        its drive flags byte before the image
//   follow-answer      its answer to a follow stream (-fast)
//   stage-checksum     the PC's checksum of the second stage's first part
//   record-answer      the PC's first answer to a sector record (-read)
//   record-fill-value  the value of a record's block in the fill form
// False for a name not among them.
bool probe_change_at(Einstein* e, const char* event);
// The event that was changed, or null when none (yet).
const char* probe_event_changed();
