// default_image.cpp - the built-in system disk, assembled into an extended
// DSK container at compile time.
#include "image/default_image.h"

#include <array>

#include "image/boot_code.h"
#include "image/disc_image.h"

namespace {

constexpr int TRACKS = 40;
constexpr int RECORD_SIZE = INFO_BLOCK_SIZE + SIDE_DATA_SIZE;  // 5376: size-table entry 21
constexpr char DISC_INFO_SIGNATURE[] = "EXTENDED CPC DSK File\r\nDisk-Info\r\n";
constexpr char CREATOR[] = "QUORVILE";
constexpr char TRACK_INFO_SIGNATURE[] = "Track-Info\r\n";

static_assert(boot_code_length <= SECTOR_SIZE, "the boot code must fit its one sector");

using Image = std::array<unsigned char, DEFAULT_IMAGE_SIZE>;

constexpr void put_text(Image& image, int at, const char* text)
{
    for (int i = 0; text[i] != '\0'; ++i) image[at + i] = static_cast<unsigned char>(text[i]);
}

constexpr Image build_default_image()
{
    Image image{};  // every header byte not written below is 0
    put_text(image, 0, DISC_INFO_SIGNATURE);
    put_text(image, 34, CREATOR);
    image[48] = TRACKS;
    image[49] = 1;
    for (int t = 0; t < TRACKS; ++t) image[TRACK_SIZE_TABLE_OFFSET + t] = RECORD_SIZE / 256;

    for (int t = 0; t < TRACKS; ++t) {
        int record = INFO_BLOCK_SIZE + t * RECORD_SIZE;
        // The Track-Info block, byte for byte as the reader synthesizes it.
        put_text(image, record, TRACK_INFO_SIGNATURE);
        image[record + 16] = static_cast<unsigned char>(t);
        image[record + 20] = 2;
        image[record + 21] = SECTORS_PER_SIDE;
        image[record + 22] = 0x4E;
        for (int k = 0; k < SECTORS_PER_SIDE; ++k) {
            int row = record + 24 + 8 * k;
            image[row] = static_cast<unsigned char>(t);
            image[row + 2] = static_cast<unsigned char>(k);
            image[row + 3] = 2;
            image[row + 7] = 2;  // 512, little-endian
        }
        int data = record + INFO_BLOCK_SIZE;
        for (int i = 0; i < SIDE_DATA_SIZE; ++i) image[data + i] = BLANK_BYTE;
    }
    // Track 0 sector 0: the boot sector.
    int boot = INFO_BLOCK_SIZE + INFO_BLOCK_SIZE;
    for (int i = 0; i < boot_code_length; ++i) image[boot + i] = boot_code_image[i];
    return image;
}

constexpr Image built_image = build_default_image();

}  // namespace

const unsigned char* const default_image = built_image.data();
const std::int32_t default_image_length = DEFAULT_IMAGE_SIZE;
