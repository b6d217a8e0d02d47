// disk_read.h - the disk in Einstein drive 0, back to the PC (tobrin -read):
//
//   PC -> Einstein  "S" and the read code (the program's second stage) as
//                   one block; a silence
//   PC -> Einstein  "R", track, sector, check (the three sum to FFh)
//   Einstein -> PC  the drive check's status byte (0 = usable) and, when
//                   it is 0, the drive flags byte
//   Einstein -> PC  for each sector from that position on (track by track,
//                   side 0's IDs 0-9, side 1's 10-19): its position (track,
//                   sector), its status byte (the monitor's error code,
//                   0 = read) and the sector as a block
//
// A sector that does not get across, or that comes with another position
// than the PC expects (the stream out of step), is asked for again, after
// the Einstein is back in its command loop, with "R" and its position.
#pragma once
#include <cstdint>

#include "image/disc_image.h"
#include "image/dsk_writer.h"

// Reads the whole disk into `disk`, with a progress line per sector: 1, or
// 0 after a halt report.
int read_disk(DiskRead* disk);
