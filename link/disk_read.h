// disk_read.h - the disk in Einstein drive 0, back to the PC (tobrin
// -read): the second stage first, then "R" and a record a sector
// (docs/protocol.md).
//
// A record whose CRC does not agree with what came - its block, position
// or status damaged on the line, even where the block's checksum lets it
// through, or in a block of one value, which has none - is had again,
// LINK_MAX_PASSES times at most.  A sector that does not get across, or
// that comes with another position than the PC expects (the stream out of
// step), is asked for again, after the Einstein is back in its command
// loop, with "R" and its position.
#pragma once
#include <cstdint>

#include "image/disc_image.h"
#include "image/dsk_writer.h"
#include "link/fast_line.h"

// Reads the whole disk into `disk`, with a progress line per sector: 1, or
// 0 after a halt report.  The read is the second stage's: it is sent first
// unless `program` has it in place.
int read_disk(DiskRead* disk, ProgramState* program);
