// The extensions' messages, byte for byte: each form made from known
// fields against the bytes worked out by hand (the CRC-16s by the FDC's
// CRC-CCITT, preset FFFFh), and read back where the PC reads it.
#include <gtest/gtest.h>

#include <vector>

#include "image/disc_image.h"
#include "link/wire_forms.h"

namespace {

struct CommandRow {
    const char* what;
    WireBytes made;
    WireBytes bytes;
};

}  // namespace

TEST(WireForms, CheckedCommandsSumToFFhAfterTheCommandByte)
{
    const CommandRow rows[] = {
        {"resume at track 3 sector 10, 20 a cylinder, batches of 80",
         checked_command(RESUME_COMMAND, {20, 80, 3, 10}), {0x57, 0x14, 0x50, 0x03, 0x0A, 0x8E}},
        {"read from the first sector", checked_command(READ_COMMAND, {0, 0}), {0x52, 0x00, 0x00, 0xFF}},
        {"31250 baud", checked_command(FAST_COMMAND, {4}), {0x46, 0x04, 0xFB}},
        {"a compressed batch at track 39 sector 10", checked_command(PACKED_BATCH, {39, 10}), {0x50, 0x27, 0x0A, 0xCE}},
        {"parameters that sum past FFh", checked_command(RESUME_COMMAND, {0xF0, 0x20}), {0x57, 0xF0, 0x20, 0xEF}},
        {"no parameters", checked_command(READ_COMMAND, {}), {0x52, 0xFF}},
    };
    for (const CommandRow& row : rows) EXPECT_EQ(row.made, row.bytes) << row.what;
}

TEST(WireForms, AValueCountsOnlyWithItsComplementAndWithinItsRange)
{
    EXPECT_EQ(with_complement(22), (std::array<std::uint8_t, 2>{0x16, 0xE9}));
    EXPECT_EQ(checked_value(0x16, 0xE9, 40), 22);
    EXPECT_EQ(checked_value(0, 0xFF, 0), 0);
    EXPECT_EQ(checked_value(40, 0xD7, 40), 40);  // the whole batch
    EXPECT_FALSE(checked_value(41, 0xD6, 40));   // more than the batch
    EXPECT_FALSE(checked_value(0x16, 0xE8, 40)); // a bit of the complement lost
    EXPECT_FALSE(checked_value(0x17, 0xE9, 40)); // ... or of the value
    EXPECT_EQ(checked_value(0xFF, 0x00), 0xFF);  // a status byte: any value
}

TEST(WireForms, PackedBlocksAndStreamHeaders)
{
    // The filler: length 3 (the number and the CRC), layable, nothing after the number.
    EXPECT_EQ(packed_block({3, true, true, 0, {}}), (WireBytes{0x03, 0x80, 0x7C, 0x83, 0xC8, 0x99}));
    // A sector with F5h-F7h in it: the length's high byte without LAYABLE_FLAG.
    EXPECT_EQ(packed_block({5, false, false, 0xABCD, {0x01, 0x02}}),
              (WireBytes{0x07, 0x00, 0xF8, 0x05, 0xAB, 0xCD, 0x01, 0x02, 0xCA, 0x33}));
    EXPECT_EQ(stream_header(0x1234, 39, 10), (std::array<std::uint8_t, STREAM_HEADER>{0x34, 0x12, 0x27, 0x0A, 0x88}));
    WireBytes stream = stream_of({{1, 2, 3}, {4}}, 1, 0);
    EXPECT_EQ(stream, (WireBytes{0x04, 0x00, 0x01, 0x00, 0xFA, 1, 2, 3, 4}));
    EXPECT_EQ(stream_of({}, 40, 0), (WireBytes{0x00, 0x00, 0x28, 0x00, 0xD7}));  // no batch follows
}

TEST(WireForms, ASectorIsPackedAsTheFillerOrWithItsCrcAndForm)
{
    std::vector<std::uint8_t> batch(2 * SECTOR_SIZE, BLANK_BYTE);
    batch[SECTOR_SIZE + 511] = 0xF6;
    PackedSector filler = pack_sector(batch, 0);
    EXPECT_TRUE(filler.filler);
    EXPECT_TRUE(filler.layable);
    EXPECT_EQ(filler.crc, 0x0851);
    EXPECT_TRUE(filler.form.empty());
    PackedSector last_byte = pack_sector(batch, 1);
    EXPECT_EQ(last_byte.number, 1);
    EXPECT_FALSE(last_byte.filler);
    EXPECT_FALSE(last_byte.layable);  // its one F6h, at the very end
    EXPECT_FALSE(last_byte.form.empty());
}

TEST(WireForms, SectorCrcsAndReadRecords)
{
    std::vector<std::uint8_t> sectors(2 * SECTOR_SIZE, BLANK_BYTE);
    EXPECT_EQ(sector_crcs(sectors.data(), 2), (WireBytes{0x08, 0x51, 0x08, 0x51}));
    EXPECT_EQ(record_crc(sectors.data(), 1, 2, 0), 0xC57D);
    const std::uint8_t head[5] = {79, 19, 0x04, 0xBE, 0xEF};
    RecordHead record = record_head(head);
    EXPECT_EQ(record.track, 79);
    EXPECT_EQ(record.sector, 19);
    EXPECT_EQ(record.status, 0x04);
    EXPECT_EQ(record.crc, 0xBEEF);
    EXPECT_EQ(record_head_bytes(record), (std::array<std::uint8_t, 5>{79, 19, 0x04, 0xBE, 0xEF}));
}
