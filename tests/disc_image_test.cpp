// The disc image reader with images the tests build: every refusal with its
// exact message, raw dumps, extended images good and malformed, and how
// sectors are found by ID.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "image/default_image.h"
#include "image/disc_image.h"
#include "tests/support/disc_builder.h"
#include "tests/support/stdout_capture.h"

namespace {

struct Opened {
    DiscImage* image = nullptr;
    std::string console;
    ~Opened() { image_close(image); }
};

Opened open_bytes(const Bytes& bytes)
{
    Opened o;
    std::string path = write_temp_file(bytes);
    StdoutCapture capture;
    o.image = image_open_file(path.c_str());
    o.console = capture.finish();
    return o;
}

std::string refusal(const std::string& message)
{
    return "*** TOBRIN HALTED ***\nFile Error -> " + message + "\n";
}

// Loads the next cylinder; returns what the reader printed.
std::string load(DiscImage* image)
{
    StdoutCapture capture;
    image_load_track(image);
    return capture.finish();
}

// Finds a sector; its bytes and what the reader printed.
std::pair<Bytes, std::string> find(DiscImage* image, int cylinder, int index)
{
    StdoutCapture capture;
    const std::uint8_t* s = image_find_sector(image, cylinder, index);
    std::string text = capture.finish();
    return {Bytes(s, s + 512), text};
}

const Bytes BLANK(512, 0xE5);

TEST(DiscImageOpen, FilesThatCannotBeReadAreRefusedWithTheirName)
{
    std::string folder = std::filesystem::temp_directory_path().string();
    StdoutCapture capture;
    EXPECT_EQ(image_open_file("/nonexistent/disk.dsk"), nullptr);
    EXPECT_EQ(image_open_file(folder.c_str()), nullptr);  // a folder reads as nothing
    // Each with the reason under it.
    EXPECT_EQ(capture.finish(), refusal("Cannot open disc image '/nonexistent/disk.dsk'") +
                                    "  + There is no file of that name\n" +
                                    refusal("Cannot open disc image '" + folder + "'") +
                                    "  + It is a folder: name the image file in it\n");
    Opened empty = open_bytes({});
    EXPECT_EQ(empty.image, nullptr);
    EXPECT_NE(empty.console.find("File Error -> Cannot open disc image '"), std::string::npos);
    EXPECT_NE(empty.console.find("image.dsk'\n  + The file is empty\n"), std::string::npos) << empty.console;
}

TEST(DiscImageOpen, RefusalsOfSizeAndGeometry)
{
    struct Case {
        Bytes bytes;
        const char* message;
        const char* size;  // a file of no size TOBRIN takes: its size under the report
    } cases[] = {
        {Bytes(1, 0), "Disc image is too small", "1 byte"},
        {Bytes(255, 0), "Disc image is too small", "255 bytes"},
        {Bytes(5121, 0), "Disc image contains incomplete sectors", "5121 bytes"},
        {Bytes(1024, 0), "Disc image contains incomplete tracks", "1024 bytes"},
        {Bytes(102400, 0), "Disc image is too big", "102400 bytes"},
        {Bytes(1024000, 0), "Disc image is too big", "1024000 bytes"},
        {disc_info(40, 0, {}), "Disc image has an invalid number of sides", nullptr},
        {disc_info(40, 3, {}), "Disc image has an invalid number of sides", nullptr},
        {disc_info(40, 255, {}), "Disc image has an invalid number of sides", nullptr},
        {disc_info(0, 1, {}), "Disc image has no tracks", nullptr},
    };
    const std::string sizes = ". An image is an extended or standard DSK file, or a raw dump of 204800 (40 tracks), "
                              "409600 (80 tracks) or 819200 bytes (80 tracks, two sides)\n";
    for (const auto& c : cases) {
        Opened o = open_bytes(c.bytes);
        EXPECT_EQ(o.image, nullptr) << c.message;
        if (c.size == nullptr) {
            EXPECT_EQ(o.console, refusal(c.message)) << c.bytes.size();
            continue;
        }
        ASSERT_EQ(o.console.rfind(refusal(c.message) + "  + ", 0), 0u) << o.console;
        EXPECT_NE(o.console.find("image.dsk: " + std::string(c.size) + sizes), std::string::npos) << o.console;
    }
}

TEST(DiscImageOpen, RawDumpsOfTheThreeSizesAreDescribed)
{
    struct Case {
        int track_sides;
        const char* line;
    } cases[] = {
        {40, " + Disc image 40 track, single sided (RAW disc dump)\n"},
        {80, " + Disc image 80 track, single sided (RAW disc dump)\n"},
        {160, " + Disc image 80 track, double sided (RAW disc dump)\n"},
    };
    for (const auto& c : cases) {
        Opened o = open_bytes(raw_dump(c.track_sides));
        ASSERT_NE(o.image, nullptr);
        EXPECT_EQ(o.console, c.line);
    }
}

TEST(DiscImageOpen, AnExtendedImageIsDescribedByItsHeader)
{
    Opened o = open_bytes(extended_image(80, 2));
    ASSERT_NE(o.image, nullptr);
    EXPECT_EQ(o.console, " + Disc image 80 track, double sided (extended .DSK format)\n");
    Opened one = open_bytes(extended_image(3, 1));
    EXPECT_EQ(one.console, " + Disc image 03 track, single sided (extended .DSK format)\n");
}

TEST(DiscImageOpen, ARawDumpThatHappensToCarryTheSignatureIsReadAsExtended)
{
    // The signature decides: read as an extended image, whose "records"
    // (sector data) are then not Einstein tracks.
    Bytes dump = raw_dump(40);
    Bytes header = disc_info(40, 1, Bytes(40, 21));
    std::memcpy(dump.data(), header.data(), 256);
    Opened o = open_bytes(dump);
    EXPECT_EQ(o.image, nullptr);
    EXPECT_EQ(o.console.rfind("*** TOBRIN HALTED ***\nFile Error -> Disc image has ", 0), 0u) << o.console;
}

TEST(DiscImageOpen, ImagesOfOtherSectorsThanTheEinsteinsAreRefusedSayingWhatTheyHave)
{
    const std::string hint = ": TOBRIN writes 10 sectors of 512 bytes to a side, as the Einstein's format lays "
                             "them down (the README shows how to convert other formats with libdsk's dsktrans)";
    Bytes small = extended_image(2, 1);
    for (int k = 0; k < 10; ++k) small[256 + 5376 + 24 + 8 * k + 3] = 1;  // track 1: N = 1
    Bytes eleven = extended_image(1, 2);
    eleven[256 + 5376 + 21] = 11;  // track 0 side 1 lists an eleventh row
    Bytes standard = standard_image(1, 1, ids_from(0));
    standard[256 + 20] = 3;  // 1024-byte sectors: the record holds five
    for (int k = 0; k < 10; ++k) standard[256 + 24 + 8 * k + 3] = 3;
    struct Case {
        Bytes bytes;
        std::string message;
    } cases[] = {
        {small, "Disc image has sectors of 256 bytes (track 1 side 0)"},
        {eleven, "Disc image has 11 sectors on track 0 side 1"},
        {standard, "Disc image has sectors of 1024 bytes (track 0 side 0)"},
    };
    for (const auto& c : cases) {
        Opened o = open_bytes(c.bytes);
        EXPECT_EQ(o.image, nullptr);
        EXPECT_EQ(o.console, refusal(c.message + hint));
    }
}

TEST(DiscImageOpen, TheBuiltInImageOpensSilently)
{
    StdoutCapture capture;
    DiscImage* image = image_open_memory(default_image, default_image_length);
    EXPECT_EQ(capture.finish(), "");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->borrowed, 1);
    EXPECT_EQ(image->bytes, default_image);
    image_close(image);  // leaves the built-in bytes alone (ASan would see a bad free)
}

