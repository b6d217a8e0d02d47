// transfer_plan.cpp - the fit to the drive, the fetch from the image, the
// order of the batches.
#include "link/transfer_plan.h"

#include <cstring>

#include "image/default_image.h"
#include "link/wire_protocol.h"

static int drive_tracks(std::uint8_t flags)
{
    return (flags & DRIVE_80_TRACKS) ? 80 : 40;
}

TransferPlan plan_transfer(const DiscImage* image, int batch_sectors, bool builtin)
{
    TransferPlan plan{};
    plan.image_tracks_whole = plan.image_tracks = image_track_count(image);
    plan.image_spc_whole = plan.sectors_per_cylinder = image_side_count(image) * SECTORS_PER_SIDE;
    plan.batch_sectors = batch_sectors;
    plan.builtin = builtin;
    return plan;
}

// An image larger than the drive is written as far as the drive goes: the
// tracks (and the side) it has no room for are left out.  The geometry
// byte is the image's tracks, but never more than the Einstein takes (80).
// Once a batch has gone out its sectors per cylinder stay (the Einstein
// placed its sectors by them).
std::optional<DriveFit> fit_to_drive(TransferPlan* plan, std::uint8_t flags)
{
    plan->flags = flags;
    int tracks = drive_tracks(flags);
    bool one_side = (flags & DRIVE_TWO_SIDES) == 0;
    int left_out = plan->image_tracks_whole > tracks ? plan->image_tracks_whole - tracks : 0;
    bool side_left_out = one_side && plan->image_spc_whole == 2 * SECTORS_PER_SIDE;
    plan->image_tracks = plan->image_tracks_whole > MAX_TRACKS ? MAX_TRACKS : plan->image_tracks_whole;
    if (!plan->geometry_sent)
        plan->sectors_per_cylinder = side_left_out ? SECTORS_PER_SIDE : plan->image_spc_whole;  // side 0 only
    plan->total = tracks * plan->sectors_per_cylinder;
    if (plan->fitted) return std::nullopt;
    plan->fitted = true;
    if (left_out == 0 && !side_left_out) return std::nullopt;
    return DriveFit{tracks, one_side, left_out, side_left_out};
}

void fetch_sector(const TransferPlan& plan, ImageCursor* cursor, std::uint8_t* sector)
{
    const std::uint8_t* data;
    if (cursor->track < plan.image_tracks) {
        if (cursor->index == 0) image_load_track(cursor->image);
        data = image_find_sector(cursor->image, cursor->track, cursor->index);
    } else {
        data = blank_sector();
    }
    std::memcpy(sector, data, SECTOR_SIZE);
    if (plan.builtin && cursor->track == 0 && cursor->index == 0) default_image_set_drive_type(sector, plan.flags);
    if (++cursor->index == plan.sectors_per_cylinder) {
        cursor->index = 0;
        ++cursor->track;
    }
}

void seek_sector(const TransferPlan& plan, ImageCursor* cursor, int n)
{
    cursor->track = n / plan.sectors_per_cylinder;
    cursor->index = n % plan.sectors_per_cylinder;
    cursor->image->next_cylinder = cursor->track;
    if (cursor->index != 0 && cursor->track < plan.image_tracks) image_load_track(cursor->image);
}

BatchSector batch_sector(const TransferPlan& plan, ImageCursor* cursor, SectorBatch* batch, int k)
{
    std::uint8_t* sector = &batch->sectors[static_cast<std::size_t>(k) * SECTOR_SIZE];
    bool first_time = k == batch->fetched;
    if (first_time) {
        if (k == 0) seek_sector(plan, cursor, batch->first);
        fetch_sector(plan, cursor, sector);
        ++batch->fetched;
    }
    return {sector, first_time};
}

int lead_batch(const TransferPlan& plan, ImageCursor* cursor)
{
    int last = plan.total - plan.batch_sectors;
    if (last < plan.batch_sectors || plan.total % plan.batch_sectors != 0) return -1;
    bool blank = image_sectors_blank(cursor->image, last, plan.batch_sectors, plan.sectors_per_cylinder,
                                     plan.image_tracks);
    seek_sector(plan, cursor, 0);
    return blank ? last : -1;
}

int batch_after(const TransferPlan& plan, int first, int lead)
{
    int next = first == lead ? 0 : first + plan.batch_sectors;
    return next == lead ? next + plan.batch_sectors : next;
}
