// image_transfer.cpp - the image transfer sequence, PC side.
//
// How many sectors go out: the drive's track count times the image's
// sectors per cylinder.  The Einstein places the sectors it receives by the
// image's sectors per cylinder (the second geometry byte), so this is what
// covers the drive's tracks; counting in the drive's own sides instead
// would send a one-sided image to a two-sided drive onto tracks that do not
// exist.  When image and drive have the same sides the two counts agree.
// Image sectors run out into blank sectors (two bytes each on the line);
// an image larger than the drive is cut at the drive's size.
#include "link/image_transfer.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "image/default_image.h"
#include "image/disc_image.h"
#include "link/block_transfer.h"
#include "link/serial_port.h"
#include "report/halt_report.h"

static const int LABEL_SIZE = 80;

// A failure after the progress line started: end that line first.
static int transfer_failed(const char* message, const char* parameter)
{
    std::printf("\n");
    halt_report(message, parameter, HALT_EINSTEIN);
    return 0;
}

int transfer_image(const char* name)
{
    DiscImageOwner image;
    if (name != nullptr) {
        std::printf("2) Sending disk image %s, please wait.\n", name);
        std::fflush(stdout);
        image.reset(image_open_file(name));
    } else {
        std::printf("2) Sending standard disk image, please wait\n");
        std::fflush(stdout);
        image.reset(image_open_memory(default_image, default_image_length));
    }
    if (!image) return 0;

    int image_tracks = image_track_count(image.get());
    int sectors_per_cylinder = image_side_count(image.get()) * SECTORS_PER_SIDE;

    std::uint8_t flags = recv_byte();
    if (serial_port.failed) return transfer_failed("Serial link to the Einstein lost", nullptr);
    int drive_tracks = (flags & DRIVE_80_TRACKS) ? 80 : 40;
    int total = drive_tracks * sectors_per_cylinder;

    std::vector<std::uint8_t> status;
    try {
        status.resize(static_cast<std::size_t>(total));
    } catch (const std::bad_alloc&) {
        halt_report("Cannot allocate status buffer", nullptr, HALT_RESOURCE);
        return 0;
    }

    send_byte(static_cast<std::uint8_t>(image_tracks));
    send_byte(static_cast<std::uint8_t>(sectors_per_cylinder));
    send_byte(BATCH_SECTORS);

    std::uint8_t sector[SECTOR_SIZE];
    char label[LABEL_SIZE];
    int image_track = 0, index = 0;
    for (int sent = 0; sent < total;) {
        send_byte(BATCH_BYTE);
        for (int k = 0; k < BATCH_SECTORS; ++k, ++sent) {
            const std::uint8_t* data;
            if (image_track < image_tracks) {
                if (index == 0) image_load_track(image.get());
                data = image_find_sector(image.get(), image_track, index);
            } else {
                data = blank_sector();
            }
            std::memcpy(sector, data, SECTOR_SIZE);
            std::snprintf(label, sizeof label, "WRITE 0: Track %02d Sector %02d", sent / sectors_per_cylinder,
                          sent % sectors_per_cylinder);
            if (!transfer_block(sector, SECTOR_SIZE, label, TRANSFER_SEND))
                return transfer_failed("Serial link to the Einstein lost", nullptr);
            if (++index == sectors_per_cylinder) {
                index = 0;
                ++image_track;
            }
        }
        // The batch's status block: one byte per sector, at the batch's first.
        if (!transfer_block(status.data() + sent - BATCH_SECTORS, BATCH_SECTORS, nullptr, TRANSFER_RECEIVE))
            return transfer_failed("Serial link to the Einstein lost", nullptr);
    }
    send_byte(END_BYTE);

    int failed_sectors = 0;
    for (std::uint8_t s : status)
        if (s != 0) ++failed_sectors;
    if (failed_sectors > 0) {
        char count[16];
        std::snprintf(count, sizeof count, "%d", failed_sectors);
        return transfer_failed("%s sector(s) could not be written", count);
    }
    return 1;
}