TEST(DiscImageRead, ARawDumpServesItsSectorsInStoredOrderOnBothSides)
{
    Opened o = open_bytes(raw_dump(160));
    ASSERT_NE(o.image, nullptr);
    for (int cylinder = 0; cylinder < 3; ++cylinder) {
        EXPECT_EQ(load(o.image), "");
        for (int index = 0; index < 20; ++index) {
            auto [bytes, text] = find(o.image, cylinder, index);
            // record 2c is side 0, 2c+1 side 1, and IDs 0-9 in stored order
            EXPECT_EQ(bytes, sector_pattern(2 * cylinder + index / 10, 0, index % 10));
            EXPECT_EQ(text, "");
        }
    }
}

TEST(DiscImageRead, AStandardImageIsReadByItsSectorIds)
{
    // Stored in an interleaved order; found by ID, side 1 numbered 10-19.
    std::array<int, 10> order = {0, 5, 1, 6, 2, 7, 3, 8, 4, 9};
    Opened o = open_bytes(standard_image(3, 2, order, 10));
    ASSERT_NE(o.image, nullptr);
    EXPECT_EQ(o.console, " + Disc image 03 track, double sided (standard .DSK format)\n");
    for (int cylinder = 0; cylinder < 3; ++cylinder) {
        EXPECT_EQ(load(o.image), "");
        for (int index = 0; index < 20; ++index) {
            auto [bytes, text] = find(o.image, cylinder, index);
            EXPECT_EQ(bytes, sector_pattern(cylinder, index / 10, index)) << cylinder << " " << index;
            EXPECT_EQ(text, "");
        }
    }
}

