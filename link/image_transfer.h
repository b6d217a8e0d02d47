// image_transfer.h - the whole disc image to the Einstein after the format
// (the conversation is in link/wire_protocol.h):
//
//   Einstein -> PC  drive flags byte (bit 4: 80 tracks, bit 0: two sides)
//   PC -> Einstein  image tracks, image sectors per cylinder (10/20), 80
//   PC -> Einstein  0, then 80 sector blocks        } once per batch, until
//                   (-verify: 4, the blocks and     } the drive is covered
//                   their CRC-16s; -fast: "P" and   }
//                   80 compressed blocks)           }
//   Einstein -> PC  80-byte status block            }
//   PC -> Einstein  2, the end byte
#pragma once
#include <cstdint>
#include <vector>

#include "image/disc_image.h"
#include "link/fast_line.h"
#include "link/wire_protocol.h"

// Sends the named image, or the built-in system disk for a null name,
// recovering from faults on the line.  1 when the end byte went out and
// every sector was written; 0 after a halt report (image unusable, no
// memory, link lost, the Einstein gone, sectors not written).
int transfer_image(const char* name);
// The same for an image already read (image_load_file) under that name,
// or the built-in disk when image is null; the image stays the caller's.
// With verify (the second stage in place: `program`) every sector is read
// back on the Einstein and compared; with fast the sectors also go
// compressed, and the progress line gives the line's throughput and the
// time left.  A second stage found gone on the way is sent again.
int transfer_loaded_image(DiscImage* image, const char* name, int verify, bool fast, ProgramState* program);
// The failed sectors of a disk's status table (spc to a cylinder): one line
// for each track side and cause, the sector IDs in ranges -
// "  + Track 12 side 1: sectors 10-19: not ready".
void print_sector_failures(const std::vector<std::uint8_t>& status, int spc);
