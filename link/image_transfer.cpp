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
#include <cstdlib>
#include <cstring>

#include "image/default_image.h"
#include "image/disc_image.h"
#include "link/block_transfer.h"
#include "link/serial_port.h"
#include "run/halt_report.h"

static const int LABEL_SIZE = 80;

// A failure after the progress line started: end that line first.
static int transfer_failed(DiscImage* image, std::uint8_t* status, const char* message, const char* parameter)
{
    image_close(image);
    std::free(status);
    std::printf("\n");
    halt_report(message, parameter, HALT_EINSTEIN);
    return 0;
}

int transfer_image(const char* name)
{
    DiscImage* image;
    if (name != nullptr) {
        std::printf("2) Sending disk image %s, please wait.\n", name);
        std::fflush(stdout);
        image = image_open_file(name);
    } else {
        std::printf("2) Sending standard disk image, please wait\n");
        std::fflush(stdout);
        image = image_open_memory(default_image, default_image_length);
    }
    if (image == nullptr) return 0;

    int image_tracks = image_track_count(image);
    int sectors_per_cylinder = image_side_count(image) * SECTORS_PER_SIDE;

    std::uint8_t flags = recv_byte();
    if (serial_port.failed) return transfer_failed(image, nullptr, "Serial link to the Einstein lost", nullptr);
    int drive_tracks = (flags & DRIVE_80_TRACKS) ? 80 : 40;
    int total = drive_tracks * sectors_per_cylinder;

    std::uint8_t* status = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(total)));
    if (status == nullptr) {
        halt_report("Cannot allocate status buffer", nullptr, HALT_RESOURCE);
        image_close(image);
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
                if (index == 0) image_load_track(image);
                data = image_find_sector(image, image_track, index);
            } else {
                data = blank_sector();
            }
            std::memcpy(sector, data, SECTOR_SIZE);
            std::snprintf(label, sizeof label, "WRITE 0: Track %02d Sector %02d", sent / sectors_per_cylinder,
                          sent % sectors_per_cylinder);
            if (!transfer_block(sector, SECTOR_SIZE, label, 1))
                return transfer_failed(image, status, "Serial link to the Einstein lost", nullptr);
            if (++index == sectors_per_cylinder) {
                index = 0;
                ++image_track;
            }
        }
        // The batch's status block: one byte per sector, at the batch's first.
        if (!transfer_block(status + sent - BATCH_SECTORS, BATCH_SECTORS, nullptr, 0))
            return transfer_failed(image, status, "Serial link to the Einstein lost", nullptr);
    }
    send_byte(END_BYTE);

    int failed_sectors = 0;
    for (int i = 0; i < total; ++i)
        if (status[i] != 0) ++failed_sectors;
    if (failed_sectors > 0) {
        char count[16];
        std::snprintf(count, sizeof count, "%d", failed_sectors);
        return transfer_failed(image, status, "%s sector(s) could not be written", count);
    }
    image_close(image);
    std::free(status);
    return 1;
}