TEST(DiscImageRead, ATwoSidedImageFindsEachSideThroughItsOwnIds)
{
    for (int side1_first : {0, 10}) {
        Opened o = open_bytes(extended_image(2, 2, side1_first));
        ASSERT_NE(o.image, nullptr);
        load(o.image);
        load(o.image);
        for (int index = 0; index < 20; ++index) {
            auto [bytes, text] = find(o.image, 1, index);
            int side = index / 10;
            int id = side == 1 ? side1_first + index - 10 : index;
            EXPECT_EQ(bytes, sector_pattern(1, side, id)) << side1_first << " " << index;
            EXPECT_EQ(text, "");
        }
    }
}

TEST(DiscImageRead, AnImageOfOnlyItsHeaderGivesBlankCylindersWithWarnings)
{
    Opened o = open_bytes(disc_info(40, 1, Bytes(40, 21)));
    ASSERT_NE(o.image, nullptr);
    EXPECT_EQ(o.console, " + Disc image 40 track, single sided (extended .DSK format)\n");
    for (int cylinder = 0; cylinder < 3; ++cylinder) {
        EXPECT_EQ(load(o.image), "  + Warning track " + std::to_string(cylinder) + " is invalid (and has been reset)\n");
        for (int index = 0; index < 10; ++index) EXPECT_EQ(find(o.image, cylinder, index).first, BLANK);
    }
}

TEST(DiscImageRead, TheWarningNamesTheCylinderNotTheRecord)
{
    Bytes image = extended_image(3, 2);
    image.resize(256 + 3 * 5376 + 100);  // the fourth record (cylinder 1, side 1) is cut short
    Opened o = open_bytes(image);
    ASSERT_NE(o.image, nullptr);
    EXPECT_EQ(load(o.image), "");
    EXPECT_EQ(load(o.image), "  + Warning track 1 is invalid (and has been reset)\n");
    // What arrived of side 0 stays; the Track-Info blocks are synthesized.
    EXPECT_EQ(find(o.image, 1, 4).first, sector_pattern(1, 0, 4));
    EXPECT_EQ(find(o.image, 1, 10).first, BLANK);
    EXPECT_EQ(load(o.image), "  + Warning track 2 is invalid (and has been reset)\n");
}

TEST(DiscImageRead, ASizeTableEntryOfZeroIsATrackLeftOut)
{
    Bytes image = disc_info(3, 1, {21, 0, 21});
    Bytes r0 = track_record(0, 0, ids_from(0)), r2 = track_record(2, 0, ids_from(0));
    image.insert(image.end(), r0.begin(), r0.end());
    image.insert(image.end(), r2.begin(), r2.end());
    Opened o = open_bytes(image);
    ASSERT_NE(o.image, nullptr);
    EXPECT_EQ(load(o.image), "");
    EXPECT_EQ(load(o.image), "  + Warning track 1 is invalid (and has been reset)\n");
    EXPECT_EQ(find(o.image, 1, 0).first, BLANK);
    EXPECT_EQ(load(o.image), "");
    EXPECT_EQ(find(o.image, 2, 3).first, sector_pattern(2, 0, 3));  // still in step
}

TEST(DiscImageRead, OversizedRecordsKeepTheirFirst5120BytesAndStayInStep)
{
    for (int entry : {22, 200}) {
        Bytes big = track_record(0, 0, ids_from(0));
        big.resize(static_cast<std::size_t>(entry) * 256, 0x99);  // extra sector data past the ten
        Bytes next = track_record(1, 0, ids_from(0));
        Bytes image = disc_info(2, 1, {static_cast<std::uint8_t>(entry), 21});
        image.insert(image.end(), big.begin(), big.end());
        image.insert(image.end(), next.begin(), next.end());
        Opened o = open_bytes(image);
        ASSERT_NE(o.image, nullptr);
        EXPECT_EQ(load(o.image), "") << entry;
        EXPECT_EQ(find(o.image, 0, 9).first, sector_pattern(0, 0, 9));
        EXPECT_EQ(load(o.image), "") << entry;
        EXPECT_EQ(find(o.image, 1, 0).first, sector_pattern(1, 0, 0));
    }
}

