// The image transfer sequence against a scripted Einstein on a
// pseudo-terminal: how many sectors go out for each drive, which ones, in
// which form, with which labels, and how it ends.
#include <gtest/gtest.h>

#include "image/default_image.h"
#include "image/disc_image.h"
#include "run/image_send.h"
#include "link/serial_port.h"
#include "tests/support/disc_builder.h"
#include "tests/support/einstein_peer.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/stdout_capture.h"

namespace {

class ImageTransferTest : public testing::Test {
protected:
    void SetUp() override
    {
        line.export_as(1);
        ASSERT_EQ(serial_open(1, 9600, 8, 0, 2, 1), 1);
    }
    void TearDown() override { serial_close(); }

    // Runs transfer_image(name) against the script.
    int run(const char* name, const EinsteinScript& script)
    {
        ScriptedPeer peer(line, [&](PtyLine& l) { play_einstein(l, script, seen); });
        StdoutCapture capture;
        int result = transfer_image(name);
        console = capture.finish();
        EXPECT_EQ(peer.finish(), "");
        return result;
    }

    PtyLine line;
    EinsteinTranscript seen;
    std::string console;
};

// The sector that image sector n of a standard test image holds (side 1
// numbered from side1_first).
Bytes image_sector(int n, int sectors_per_cylinder, int side1_first = 0)
{
    int cylinder = n / sectors_per_cylinder, index = n % sectors_per_cylinder;
    int side = index / 10;
    return sector_pattern(cylinder, side, (side == 1 ? side1_first : 0) + index % 10);
}

// Sector n of the built-in image, straight from its container.
Bytes default_sector(int n)
{
    const unsigned char* data = default_image + 256 + (n / 10) * 5376 + 256 + (n % 10) * 512;
    return Bytes(data, data + 512);
}

std::string label(int track, int sector)
{
    char text[64];
    std::snprintf(text, sizeof text, "\r - WRITE 0: Track %02d Sector %02d", track, sector);
    return text;
}

TEST_F(ImageTransferTest, TheBuiltInImageFillsASingleSided40TrackDrive)
{
    EinsteinScript script;
    script.flags = 0x00;
    ASSERT_EQ(run(nullptr, script), 1);
    EXPECT_EQ(seen.geometry, (Bytes{40, 10, 80}));
    EXPECT_EQ(seen.batches, 5);
    ASSERT_EQ(seen.sectors.size(), 400u);
    for (int n = 0; n < 400; ++n) ASSERT_EQ(seen.sectors[n], default_sector(n)) << n;
    EXPECT_TRUE(seen.end_byte);
    EXPECT_TRUE(line.drain(50).empty()) << "bytes after the end byte";
    std::string expected = "2) Sending standard disk image, please wait\n";
    for (int n = 0; n < 400; ++n) expected += label(n / 10, n % 10);
    EXPECT_EQ(console, expected);
}

TEST_F(ImageTransferTest, ASmallImageIsFollowedByBlankSectorsInFillForm)
{
    EinsteinScript script;
    script.flags = 0x11;  // 80 tracks, two sides
    ASSERT_EQ(run(nullptr, script), 1);
    // The Einstein places sectors by the image's 10 a cylinder: 80 tracks of 10.
    ASSERT_EQ(seen.sectors.size(), 800u);
    EXPECT_EQ(seen.batches, 10);
    for (int n = 400; n < 800; ++n) {
        EXPECT_EQ(seen.sectors[n], Bytes(512, 0xE5));
        EXPECT_TRUE(seen.sent_as_fill[n]);
    }
    EXPECT_NE(console.find(label(79, 9)), std::string::npos);
    EXPECT_EQ(console.find("Sector 10"), std::string::npos);
}

TEST_F(ImageTransferTest, AnImageGoesByItsCylindersAsFarAsTheDriveGoes)
{
    // A two-sided image goes by cylinders of twenty sectors (side 1's IDs
    // 10-19 found for 0-9); an image with more tracks or sides than the
    // drive is written as far as the drive goes, with one line that says
    // what was left out, and the geometry never asks for more than 80
    // tracks (the Einstein refuses that).
    std::string two_sided = write_temp_file(extended_image(80, 2, 10));
    std::string big = write_temp_file(raw_dump(80), "big.raw");
    std::string longer = write_temp_file(extended_image(82, 1, 0), "82.dsk");
    struct Case {
        const std::string& path;
        std::uint8_t flags;
        Bytes geometry;
        int sectors;         // sent
        int image_spc;       // sector n is image sector (n / spc sent) * image_spc + n % spc sent
        std::string left_out;
    } cases[] = {
        {two_sided, 0x11, {80, 20, 80}, 1600, 20, ""},
        {two_sided, 0xFF, {80, 20, 80}, 1600, 20, ""},
        {two_sided, 0x01, {80, 20, 80}, 800, 20, "  + The image is larger than the drive (40 tracks): 40 tracks left out\n"},
        {two_sided, 0x10, {80, 10, 80}, 800, 20, "  + The image is larger than the drive (one side): side 1 left out\n"},
        {two_sided, 0x00, {80, 10, 80}, 400, 20,
         "  + The image is larger than the drive (40 tracks, one side): 40 tracks and side 1 left out\n"},
        {big, 0x00, {80, 10, 80}, 400, 10, "  + The image is larger than the drive (40 tracks): 40 tracks left out\n"},
        {longer, 0x10, {80, 10, 80}, 800, 10, "  + The image is larger than the drive (80 tracks): 2 tracks left out\n"},
    };
    for (const auto& c : cases) {
        PtyLine fresh;
        serial_close();
        fresh.export_as(1);
        ASSERT_EQ(serial_open(1, 9600, 8, 0, 2, 1), 1);
        EinsteinTranscript t;
        EinsteinScript script;
        script.flags = c.flags;
        ScriptedPeer peer(fresh, [&](PtyLine& l) { play_einstein(l, script, t); });
        StdoutCapture capture;
        ASSERT_EQ(transfer_image(c.path.c_str()), 1);
        std::string text = capture.finish();
        ASSERT_EQ(peer.finish(), "");
        SCOPED_TRACE(c.path + " on flags " + std::to_string(c.flags));
        EXPECT_EQ(t.geometry, c.geometry);
        ASSERT_EQ(static_cast<int>(t.sectors.size()), c.sectors);
        int spc = c.geometry[1];
        for (int n = 0; n < c.sectors; ++n)
            ASSERT_EQ(t.sectors[n], image_sector(n / spc * c.image_spc + n % spc, c.image_spc, 10)) << n;
        EXPECT_NE(text.find(label(c.sectors / spc - 1, spc - 1)), std::string::npos);
        EXPECT_EQ(text.find("not found"), std::string::npos);
        std::string head = text.substr(0, text.find('\r'));
        EXPECT_EQ(head.substr(head.find("\n", head.find(" + Disc image")) + 1), c.left_out);
    }
}

TEST_F(ImageTransferTest, ReaderWarningsEndTheProgressLineTheyInterrupt)
{
    Bytes image = disc_info(1, 1, {21});
    Bytes r = track_record(0, 0, {0, 1, 2, 3, 4, 5, 6, 7, 8, 42});
    image.insert(image.end(), r.begin(), r.end());
    std::string path = write_temp_file(image);
    EinsteinScript script;
    ASSERT_EQ(run(path.c_str(), script), 1);
    EXPECT_NE(console.find(label(0, 8) + "  + Track 00, sector 09 not found\n" + label(0, 9)), std::string::npos);
    EXPECT_EQ(seen.sectors[9], Bytes(512, 0xE5));
}

TEST_F(ImageTransferTest, FailedWritesInFillAndFullStatusBlocksAreReported)
{
    EinsteinScript script;
    script.status = [](int batch) {
        Bytes s(80, 0);
        if (batch == 1) s[3] = s[37] = s[79] = 0x03;  // full form
        if (batch == 3) s.assign(80, 0x02);            // fill form: all failed
        return s;
    };
    EXPECT_EQ(run(nullptr, script), 0);
    EXPECT_TRUE(seen.end_byte);
    EXPECT_EQ(seen.batches, 5);
    EXPECT_EQ(seen.reports, 1) << "a batch in which every sector failed is asked for again";
    std::string tail = "\n*** TOBRIN HALTED ***\nEinstein Error -> 83 sector(s) could not be written\n";
    ASSERT_GE(console.size(), tail.size());
    EXPECT_EQ(console.substr(console.size() - tail.size()), tail);
}

TEST_F(ImageTransferTest, AStatusBlockDamagedOnTheLineIsAskedForAgain)
{
    // "Every sector failed" is also what a damaged fill value looks like.
    EinsteinScript script;
    script.status = [](int batch) { return Bytes(80, batch == 2 ? 0x07 : 0x00); };
    script.status_again = [](int) { return Bytes(80, 0); };
    EXPECT_EQ(run(nullptr, script), 1);
    EXPECT_EQ(seen.reports, 1);
    EXPECT_EQ(seen.sectors.size(), 400u);
    EXPECT_EQ(console.find("HALTED"), std::string::npos);
}

TEST_F(ImageTransferTest, ADriveFlagsByteDamagedOnTheLineIsCorrectedByTheReport)
{
    // The flags said 80 tracks of a 40-track drive: every sector past track
    // 39 fails as not found; asked again, the Einstein says 40 tracks.
    EinsteinScript script;
    script.flags = 0x10;
    script.flags_again = 0x00;
    script.status = [](int batch) { return Bytes(80, batch >= 5 ? 0x03 : 0x00); };
    EXPECT_EQ(run(nullptr, script), 1);
    EXPECT_EQ(seen.batches, 6);
    EXPECT_EQ(seen.reports, 1);
    EXPECT_TRUE(seen.end_byte);
}

TEST_F(ImageTransferTest, ChecksumRetriesStillDeliverEverySector)
{
    std::string path = write_temp_file(extended_image(40, 1));
    EinsteinScript script;
    script.bad_passes = [](int sector) { return sector % 97 == 5 ? 2 : 0; };
    ASSERT_EQ(run(path.c_str(), script), 1);
    ASSERT_EQ(seen.sectors.size(), 400u);
    for (int n = 0; n < 400; ++n) ASSERT_EQ(seen.sectors[n], image_sector(n, 10)) << n;
    EXPECT_NE(console.find(label(0, 5) + " (checksum error)" + label(0, 5) + std::string(17, ' ') + label(0, 5)),
              std::string::npos);
}

TEST_F(ImageTransferTest, AnImageThatCannotBeOpenedReadsAndSendsNothing)
{
    line.send_byte(0x11);  // the Einstein's flags byte, already on its way
    StdoutCapture capture;
    EXPECT_EQ(transfer_image("/nonexistent.dsk"), 0);
    EXPECT_EQ(capture.finish(), "2) Sending disk image /nonexistent.dsk, please wait.\n"
                                "*** TOBRIN HALTED ***\nFile Error -> Cannot open disc image '/nonexistent.dsk'\n"
                                "  + There is no file of that name\n");
    EXPECT_TRUE(line.drain(50).empty());
    EXPECT_EQ(recv_byte(), 0x11) << "the flags byte was read";
}

TEST_F(ImageTransferTest, ALostLineEndsTheTransfer)
{
    ScriptedPeer peer(line, [](PtyLine& l) {
        l.send_byte(0x00);
        l.receive(3 + 1 + 1 + 512);  // geometry, batch byte, the boot sector in full
        l.hang_up();                 // and no checksum ever comes
    });
    StdoutCapture capture;
    EXPECT_EQ(transfer_image(nullptr), 0);
    std::string text = capture.finish();
    EXPECT_EQ(peer.finish(), "");
    EXPECT_NE(text.find("\n*** TOBRIN HALTED ***\nEinstein Error -> Serial link to the Einstein lost\n"),
              std::string::npos);
}

}  // namespace
