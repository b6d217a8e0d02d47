// disk_read.h - the disk in Einstein drive 0, back to the PC (tobrin -read):
//
//   PC -> Einstein  "S" and the read code (the program's second stage) as
//                   one block; a silence
//   PC -> Einstein  "R", track, sector, check (the three sum to FFh)
//   Einstein -> PC  the drive check's status byte (0 = usable) and, when
//                   it is 0, the drive flags byte
//   Einstein -> PC  for each sector from that position on (track by track,
//                   side 0's IDs 0-9, side 1's 10-19), a record: its
//                   position (track, sector), its status byte (the
//                   monitor's error code, 0 = read), the CRC-16 of the 512
//                   bytes as read and then of those three bytes (high byte
//                   first), and the sector as a block
//   PC -> Einstein  SECTOR_TAKEN, or ANSWER_AGAIN for the record again
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
