// default_image.cpp - the built-in system disk, assembled into an extended
// DSK container at compile time.
#include "image/default_image.h"

#include <array>

#include "image/boot_code.h"
#include "image/disc_image.h"
#include "target/program_stages.h"

namespace {

constexpr int TRACKS = 40;
constexpr char CREATOR[] = "QUORVILE";

static_assert(boot_code_length <= SECTOR_SIZE, "the boot code must fit its one sector");
constexpr int PROGRAM_BLOCK = 2048;  // what the typed loader takes; sectors 1-4 of track 0
static_assert(target_program_size <= PROGRAM_BLOCK);
static_assert(boot_code_image_labels::program_copy == boot_code_image_labels::LOAD_ADDRESS + SECTOR_SIZE,
              "the boot code expects the program in the sectors after its own");

using Image = std::array<unsigned char, DEFAULT_IMAGE_SIZE>;

constexpr Image build_default_image()
{
    Image image{};  // every header byte not written below is 0
    dsk::put_disc_info(image.data(), CREATOR, TRACKS, 1);
    for (int t = 0; t < TRACKS; ++t) image[dsk::DISC_TRACK_SIZES + t] = dsk::RECORD_SIZE / dsk::RECORD_UNIT;

    for (int t = 0; t < TRACKS; ++t) {
        int record = dsk::INFO_BLOCK_SIZE + t * dsk::RECORD_SIZE;
        // The Track-Info block of an Einstein track: IDs 0-9, 512 bytes each.
        dsk::make_einstein_track_info(image.data() + record, t, 0, 0);
        int data = record + dsk::INFO_BLOCK_SIZE;
        for (int i = 0; i < SIDE_DATA_SIZE; ++i) image[data + i] = BLANK_BYTE;
    }
    // Track 0 sector 0: the boot sector; sectors 1-4: the target program
    // as the loader takes it (its bytes, then zeros up to 2048).
    int boot = dsk::INFO_BLOCK_SIZE + dsk::INFO_BLOCK_SIZE;
    for (int i = 0; i < boot_code_length; ++i) image[boot + i] = boot_code_image[i];
    int program = boot + SECTOR_SIZE;
    for (int i = 0; i < PROGRAM_BLOCK; ++i) image[program + i] = i < target_program_size ? target_program_image[i] : 0;
    return image;
}

constexpr Image built_image = build_default_image();

}  // namespace

const unsigned char* const default_image = built_image.data();
const std::int32_t default_image_length = DEFAULT_IMAGE_SIZE;
void default_image_set_drive_type(std::uint8_t* boot_sector, std::uint8_t drive_flags)
{
    boot_sector[boot_code_image_labels::drive_type - boot_code_image_labels::boot_header] = drive_flags;
}
