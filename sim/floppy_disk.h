// floppy_disk.h - the disk in the virtual Einstein's drive 0.
//
// A track side is what the controller's last Write Track put there, decoded
// into its ID fields and data fields exactly as a controller reading it
// would find them: sectors are looked up by their ID (C, H, R), so a sector
// written later through the MOS lands where the format put that ID.  The
// bytes each Write Track received are kept too.  The whole disk saves as an
// extended DSK image with the IDs it really carries.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

constexpr int DISK_MAX_TRACKS = 80;
constexpr int DISK_BYTES_PER_TRACK = 6250;  // 300 rpm at 250 kbit/s, MFM

struct DiskSector {
    std::uint8_t c, h, r, n;        // the ID field
    int id_offset;                  // disc byte of the ID address mark from the index
    int data_offset;                // disc byte of the first data byte (after the data address mark)
    bool id_crc_ok;                 // the ID field's CRC was right
    bool data_crc_ok;               // the data field's CRC was right
    std::vector<std::uint8_t> data; // 128 << n bytes; empty when no data field followed
};

struct DiskTrackSide {
    bool formatted;                        // a Write Track has been done here
    std::vector<DiskSector> sectors;       // in the order they pass the head
    std::vector<std::uint8_t> raw;         // the disc bytes written (marks decoded)
};

struct FloppyDisk {
    bool present;            // a disk is in the drive
    bool write_protected;    // its write-protect notch is covered
    int tracks;              // 40 or 80: the drive's track count
    int sides;               // 1 or 2: the drive's heads
    DiskTrackSide track[DISK_MAX_TRACKS][2];
};

void disk_init(FloppyDisk* disk, int tracks, int sides);
// The sector with ID record r on the track side, or null.
DiskSector* disk_find_sector(FloppyDisk* disk, int track, int side, int r);
// Decodes the disc bytes of one Write Track (with the positions of the sync
// bytes written by F5h) into the track side's sectors.
void disk_decode_track(FloppyDisk* disk, int track, int side, const std::vector<std::uint8_t>& bytes,
                       const std::vector<bool>& sync);
// Saves as an extended DSK image (image/dsk_codec): every drive track and
// side, sectors in their order on the track with their true IDs and a data
// CRC error flagged in their status bits; an unformatted track side is a
// record left out.  False when the file cannot be written.
bool disk_save_dsk(const FloppyDisk* disk, const std::string& path);
// Puts a DSK image, standard or extended (image/dsk_codec), onto the disk
// (as a disk written elsewhere): every record's sectors with their IDs, in
// the order of its sector list, laid round the track as a format would.
// The drive keeps its own tracks and sides.  False when the file cannot be
// read or is not such an image.
bool disk_load_dsk(FloppyDisk* disk, const std::string& path);
