// The image write's plan and -fast's stream, without a line: the fit to
// the drive, the order of the batches, the blank look ahead, the grants
// and the stream's room.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "link/packed_stream.h"
#include "link/transfer_plan.h"
#include "tests/support/disc_builder.h"

namespace {

struct OpenedImage {
    Bytes bytes;
    DiscImageOwner image;
    explicit OpenedImage(Bytes b) : bytes(std::move(b)), image(image_open_memory(bytes.data(), static_cast<std::int32_t>(bytes.size()))) {}
};

}  // namespace

TEST(TransferPlan, AnImageLargerThanTheDriveIsCutToItAndSaidSoOnce)
{
    OpenedImage big(extended_image(80, 2));
    ASSERT_TRUE(big.image);
    TransferPlan plan = plan_transfer(big.image.get(), 80, false);
    // A 40-track one-sided drive: 40 tracks and side 1 left out.
    std::optional<DriveFit> fit = fit_to_drive(&plan, 0x00);
    ASSERT_TRUE(fit.has_value());
    EXPECT_EQ(fit->drive_tracks, 40);
    EXPECT_EQ(fit->tracks_left_out, 40);
    EXPECT_TRUE(fit->side_left_out);
    EXPECT_EQ(plan.sectors_per_cylinder, 10);
    EXPECT_EQ(plan.total, 400);
    // The flags again (a resume's answer): the fit stands, nothing said.
    EXPECT_FALSE(fit_to_drive(&plan, 0x00).has_value());
    // Once a batch went out its sectors per cylinder stay, whatever drive
    // later flags name: a two-sided 80-track one now.
    plan.geometry_sent = true;
    EXPECT_FALSE(fit_to_drive(&plan, 0x11).has_value());
    EXPECT_EQ(plan.sectors_per_cylinder, 10);
    EXPECT_EQ(plan.total, 800);
}

TEST(TransferPlan, AnImageTheDriveHoldsIsNotCut)
{
    OpenedImage small(extended_image(40, 2));
    TransferPlan plan = plan_transfer(small.image.get(), 40, false);
    EXPECT_FALSE(fit_to_drive(&plan, 0x11).has_value());  // 80 tracks, two sides
    EXPECT_EQ(plan.sectors_per_cylinder, 20);
    EXPECT_EQ(plan.total, 1600);  // past the image: blank sectors
}

TEST(TransferPlan, ALeadBatchGoesFirstAndThenTheOthersInOrder)
{
    TransferPlan plan{};
    plan.batch_sectors = 40;
    plan.total = 160;
    std::vector<int> order;
    for (int first = 120; first < plan.total; first = batch_after(plan, first, 120)) order.push_back(first);
    EXPECT_EQ(order, (std::vector<int>{120, 0, 40, 80}));
    order.clear();
    for (int first = 0; first < plan.total; first = batch_after(plan, first, -1)) order.push_back(first);
    EXPECT_EQ(order, (std::vector<int>{0, 40, 80, 120}));
}

TEST(TransferPlan, TheLastBatchLeadsOnlyWhenItIsBlank)
{
    // 40 tracks, one side: the last batch of 40 is tracks 36-39.
    Bytes bytes = extended_image(40, 1);
    OpenedImage with_data(bytes);
    TransferPlan plan = plan_transfer(with_data.image.get(), 40, false);
    fit_to_drive(&plan, 0x00);
    ImageCursor cursor{with_data.image.get(), 0, 0};
    EXPECT_EQ(lead_batch(plan, &cursor), -1);
    // An image of 36 tracks leaves the drive's last four blank.
    OpenedImage shorter(extended_image(36, 1));
    plan = plan_transfer(shorter.image.get(), 40, false);
    fit_to_drive(&plan, 0x00);
    cursor = {shorter.image.get(), 0, 0};
    EXPECT_EQ(lead_batch(plan, &cursor), 360);
    // The look leaves the fetch at the first sector, track 0's own.
    SectorBatch batch{std::vector<std::uint8_t>(40 * SECTOR_SIZE), 0, 0};
    BatchSector first = batch_sector(plan, &cursor, &batch, 0);
    EXPECT_TRUE(first.first_time);
    EXPECT_EQ(Bytes(first.data, first.data + SECTOR_SIZE), sector_pattern(0, 0, 0));
    EXPECT_FALSE(batch_sector(plan, &cursor, &batch, 0).first_time);
}

TEST(PackedStream, GrantsAddUpUntilTheRestIsGranted)
{
    PackedStream stream = stream_with_room(STREAM_MAX);
    EXPECT_FALSE(take_grant(&stream, GRANT_UNITS - 1));  // a count or a notice
    EXPECT_FALSE(take_grant(&stream, WORKING_NOTICE));
    EXPECT_TRUE(take_grant(&stream, GRANT_UNITS + 3));
    EXPECT_TRUE(take_grant(&stream, GRANT_UNITS + 127));
    EXPECT_EQ(stream.granted, static_cast<std::size_t>(130 * GRANT_UNIT));
    EXPECT_TRUE(take_grant(&stream, GRANT_REST));
    EXPECT_TRUE(take_grant(&stream, GRANT_UNITS + 1));  // the rest stays the rest
    EXPECT_EQ(stream.granted, SIZE_MAX);
}

TEST(PackedStream, AStreamCutShortHalvesTheNextAndAWholeOneDoublesIt)
{
    PackedStream stream = stream_with_room(8192);
    stream.streamed_first = 40;
    stream.streamed_blocks = 10;
    fit_stream_room(&stream, 40, 4);
    EXPECT_EQ(stream.room, 4096);
    for (int i = 0; i < 5; ++i) fit_stream_room(&stream, 40, 4);
    EXPECT_EQ(stream.room, STREAM_ROOM_LEAST);  // never below two blocks
    fit_stream_room(&stream, 40, 10);
    EXPECT_EQ(stream.room, 2 * STREAM_ROOM_LEAST);
    fit_stream_room(&stream, 0, 0);  // another batch's answer: no change
    EXPECT_EQ(stream.room, 2 * STREAM_ROOM_LEAST);
    for (int i = 0; i < 5; ++i) fit_stream_room(&stream, 40, 10);
    EXPECT_EQ(stream.room, 8192);  // never above the Einstein's room
}
