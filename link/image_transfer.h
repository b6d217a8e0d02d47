// image_transfer.h - the whole disc image to the Einstein after the format
// (the exchange is in docs/protocol.md):
//
//   Einstein -> PC  drive flags byte (bit 4: 80 tracks, bit 0: two sides)
//   PC -> Einstein  image tracks, image sectors per cylinder (10/20), 80
//   PC -> Einstein  0, then 80 sector blocks        } once per batch, until
//                   (-verify: 4, the blocks and     } the drive is covered
//                   their CRC-16s; -fast: "P" and   }
//                   80 compressed blocks)           }
//   Einstein -> PC  80-byte status block            }
//   PC -> Einstein  2, the end byte
//
// The plan (what goes, in which order) is link/transfer_plan.h, a batch on
// the line and the way back after a fault link/batch_exchange.h, -fast's
// compressed streams link/packed_stream.h.
#pragma once
#include <cstdint>
#include <vector>

#include "image/disc_image.h"
#include "link/fast_line.h"
#include "link/packed_stream.h"

// What an image write came to.
struct TransferReport {
    bool sent;                   // every batch went and the end byte after them (false: after a halt report)
    int recoveries;              // line faults recovered ...
    double recovery_seconds;     // ... and the time they took
    bool verified;               // every sector was read back on the Einstein
    bool packed;                 // the sectors went compressed ...
    PackStats packing;           // ... these bytes of them as these
    int rewritten;               // sectors read back right only after rewrites
    int failed;                  // sectors not written (or not read back right)
    std::vector<std::uint8_t> status;  // a status byte a sector of the drive ...
    int sectors_per_cylinder;          // ... of these a cylinder
};

// Sends `image` (`builtin`: the built-in system disk, whose first sector
// is made to name the drive) once the Einstein has formatted the disk,
// recovering from faults on the line.  With verify (the second stage in
// place: `program`) every sector is read back on the Einstein and
// compared; with fast the sectors also go compressed, and the progress
// line gives the line's throughput and the time left.  A second stage
// found gone on the way is sent again.
TransferReport send_image(DiscImage* image, bool builtin, bool verify, bool fast, ProgramState* program);