TEST(DiscImageRead, AnOversizedRecordThatRunsPastTheEndFailsAndLaterOnesToo)
{
    Bytes image = disc_info(3, 1, {200, 21, 21});
    Bytes r0 = track_record(0, 0, ids_from(0));
    image.insert(image.end(), r0.begin(), r0.end());  // far less than 200 x 256
    Opened o = open_bytes(image);
    ASSERT_NE(o.image, nullptr);
    EXPECT_EQ(load(o.image), "  + Warning track 0 is invalid (and has been reset)\n");
    EXPECT_EQ(find(o.image, 0, 2).first, sector_pattern(0, 0, 2));  // the data that came stays
    EXPECT_EQ(load(o.image), "  + Warning track 1 is invalid (and has been reset)\n");
}

TEST(DiscImageRead, ATrackCountBeyondTheSizeTableIsBounded)
{
    Opened o = open_bytes(disc_info(250, 1, Bytes(204, 21)));
    ASSERT_NE(o.image, nullptr);
    EXPECT_EQ(image_track_count(o.image), 204);
    Opened two = open_bytes(disc_info(200, 2, Bytes(204, 21)));
    ASSERT_NE(two.image, nullptr);
    EXPECT_EQ(image_track_count(two.image), 102);
    for (int i = 0; i < 110; ++i) load(two.image);  // past the table: warned, never read beyond it
    EXPECT_EQ(find(two.image, 109, 3).first, BLANK);
}

TEST(DiscImageFind, TheFirstOfTwoRowsWithTheWantedIdWins)
{
    std::array<int, 10> ids = {4, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    Bytes image = disc_info(1, 1, {21});
    Bytes r = track_record(0, 0, ids);
    std::fill(r.begin() + 256 + 4 * 512, r.begin() + 256 + 5 * 512, 0x44);  // row 4's data differs from row 0's
    image.insert(image.end(), r.begin(), r.end());
    Opened o = open_bytes(image);
    load(o.image);
    auto [bytes, text] = find(o.image, 0, 4);
    EXPECT_EQ(bytes, sector_pattern(0, 0, 4));  // row 0's data
    EXPECT_EQ(text, "");
}

TEST(DiscImageFind, SectorsNumberedOneToTenLoseSectorZero)
{
    Bytes image = disc_info(1, 1, {21});
    Bytes r = track_record(0, 0, ids_from(1));
    image.insert(image.end(), r.begin(), r.end());
    Opened o = open_bytes(image);
    load(o.image);
    auto [zero, text] = find(o.image, 0, 0);
    EXPECT_EQ(zero, BLANK);
    EXPECT_EQ(text, "  + Track 00, sector 00 not found\n");
    for (int index = 1; index < 10; ++index) {
        auto [bytes, t] = find(o.image, 0, index);
        EXPECT_EQ(bytes, sector_pattern(0, 0, index));
        EXPECT_EQ(t, "");
    }
}

TEST(DiscImageFind, AMissingSide1SectorIsToldByItsId)
{
    std::array<int, 10> ids = {0, 1, 2, 30, 4, 5, 6, 7, 8, 9};
    Bytes image = disc_info(6, 2, Bytes(12, 21));
    for (int t = 0; t < 6; ++t) {
        Bytes a = track_record(t, 0, ids_from(0)), b = track_record(t, 1, ids);
        image.insert(image.end(), a.begin(), a.end());
        image.insert(image.end(), b.begin(), b.end());
    }
    Opened o = open_bytes(image);
    for (int i = 0; i < 6; ++i) load(o.image);
    auto [bytes, text] = find(o.image, 5, 13);
    EXPECT_EQ(bytes, BLANK);
    EXPECT_EQ(text, "  + Track 05, sector 03 not found\n");
}

TEST(DiscImageFind, RowsPastTheSectorCountAreNotSectors)
{
    // A track of three sectors: rows 3-9 are zeros, and no sector of ID 0.
    Bytes image = disc_info(1, 1, {21});
    Bytes r = track_record(0, 0, {5, 6, 7, 0, 0, 0, 0, 0, 0, 0});
    for (int k = 3; k < 10; ++k) std::memset(r.data() + 24 + 8 * k, 0, 8);
    r[21] = 3;
    image.insert(image.end(), r.begin(), r.end());
    Opened o = open_bytes(image);
    load(o.image);
    auto [zero, text] = find(o.image, 0, 0);
    EXPECT_EQ(zero, BLANK);
    EXPECT_EQ(text, "  + Track 00, sector 00 not found\n");
    EXPECT_EQ(find(o.image, 0, 6).first, sector_pattern(0, 0, 6));
}

}  // namespace
