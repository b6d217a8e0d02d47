// default_image.h - the system disk TOBRIN carries and sends when no image
// file is named: the TOBRIN boot disk, an extended DSK image of 40 tracks,
// one side, 10 sectors of 512 bytes (IDs 0-9) a track, built by the
// compiler from the assembled boot code and target program.  Track 0
// sector 0 holds the boot sector, sectors 1-4 the target program (the 2048
// bytes the typed loader takes); tracks 0 and 1 are the system tracks;
// track 2 sectors 0-3 are an empty directory (E5h); every other byte is E5h.
#pragma once
#include <cstdint>

#include "image/dsk_layout.h"

constexpr std::int32_t DEFAULT_IMAGE_SIZE = dsk::INFO_BLOCK_SIZE + 40 * dsk::RECORD_SIZE;  // 215296

extern const unsigned char* const default_image;
extern const std::int32_t default_image_length;
// Puts the machine's drive flags byte into the boot sector's drive-type
// byte, as the disk is written: the monitor keeps that byte as the drive
// configuration after a boot, and the program booted from the disk must
// format and write the drive as it is (two sides, 80 tracks) - not as the
// 40-track one-sided drive the built-in image is made for.
void default_image_set_drive_type(std::uint8_t* boot_sector, std::uint8_t drive_flags);
