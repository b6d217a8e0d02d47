// image_send.h - step 2 of a write: the disc image to the Einstein, on the
// console ("2) Sending disk image ...", the progress line, the summary).
#pragma once
#include "image/disc_image.h"
#include "link/fast_line.h"

// Sends the named image, or the built-in system disk for a null name,
// recovering from faults on the line.  1 when the end byte went out and
// every sector was written; 0 after a halt report (image unusable, no
// memory, link lost, the Einstein gone, sectors not written).
int transfer_image(const char* name);
// The same for an image already read (image_load_file) under that name,
// or the built-in disk when image is null; the image stays the caller's.
// With verify every sector is read back on the Einstein and compared;
// with fast the sectors also go compressed (link/image_transfer.h).
int transfer_loaded_image(DiscImage* image, const char* name, int verify, bool fast, ProgramState* program);
