// The format pass on the virtual Einstein's WD1770: the layout it writes,
// the two status bytes, the byte timing of every write track, and each way
// a format fails.
#include <gtest/gtest.h>

#include "target/target_program.h"
#include "tests/support/sim_rig.h"

namespace {

const std::string WAITING = "[ Waiting to proceed\r";

// Starts the program, sends "*", and returns the status bytes it answers
// (one when the first is not 0).
Bytes format(SimRig& rig)
{
    rig.start_program();
    EXPECT_EQ(rig.run_until_starved(), StopReason::Starved);
    rig.send_byte('*');
    Bytes status = rig.receive(1);
    if (status[0] == 0) status.push_back(rig.receive_byte());
    EXPECT_EQ(rig.run_until_starved(), StopReason::Starved);  // back in a loop that waits for the PC
    return status;
}

// Every formatted track side: IDs in the interleave, C the track, H the
// side, 512 bytes of E5h, CRCs right.
void expect_layout(SimRig& rig, int tracks, int sides)
{
    for (int t = 0; t < DISK_MAX_TRACKS; ++t)
        for (int s = 0; s < 2; ++s) {
            const DiskTrackSide& side = rig.e().disk.track[t][s];
            bool expected = t < tracks && s < sides;
            ASSERT_EQ(side.formatted, expected) << "track " << t << " side " << s;
            if (!expected) continue;
            std::vector<int> ids;
            for (const auto& sector : side.sectors) {
                ids.push_back(sector.r);
                EXPECT_EQ(sector.c, t);
                EXPECT_EQ(sector.h, s);
                EXPECT_EQ(sector.n, 2);
                EXPECT_TRUE(sector.id_crc_ok);
                EXPECT_TRUE(sector.data_crc_ok);
                EXPECT_EQ(sector.data, Bytes(512, 0xE5));
            }
            ASSERT_EQ(ids, interleaved_ids(s)) << "track " << t << " side " << s;
        }
}

void expect_clean_timing(SimRig& rig)
{
    EXPECT_EQ(rig.e().fdc.figures.lost_data, 0u);
    EXPECT_LE(rig.e().fdc.figures.worst_drq_delay, 128u);
    EXPECT_LE(rig.e().fdc.figures.worst_first_delay, 3 * 128u);
}

TEST(TargetFormat, OneSidedFortyTracks)
{
    SimRig rig;  // a blank disk: the monitor's verify fails on it, and it is formatted all the same
    EXPECT_EQ(format(rig), (Bytes{0, 0}));
    EXPECT_EQ(rig.e().fdc.figures.write_tracks, 40u);
    expect_layout(rig, 40, 1);
    EXPECT_EQ(rig.e().ram[0xFB58], 39);  // the head's track for drive 0
    expect_clean_timing(rig);
    // Then the write phase: the drive flags byte comes unasked.
    EXPECT_EQ(rig.receive_byte(), 0x00);
    EXPECT_NE(rig.screen_transcript().find("] Formatting\r\n"), std::string::npos);
    EXPECT_NE(rig.screen_transcript().find("\r - Format 0: Track 39 \r] Writing disk image    \r\n"),
              std::string::npos);
    EXPECT_EQ(rig.e().protected_writes, 0u);
}

TEST(TargetFormat, TwoSidedEightyTracks)
{
    EinsteinConfig config;
    config.tracks = 80;
    config.sides = 2;
    SimRig rig(config);
    EXPECT_EQ(format(rig), (Bytes{0, 0}));
    EXPECT_EQ(rig.e().fdc.figures.write_tracks, 160u);
    expect_layout(rig, 80, 2);
    EXPECT_EQ(rig.e().ram[0xFB58], 79);
    expect_clean_timing(rig);
    EXPECT_EQ(rig.receive_byte(), 0x11);
}

TEST(TargetFormat, EightyTracksOneSide)
{
    EinsteinConfig config;
    config.tracks = 80;
    SimRig rig(config);
    EXPECT_EQ(format(rig), (Bytes{0, 0}));
    EXPECT_EQ(rig.e().fdc.figures.write_tracks, 80u);
    expect_layout(rig, 80, 1);
    EXPECT_EQ(rig.receive_byte(), 0x10);
}

TEST(TargetFormat, SuppliesTheTrackTemplateByteForByte)
{
    SimRig rig;
    format(rig);
    const Bytes& supplied = rig.e().fdc.figures.supplied_log.at(7);  // track 7, side 0
    Bytes expected(32, 0x4E);
    for (int id : interleaved_ids(0)) {
        auto add = [&](int count, std::uint8_t value) { expected.insert(expected.end(), static_cast<std::size_t>(count), value); };
        add(12, 0x00);
        add(3, 0xF5);
        add(1, 0xFE);
        add(1, 7);
        add(1, 0);
        add(1, static_cast<std::uint8_t>(id));
        add(1, 0x02);
        add(1, 0xF7);
        add(22, 0x4E);
        add(12, 0x00);
        add(3, 0xF5);
        add(1, 0xFB);
        add(512, 0xE5);
        add(1, 0xF7);
        add(44, 0x4E);
    }
    ASSERT_EQ(expected.size(), 6192u);
    ASSERT_GT(supplied.size(), expected.size());
    EXPECT_EQ(Bytes(supplied.begin(), supplied.begin() + 6192), expected);
    for (std::size_t i = 6192; i < supplied.size(); ++i) ASSERT_EQ(supplied[i], 0x4E);
    // On the disc the two CRC bytes of each F7h make it 6,212 bytes, then the gap.
    EXPECT_EQ(rig.e().disk.track[7][0].raw.size(), 6250u);
}

TEST(TargetFormat, AWriteProtectedDiskIsRefusedWithOneByteAndLeftAlone)
{
    EinsteinConfig config;
    config.write_protected = true;
    SimRig rig(config);
    EXPECT_EQ(format(rig), (Bytes{2}));
    EXPECT_TRUE(rig.e().host.from_einstein.empty());
    EXPECT_EQ(rig.e().fdc.figures.write_tracks, 0u);
    EXPECT_FALSE(rig.e().disk.track[0][0].formatted);
    std::string screen = rig.screen_transcript();
    EXPECT_EQ(screen.substr(screen.size() - WAITING.size()), WAITING);
}

TEST(TargetFormat, NoDiskIsNotReady)
{
    EinsteinConfig config;
    config.disk_present = false;
    SimRig rig(config);
    EXPECT_EQ(format(rig), (Bytes{4}));
}

TEST(TargetFormat, ADriveCheckThatFailsOnlyTheFirstTimeGoesAhead)
{
    EinsteinConfig config;
    config.fail_first_restore = true;
    SimRig rig(config);
    EXPECT_EQ(format(rig), (Bytes{0, 0}));
    EXPECT_EQ(rig.e().restores, 2);
    EXPECT_EQ(rig.e().fdc.figures.write_tracks, 40u);
}

TEST(TargetFormat, ASeekErrorStopsTheFormatThere)
{
    for (bool crc : {false, true}) {
        EinsteinConfig config;
        (crc ? config.faults.crc_error_track : config.faults.seek_error_track) = 5;
        SimRig rig(config);
        EXPECT_EQ(format(rig), (Bytes{0, 0xFF}));
        EXPECT_EQ(rig.e().fdc.figures.write_tracks, 5u) << "tracks 0-4 only";
        EXPECT_EQ(rig.e().ram[0xFB56], 0xFF);
        EXPECT_FALSE(rig.e().fdc.phase != FdcPhase::Idle);
        EXPECT_TRUE(rig.e().host.from_einstein.empty());
    }
}

TEST(TargetFormat, ATrackEndedEarlySendsFFhOnceAndWaitsAgain)
{
    EinsteinConfig config;
    config.faults.end_early_track = 3;
    config.faults.end_early_bytes = 3000;
    SimRig rig(config);
    EXPECT_EQ(format(rig), (Bytes{0, 0xFF}));
    EXPECT_TRUE(rig.e().host.from_einstein.empty());
    EXPECT_EQ(rig.e().fdc.figures.write_tracks, 4u);  // tracks 0-2, and track 3 cut short
    EXPECT_LT(rig.e().disk.track[3][0].sectors.size(), 10u);
    EXPECT_FALSE(rig.e().disk.track[4][0].formatted);
    EXPECT_EQ(rig.e().ram[0xFB56], 0xFF);
    std::string screen = rig.screen_transcript();
    EXPECT_EQ(screen.substr(screen.size() - WAITING.size()), WAITING);
    // The stack was reset: a second format goes through - but only a "*"
    // that follows a silence: one right behind other bytes (a stream that
    // was meant for the write) is not a command.
    rig.e().fdc.faults.end_early_track = -1;
    rig.send_byte('*');
    EXPECT_EQ(rig.run_until_starved(), StopReason::Starved);
    EXPECT_EQ(rig.e().restores, 2) << "no drive check: the format did not start";
    rig.pause(0.1);
    rig.send_byte('*');
    EXPECT_EQ(rig.receive(2), (Bytes{0, 0}));
}

// The controller's sector commands, which the monitor's disk calls go
// through: a sector is found when its ID field passes the head, its bytes
// pass a byte time apart, and the faults show as on the chip.
TEST(Controller, SectorCommandsFollowTheTurningDisk)
{
    SimRig rig;
    rig.preformat();
    Einstein& e = rig.e();
    Wd1770* fdc = &e.fdc;
    einstein_select_drive(&e, 0x01);
    std::uint64_t t = 10 * FDC_REVOLUTION_TSTATES + 1000;
    Bytes pattern = sector_pattern(0, 0, 77);
    // Runs a command to its end, polling every 40 T; a data request is
    // answered unless `lazy` (then the bytes are left alone).
    auto run = [&](std::uint8_t command, int id, Bytes* data, bool lazy) {
        wd1770_write(fdc, WD_REG_TRACK, 0, t);
        wd1770_write(fdc, WD_REG_SECTOR, static_cast<std::uint8_t>(id), t);
        wd1770_write(fdc, WD_REG_STATUS_COMMAND, command, t);
        std::uint64_t start = t;
        std::size_t n = 0;
        while (wd1770_busy(fdc) && t < start + 20 * FDC_REVOLUTION_TSTATES) {
            t += 40;
            wd1770_advance(fdc, t);
            if (lazy || !wd1770_data_request(fdc)) continue;
            if (command < 0xA0) data->push_back(wd1770_read(fdc, WD_REG_DATA, t));
            else wd1770_write(fdc, WD_REG_DATA, (*data)[n++ % data->size()], t);
        }
        EXPECT_FALSE(wd1770_busy(fdc));
        return t - start;
    };
    // A write with the motor off waits out the spin-up, then the sector.
    std::uint64_t took = run(0xA0, 5, &pattern, false);
    EXPECT_GE(took, 6 * FDC_REVOLUTION_TSTATES);
    EXPECT_EQ(fdc->status & (WD_STATUS_LOST_DATA | WD_STATUS_RECORD_NOT_FOUND), 0);
    EXPECT_EQ(disk_find_sector(&e.disk, 0, 0, 5)->data, pattern);
    // The motor runs: a read takes at most a turn and the sector.
    Bytes read;
    took = run(0x88, 5, &read, false);
    EXPECT_LE(took, FDC_REVOLUTION_TSTATES + 560 * FDC_BYTE_TSTATES);
    EXPECT_EQ(read, pattern);
    EXPECT_EQ(fdc->status & (WD_STATUS_LOST_DATA | WD_STATUS_CRC_ERROR), 0);
    // Bytes left unread are lost; an ID that is not there is given up at
    // the fifth index pulse; a write whose first byte never comes writes
    // nothing.
    run(0x88, 6, &read, true);
    EXPECT_NE(fdc->status & WD_STATUS_LOST_DATA, 0);
    took = run(0x88, 12, &read, false);
    EXPECT_NE(fdc->status & WD_STATUS_RECORD_NOT_FOUND, 0);
    EXPECT_GE(took, 4 * FDC_REVOLUTION_TSTATES);
    EXPECT_LE(took, 5 * FDC_REVOLUTION_TSTATES);
    run(0xA8, 7, &pattern, true);
    EXPECT_NE(fdc->status & WD_STATUS_LOST_DATA, 0);
    EXPECT_EQ(disk_find_sector(&e.disk, 0, 0, 7)->data, Bytes(512, 0xE5));
}

}  // namespace
