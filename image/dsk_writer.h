// dsk_writer.h - a disk read from the Einstein as an extended DSK image,
// and the file it goes into.
//
// The image carries every sector with the ID the disk gives it (0-9 on
// side 0, 10-19 on side 1, as the Einstein's format numbers them), and a
// sector that could not be read with what the monitor could read of it
// (or E5h bytes) and the floppy controller's status bits of the failure in
// its sector row, as the extended format allows.
//
// The file is written under a partial name beside the final one and
// renamed only when it is complete: a run that fails leaves no
// half-written image under the name the user gave (nor overwrites one).
#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "image/dsk_layout.h"

// One sector as the Einstein read it.
struct ReadSector {
    std::uint8_t status;                        // the monitor's error code, 0 = read
    std::uint8_t data[dsk::SECTOR_SIZE];        // what was read (E5h where nothing could be)
};

// A whole disk as the Einstein read it.
struct DiskRead {
    int tracks;                     // 40 or 80
    int sides;                      // 1 or 2
    std::vector<ReadSector> sectors;// tracks x sides x 10, in reading order: track by track,
                                    // side 0's IDs 0-9, then side 1's 10-19
};

// The extended DSK image of the disk.
std::vector<std::uint8_t> dsk_image_of(const DiskRead& disk);

// A new image file on its way.  Its name is checked before anything is
// asked of the Einstein (new_image_check); the data goes first into a
// partial file beside it, created new and exclusively (never through a
// link, never over a file that exists), which is put on the disk and then
// renamed to the name; a partial file that is not renamed is removed,
// unless the rename itself failed: then it is kept, and named.
struct StreamCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
struct NewImageFile {
    std::string path;       // the name the user gave
    std::string temporary;  // the partial file, once created
    std::unique_ptr<std::FILE, StreamCloser> stream;  // open on it from its creation to the rename
    bool keep = false;      // renamed into place, or kept after a failed rename
    ~NewImageFile();
};

// What the user's name is now.
enum NewImageTarget {
    NEW_IMAGE_REFUSED = 0,   // a folder, a device, a folder that is not there: after a halt report
    NEW_IMAGE_NEW = 1,       // nothing has the name
    NEW_IMAGE_REPLACES = 2,  // a file, or a link (replaced, never followed)
};
NewImageTarget new_image_check(const char* path);
// Creates the partial file: 1, or 0 after a halt report.
int new_image_begin(NewImageFile* file, const char* path);
// Writes the bytes, puts them on the disk and gives the file its name: 1,
// or 0 after a halt report.
int new_image_finish(NewImageFile* file, const std::vector<std::uint8_t>& bytes);
