// default_image.h - the system disk TOBRIN carries and sends when no image
// file is named: an extended DSK image of 40 tracks, one side, 10 sectors
// of 512 bytes (IDs 0-9) a track, built by the compiler from the assembled
// boot code.  Track 0 sector 0 holds the boot sector; tracks 0 and 1 are the
// system tracks; track 2 sectors 0-3 are an empty directory (E5h); every
// other byte is E5h.
#pragma once
#include <cstdint>

#include "image/dsk_layout.h"

constexpr std::int32_t DEFAULT_IMAGE_SIZE = dsk::INFO_BLOCK_SIZE + 40 * dsk::RECORD_SIZE;  // 215296

extern const unsigned char* const default_image;
extern const std::int32_t default_image_length;
