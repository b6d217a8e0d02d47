// image_transfer.h - the whole disc image to the Einstein after the format:
//
//   Einstein -> PC  drive flags byte (bit 4: 80 tracks, bit 0: two sides)
//   PC -> Einstein  image tracks, image sectors per cylinder (10/20), 80
//   PC -> Einstein  0, then 80 sector blocks        } once per batch, until
//   Einstein -> PC  80-byte status block            } the drive is covered
//   PC -> Einstein  2, the end byte
#pragma once
#include <cstdint>
#include <vector>

#include "image/disc_image.h"

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
// -verify: a batch whose sectors the Einstein reads back; after its 80
// sectors the PC sends a block of their CRC-16s (high byte first).
constexpr std::uint8_t VERIFY_BATCH = 4;
// Status bytes of a verified batch, beside the monitor's error codes.
constexpr std::uint8_t STATUS_VERIFIED_AFTER_REWRITE = 0x80;  // + the rewrites it took
constexpr std::uint8_t STATUS_VERIFY_MISMATCH = 0x40;         // read back, but not what was sent
constexpr std::uint8_t STATUS_READ_FAILED = 0x20;             // + the monitor's code
// The monitor's error codes.
constexpr std::uint8_t MOS_BAD_DATA = 1, MOS_WRITE_PROTECTED = 2, MOS_NOT_FOUND = 3, MOS_NOT_READY = 4,
                       MOS_NO_DRIVE = 5;
constexpr std::uint8_t DRIVE_80_TRACKS = 0x10;
constexpr std::uint8_t DRIVE_TWO_SIDES = 0x01;

// Sends the named image, or the built-in system disk for a null name,
// recovering from faults on the line.  1 when the end byte went out and
// every sector was written; 0 after a halt report (image unusable, no
// memory, link lost, the Einstein gone, sectors not written).
// With verify, every sector is read back on the Einstein and compared.
int transfer_image(const char* name, int verify = 0);
// The same for an image already read (image_load_file) under that name,
// or the built-in disk when image is null; the image stays the caller's.
int transfer_loaded_image(DiscImage* image, const char* name, int verify);
// The cause of a failed sector's status byte, in words.
const char* sector_failure_text(std::uint8_t status);
// The failed sectors of a disk's status table (spc to a cylinder): one line
// for each track side and cause, the sector IDs in ranges -
// "  + Track 12 side 1: sectors 10-19: not ready".
void print_sector_failures(const std::vector<std::uint8_t>& status, int spc);
