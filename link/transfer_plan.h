// transfer_plan.h - what an image write sends, and in which order: the
// image fitted to the drive the Einstein reports, the sectors fetched from
// the image in sending order, and the order of the batches.
//
// How many sectors go out: the drive's track count times the image's
// sectors per cylinder.  The Einstein places the sectors it receives by the
// image's sectors per cylinder (the second geometry byte), so this is what
// covers the drive's tracks; counting in the drive's own sides instead
// would send a one-sided image to a two-sided drive onto tracks that do not
// exist.  When image and drive have the same sides the two counts agree.
// Image sectors run out into blank sectors (two bytes each on the line);
// an image larger than the drive is cut at the drive's size.
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "image/disc_image.h"
#include "link/link_console.h"

// The most tracks an Einstein drive has, and the geometry byte takes.
constexpr int MAX_TRACKS = 80;

// The geometry of one write: the image's, the drive's, and what goes out.
struct TransferPlan {
    int image_tracks_whole;     // the image's own tracks ...
    int image_spc_whole;        // ... and sectors per cylinder, before the fit to the drive
    int image_tracks;           // the image's tracks, as far as the geometry byte takes them
    int sectors_per_cylinder;   // the image's sides x 10, as far as the drive takes them
    bool fitted;                // the image has been fitted to a drive (and said so)
    bool geometry_sent;         // a batch has gone out with sectors_per_cylinder: it stays
    std::uint8_t flags;         // the drive flags byte
    int total;                  // sectors to send: drive tracks x sectors_per_cylinder
    int batch_sectors;          // sectors a batch
    bool builtin;               // the built-in boot disk (its first sector names the drive)
};

// The plan for `image` in batches of `batch_sectors`, before the drive is known.
TransferPlan plan_transfer(const DiscImage* image, int batch_sectors, bool builtin);
// Takes the drive flags: the image is fitted to the drive, and the number
// of sectors to send follows.  What is left out of an image larger than
// the drive, the first time only (it is said once).
std::optional<DriveFit> fit_to_drive(TransferPlan* plan, std::uint8_t flags);

// Where the next sector comes from in the image.
struct ImageCursor {
    DiscImage* image;
    int track, index;  // the image position of the next sector to fetch
};
// The next sector of the image in sending order, into `sector`.
void fetch_sector(const TransferPlan& plan, ImageCursor* cursor, std::uint8_t* sector);
// The image position of the drive's sector `n`: the next fetch reads it.
void seek_sector(const TransferPlan& plan, ImageCursor* cursor, int n);

// A batch of sectors as fetched from the image, so that a batch sent again
// goes unchanged (and the reader's warnings come once).
struct SectorBatch {
    std::vector<std::uint8_t> sectors;  // room for the largest batch
    int first;                          // its first sector, or -1
    int fetched;                        // sectors fetched so far
};
// Sector k of the batch, fetched first when it is the next one due.
struct BatchSector {
    std::uint8_t* data;
    bool first_time;  // it was fetched now (its bytes count as sent once)
};
BatchSector batch_sector(const TransferPlan& plan, ImageCursor* cursor, SectorBatch* batch, int k);

// The first sector of the batch that goes first, out of the drive's
// order, or -1 (compressed batches only): the last batch when it holds the
// filler alone (a disk's blank end), so that its disk work, which no line
// time would cover at the end, goes on while the first batch with data
// streams in.  The image is looked at without its warnings: they come
// when it is sent.
int lead_batch(const TransferPlan& plan, ImageCursor* cursor);
// The batch that goes after the one at `first`: the lead batch first, then
// the others in the drive's order (plan.total or more: none).
int batch_after(const TransferPlan& plan, int first, int lead);
