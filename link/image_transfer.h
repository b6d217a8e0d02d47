// image_transfer.h - the whole disc image to the Einstein after the format:
//
//   Einstein -> PC  drive flags byte (bit 4: 80 tracks, bit 0: two sides)
//   PC -> Einstein  image tracks, image sectors per cylinder (10/20), 80
//   PC -> Einstein  0, then 80 sector blocks        } once per batch, until
//   Einstein -> PC  80-byte status block            } the drive is covered
//   PC -> Einstein  2, the end byte
#pragma once
#include <cstdint>

constexpr int BATCH_SECTORS = 80;
constexpr std::uint8_t BATCH_BYTE = 0;
constexpr std::uint8_t END_BYTE = 2;
// Resume after a fault: "W", sectors per cylinder, batch size, track,
// sector and a check byte that makes the last five sum to FFh; the
// Einstein acknowledges with "W" and its drive flags byte.
constexpr std::uint8_t RESUME_COMMAND = 'W';
// After a status block that says every sector of the batch failed: the
// Einstein sends its drive flags byte and the status block again.
constexpr std::uint8_t REPORT_COMMAND = 1;
constexpr std::uint8_t DRIVE_80_TRACKS = 0x10;
constexpr std::uint8_t DRIVE_TWO_SIDES = 0x01;

// Sends the named image, or the built-in system disk for a null name,
// recovering from faults on the line.  1 when the end byte went out and
// every sector was written; 0 after a halt report (image unusable, no
// memory, link lost, the Einstein gone, sectors not written).
int transfer_image(const char* name);
