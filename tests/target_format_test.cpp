// The format pass on the virtual Einstein's WD1770: the layout it writes,
// the two status bytes, the byte timing of every write track, and each way
// a format fails.
#include <gtest/gtest.h>

#include <z80ex/z80ex.h>

#include "sim/mos.h"
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

// The monitor's sector calls as the MOS 1.2 makes them, through the
// controller and the turning disk: the commands it gives and when, the
// tries, and a result that is only ever what the disk did - a sector
// reported written is on the disk, a drive that never turns is "not
// ready", never a success.
TEST(Monitor, SectorCallsAsTheMos12MakesThem)
{
    constexpr std::uint64_t MS = CPU_HZ / 1000;
    struct Case {
        const char* what;
        bool write;
        int track, id;
        bool motor_off;       // the controller was reset before the call (as after a failure)
        bool bad_read;        // every read of the sector fails "bad data"
        bool no_disk;
        bool write_protected;
        std::uint8_t code;    // the call's result
        std::vector<std::uint8_t> commands;  // the controller commands it gives, in order
    } cases[] = {
        {"a write one track in", true, 1, 4, false, false, false, false, 0, {0x11, 0xA0}},
        {"a write with the motor off", true, 2, 7, true, false, false, false, 0, {0x05, 0x11, 0xA0}},
        {"a read of a bad sector", false, 0, 3, false, true, false, false, 1,
         {0x80, 0xD0, 0x05, 0x80, 0xD0, 0x05, 0x80, 0xD0, 0x05, 0x80, 0xD0, 0x05, 0x80, 0xD0, 0x05, 0x80,
          0xD0, 0x05, 0x80, 0xD0, 0x05, 0x80, 0xD0, 0x05, 0x80, 0xD0, 0x05, 0x80}},
        {"a write to a protected disk", true, 0, 3, false, false, false, true, 2, {0xA0}},
        {"no disk, the motor off", true, 0, 3, true, false, true, false, 4, {0x05, 0xD0}},
    };
    for (const Case& c : cases) {
        EinsteinConfig config;
        if (c.bad_read) config.faults.bad_data = {{c.track, c.id}};
        SimRig rig(config);
        rig.preformat();
        Einstein& e = rig.e();
        e.disk.present = !c.no_disk;
        e.disk.write_protected = c.write_protected;
        Bytes data = sector_pattern(c.track, 0, c.id);
        einstein_load(&e, 0x4000, data.data(), data.size());
        // The motor turning, the head on track 0 (a read of track 0), or
        // the controller just reset.
        einstein_select_drive(&e, 0x01);
        wd1770_write(&e.fdc, WD_REG_STATUS_COMMAND, 0x08, e.clock);  // restore, no spin-up
        einstein_run(&e, 2 * FDC_REVOLUTION_TSTATES, false);
        if (c.motor_off) wd1770_reset(&e.fdc, e.clock);
        e.ram[mos::mos_head_track] = 0;
        e.ram[mos::mos_drive] = 0;
        e.ram[mos::mos_track] = static_cast<std::uint8_t>(c.track);
        e.ram[mos::mos_sector] = static_cast<std::uint8_t>(c.id);
        e.ram[mos::mos_buffer] = 0x00;
        e.ram[mos::mos_buffer + 1] = 0x40;
        const std::uint8_t call[] = {0xCF, static_cast<std::uint8_t>(c.write ? mos::CALL_WRITE_SECTOR : mos::CALL_READ_SECTOR), 0x76};
        einstein_load(&e, 0xE000, call, sizeof call);
        std::size_t before = e.fdc.figures.commands.size();
        std::uint64_t start = e.clock;
        rig.call(0xE000);
        ASSERT_EQ(rig.run_to_halt(), StopReason::Halted) << c.what;
        EXPECT_EQ(e.ram[mos::mos_error], c.code) << c.what;
        std::vector<std::uint8_t> given;
        std::vector<std::uint64_t> when;
        for (std::size_t i = before; i < e.fdc.figures.commands.size(); ++i) {
            given.push_back(e.fdc.figures.commands[i].second);
            when.push_back(e.fdc.figures.commands[i].first - start);
        }
        EXPECT_EQ(given, c.commands) << c.what;
        DiskSector* sector = disk_find_sector(&e.disk, c.track, 0, c.id);
        ASSERT_NE(sector, nullptr);
        if (c.write) {
            EXPECT_EQ(sector->data == data, c.code == 0) << c.what << ": reported written, and on the disk";
        }
        if (c.what == std::string("a write one track in")) {
            // The call's set-up (0.2 ms), one 12 ms step, the monitor's
            // 28 ms settle; then the sector within a turn.
            EXPECT_NEAR(static_cast<double>(when[1]) / MS, 0.2 + 12 + 28.3, 0.5) << c.what;
            EXPECT_LE(e.clock - start - when[1], FDC_REVOLUTION_TSTATES + 600 * FDC_BYTE_TSTATES) << c.what;
        }
        if (c.motor_off && !c.no_disk) {
            // The restore waits out the spin-up (six index pulses).
            EXPECT_GE(when[1], 5 * FDC_REVOLUTION_TSTATES) << c.what;
        }
        if (c.code != 0) {
            EXPECT_FALSE(e.fdc.motor_on) << c.what << ": the controller is reset after a failure";
        }
    }
}

}  // namespace
