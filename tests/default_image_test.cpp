// The built-in system disk: its container byte for byte, and its contents.
#include <gtest/gtest.h>

#include <cstring>

#include "image/boot_code.h"
#include "image/default_image.h"
#include "image/disc_image.h"
#include "target/program_stages.h"
#include "tests/support/stdout_capture.h"

namespace {

TEST(DefaultImage, TheDiscInfoBlockIsExactlyAsPublished)
{
    ASSERT_EQ(default_image_length, 215296);
    EXPECT_EQ(std::memcmp(default_image, "EXTENDED CPC DSK File\r\nDisk-Info\r\n", 34), 0);
    EXPECT_EQ(std::memcmp(default_image + 34, "QUORVILE\0\0\0\0\0\0", 14), 0);
    EXPECT_EQ(default_image[48], 40);
    EXPECT_EQ(default_image[49], 1);
    EXPECT_EQ(default_image[50], 0);
    EXPECT_EQ(default_image[51], 0);
    for (int i = 52; i < 92; ++i) EXPECT_EQ(default_image[i], 0x15) << i;
    for (int i = 92; i < 256; ++i) EXPECT_EQ(default_image[i], 0) << i;
}

TEST(DefaultImage, EveryTrackInfoBlockIsAnEinsteinTrack)
{
    // Spelled out byte by byte: the signature, the track, side 0, 512-byte
    // sectors (N = 2), ten of them, gap 4Eh, then rows C H R N 0 0 and a
    // data length of 0200h for IDs 0 to 9; zeros elsewhere.
    for (int t = 0; t < 40; ++t) {
        std::uint8_t expected[256] = {'T', 'r', 'a', 'c', 'k', '-', 'I', 'n', 'f', 'o', '\r', '\n'};
        expected[16] = static_cast<std::uint8_t>(t);
        expected[20] = 2;
        expected[21] = 10;
        expected[22] = 0x4E;
        for (int k = 0; k < 10; ++k) {
            const std::uint8_t row[8] = {static_cast<std::uint8_t>(t), 0, static_cast<std::uint8_t>(k), 2, 0, 0, 0x00, 0x02};
            std::memcpy(expected + 24 + 8 * k, row, 8);
        }
        EXPECT_EQ(std::memcmp(default_image + 256 + t * 5376, expected, 256), 0) << "track " << t;
    }
}

TEST(DefaultImage, TheDiskBootsIntoTheAssembledProgramAndIsOtherwiseEmpty)
{
    const unsigned char* boot = default_image + 512;
    EXPECT_EQ(std::memcmp(boot, boot_code_image, static_cast<std::size_t>(boot_code_length)), 0);
    // The boot header: load start E100h, load end after this sector and the
    // program's four, the entry in this sector.
    int start = boot[0] | boot[1] << 8, end = boot[2] | boot[3] << 8, entry = boot[4] | boot[5] << 8;
    EXPECT_EQ(start, 0xE100);
    EXPECT_EQ(end, start + 5 * 512);
    EXPECT_GT(entry, start);
    EXPECT_LT(entry, start + boot_code_length);
    EXPECT_EQ(boot[6], 0x00);
    // Sectors 1-4: the very 2048 bytes the loader takes - the assembled
    // program, then zeros.
    const unsigned char* program = boot + 512;
    EXPECT_EQ(std::memcmp(program, target_program_image, static_cast<std::size_t>(target_program_size)), 0);
    for (int i = target_program_size; i < 2048; ++i) ASSERT_EQ(program[i], 0) << i;
    // Everything else is E5h: the directory on track 2 is empty.
    for (int t = 0; t < 40; ++t)
        for (int i = 0; i < 5120; ++i) {
            if (t == 0 && (i < boot_code_length || (i >= 512 && i < 2560))) continue;
            ASSERT_EQ(default_image[256 + t * 5376 + 256 + i], 0xE5) << t << " " << i;
        }
}

TEST(DefaultImage, SendingItFindsEverySectorWithoutAWarning)
{
    DiscImage* image = image_open_memory(default_image, default_image_length);
    ASSERT_NE(image, nullptr);
    StdoutCapture capture;
    for (int t = 0; t < 40; ++t) {
        image_load_track(image);
        for (int k = 0; k < 10; ++k)
            ASSERT_EQ(std::memcmp(image_find_sector(image, t, k), default_image + 256 + t * 5376 + 256 + k * 512, 512), 0)
                << t << " " << k;
    }
    EXPECT_EQ(capture.finish(), "");
    image_close(image);
}

}  // namespace
