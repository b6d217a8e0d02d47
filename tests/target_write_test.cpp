// The image write on the virtual Einstein: where the sectors of each batch
// land, the status blocks, the progress lines, and the end of a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "image/dsk_codec.h"
#include "link/sector_lz.h"
#include "link/wire_forms.h"
#include "sim/mos.h"
#include "target/program_stages.h"
#include "target/target_program.h"
#include "tests/support/sim_rig.h"

#include <z80ex/z80ex.h>

namespace {

namespace label = target_program_image_labels;

int count(const std::string& text, const std::string& part)
{
    int n = 0;
    for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) ++n;
    return n;
}

// A preformatted disk and the program in its write phase, geometry sent;
// with the second stage in place (as after "S") when asked.
struct WritePhase {
    explicit WritePhase(EinsteinConfig config, Bytes geometry, bool stage_two = false) : rig(config)
    {
        rig.preformat();
        if (stage_two) {
            einstein_load(&rig.e(), label::stage_two_start, target_stage_two_image,
                          static_cast<std::size_t>(target_stage_two_size));
            rig.call(label::stage_two_init);
            rig.run_to_halt();
            rig.e().ram[label::stage_two_loaded] = label::PACKED_BATCH;
            rig.call(label::stream_empty);  // no stream yet, as the stage's load leaves it
            rig.run_to_halt();
        }
        rig.call(label::write_image);
        flags = rig.receive_byte();
        rig.send(geometry);
    }
    // One batch of sectors: sector k holds sector_pattern(first + k).
    Bytes batch(int first, int sectors = 80)
    {
        rig.send_byte(0x00);
        for (int k = 0; k < sectors; ++k) rig.send_block(sector_pattern((first + k) / 256, 0, (first + k) % 256));
        return rig.receive_block(static_cast<std::size_t>(sectors), 0, &status_was_fill);
    }
    SimRig rig;
    std::uint8_t flags = 0;
    bool status_was_fill = false;
};

TEST(TargetWrite, TenSectorsACylinderAcrossBatches)
{
    WritePhase w(EinsteinConfig{}, {40, 10, 80});
    EXPECT_EQ(w.flags, 0x00);
    EXPECT_EQ(w.batch(0), Bytes(80, 0));
    EXPECT_TRUE(w.status_was_fill);
    EXPECT_EQ(w.batch(80), Bytes(80, 0));
    for (int n = 0; n < 160; ++n) {
        DiskSector* s = disk_find_sector(&w.rig.e().disk, n / 10, 0, n % 10);
        ASSERT_NE(s, nullptr);
        ASSERT_EQ(s->data, sector_pattern(n / 256, 0, n % 256)) << n;
    }
    // The second batch began at track 8 sector 0; progress at each new track only.
    std::string screen = w.rig.screen_transcript();
    EXPECT_EQ(count(screen, "\r - Write 0: Track 08 Sector 00 "), 1);
    EXPECT_EQ(count(screen, "Sector 05"), 0);
    EXPECT_EQ(count(screen, "\r - Write 0: Track "), 1 + 16);
}

TEST(TargetWrite, TwentySectorsACylinderUseBothSides)
{
    EinsteinConfig config;
    config.tracks = 80;
    config.sides = 2;
    WritePhase w(config, {80, 20, 80});
    EXPECT_EQ(w.flags, 0x11);
    w.batch(0);
    w.batch(80);
    for (int n = 0; n < 160; ++n) {
        int track = n / 20, id = n % 20;
        DiskSector* s = disk_find_sector(&w.rig.e().disk, track, id >= 10 ? 1 : 0, id);
        ASSERT_NE(s, nullptr) << n;
        ASSERT_EQ(s->data, sector_pattern(n / 256, 0, n % 256)) << n;
    }
    EXPECT_EQ(count(w.rig.screen_transcript(), "\r - Write 0: Track 04 Sector 00 "), 1);
    EXPECT_EQ(count(w.rig.screen_transcript(), "Track 04 Sector 10"), 0);
}

TEST(TargetWrite, TheEndByteRightAfterTheGeometryWritesNothing)
{
    WritePhase w(EinsteinConfig{}, {40, 10, 80});
    w.rig.send_byte(0x02);
    EXPECT_EQ(w.rig.run_to_halt(), StopReason::Halted);  // write_image returned
    EXPECT_EQ(w.rig.e().sector_writes, 0);
    std::string screen = w.rig.screen_transcript();
    EXPECT_EQ(screen, "\r - Write 0: Track 00 Sector 00 \r[ Transfer successful reboot Einstein.\n\r");
}

TEST(TargetWrite, AFailedWriteIsReportedAndTheBatchGoesOn)
{
    EinsteinConfig config;
    config.faults.unwritable = {{0, 0}};
    WritePhase w(config, {40, 10, 80});
    Bytes expected(80, 0);
    expected[0] = 3;
    EXPECT_EQ(w.batch(0), expected);
    EXPECT_FALSE(w.status_was_fill);
    // Sector 0 is the first to pass the head; the progress line is shown
    // again for the write after the failure, sector 5 (the next one round
    // the track), which is not the start of a track.
    std::string screen = w.rig.screen_transcript();
    EXPECT_EQ(count(screen, "\r - Write 0: Track 00 Sector 05 "), 1) << screen;
    // The sectors after it went to their own places.
    EXPECT_EQ(disk_find_sector(&w.rig.e().disk, 0, 0, 5)->data, sector_pattern(0, 0, 5));
    EXPECT_EQ(disk_find_sector(&w.rig.e().disk, 0, 0, 0)->data, Bytes(512, 0xE5));
}

TEST(TargetWrite, AnyCommandByteButTwoOpensABatchButTheSecondStagesNeedIt)
{
    // Another byte opens a plain batch; the verified and the compressed
    // batch's bytes without the second stage are refused (the PC is told,
    // and nothing is written): never taken for a plain batch.
    for (std::uint8_t command : {std::uint8_t{0x7F}, std::uint8_t{label::VERIFY_BATCH}, std::uint8_t{label::PACKED_BATCH}}) {
        WritePhase w(EinsteinConfig{}, {40, 10, 80});
        w.rig.send_byte(command);
        if (command != 0x7F) {
            EXPECT_EQ(w.rig.receive_byte(), label::TIMEOUT_NOTICE) << int{command};
            EXPECT_EQ(w.rig.run_until_starved(), StopReason::Starved);
            EXPECT_NE(w.rig.screen_transcript().find(" - REFUSED!"), std::string::npos) << int{command};
            EXPECT_EQ(w.rig.e().sector_writes, 0) << int{command};
            continue;
        }
        for (int k = 0; k < 80; ++k) w.rig.send_block(Bytes(512, static_cast<std::uint8_t>(k)));
        EXPECT_EQ(w.rig.receive_block(80), Bytes(80, 0)) << int{command};
        EXPECT_EQ(w.rig.e().sector_writes, 80) << int{command};
    }
}

// A compressed batch (-fast): each block is taken once, at its own number's
// place, when its CRC-16 agrees; a damaged block (even one the 8-bit sums
// miss), a damaged length, one ahead of its turn, a damaged checksum of the
// PC's and a block sent twice do not shift the batch.  The Write Track
// that formats the side lays down the filler sectors (they come as a
// header only) and the sectors whose block says they hold no F5h-F7h
// bytes (2: F4h and F8h only); the others are written after it.  Every
// sector is read back: 5, whose one F7h at its very end its block denies,
// is laid down wrong by the Write Track, reads back wrong and is written
// in the next round.
TEST(TargetWrite, ACompressedBatchTakesEachBlockOnceAtItsPlace)
{
    // Two batches of ten sectors: the first block by block, the second
    // mostly as the stream that goes while the first is written (its
    // sectors of bytes that do not compress, so that more of the stream is
    // due than the work grants, and its rest comes after the work).
    WritePhase w(EinsteinConfig{}, {40, 10, 10}, true);
    Bytes batch;
    std::mt19937 noise(38);
    for (int k = 0; k < 20; ++k) {
        Bytes sector = k == 4 || k == 7 || k == 13 ? Bytes(512, 0xE5) : sector_pattern(0, 0, k);
        if (k >= 10 && k != 13)
            for (std::uint8_t& b : sector) b = static_cast<std::uint8_t>(noise() >> 24);
        if (k == 2)
            for (std::size_t i = 0; i < sector.size(); ++i) sector[i] = i % 3 ? 0xF4 : 0xF8;
        if (k == 5) {
            for (std::uint8_t& b : sector) b &= 0x7F;
            sector.back() = 0xF7;
        }
        batch.insert(batch.end(), sector.begin(), sector.end());
    }
    auto block = [&](int n) {  // as the PC makes it, but 5 flagged layable (wrongly)
        Bytes ten(batch.begin() + (n - n % 10) * 512, batch.begin() + (n - n % 10 + 10) * 512);
        PackedSector packed = pack_sector(ten, n % 10);
        if (n == 5) packed.layable = true;
        return packed_block(packed);
    };
    // True when the Einstein's checksum agrees with the PC's, the sum of the
    // block the PC meant (`arrives` is what the line made of it); the PC's
    // checksum goes back (damaged, when asked: the Einstein then expects a
    // block again).  The Einstein answers a block whose length came damaged
    // once the line has been quiet a while.
    auto taken = [&](const Bytes& meant, std::uint8_t damage = 0, const Bytes* arrives = nullptr) {
        const Bytes& b = arrives ? *arrives : meant;
        w.rig.send(b);
        if (b[0] + b[1] + b[2] != 0xFF) einstein_run(&w.rig.e(), 2 * 52 * label::QUIET_POLLS, false);
        std::uint8_t theirs = w.rig.receive_byte(), mine = 0;
        for (std::uint8_t x : meant) mine = static_cast<std::uint8_t>(mine + x);
        w.rig.send_byte(static_cast<std::uint8_t>(mine ^ damage));
        return theirs == mine;
    };
    // The stream of a batch at sector 0 of the track: its header, then blocks.
    auto stream = [](const std::vector<Bytes>& blocks, std::uint8_t track) { return stream_of(blocks, track, 0); };
    // The batch byte, then the batch's track and sector, checked.
    auto open_batch = [&](std::uint8_t track, std::uint8_t check_damage = 0) {
        Bytes command = checked_command(label::PACKED_BATCH, {track, 0});
        command.back() ^= check_damage;
        w.rig.send(command);
    };
    open_batch(0);
    EXPECT_EQ(w.rig.receive(2), (Bytes{0, 0xFF}));  // nothing came ahead
    // The rest follows as streams, taken up to a block that does not check
    // out (two bytes of the form swapped: the block's CRC refuses it); a
    // stream of another batch is never taken; one from a block taken
    // already (the PC missed an answer) is taken from the one due.
    Bytes damaged = block(1);
    std::size_t other = 7;
    while (damaged[other] == damaged[6]) ++other;
    std::swap(damaged[6], damaged[other]);
    w.rig.send(stream({block(0), damaged, block(2)}, 0));
    EXPECT_EQ(w.rig.receive(2), (Bytes{1, 0xFE}));
    w.rig.send(stream({block(1)}, 5));
    EXPECT_EQ(w.rig.receive(2), (Bytes{1, 0xFE}));
    w.rig.send(stream({block(0), block(1)}, 0));
    EXPECT_EQ(w.rig.receive(2), (Bytes{2, 0xFD}));
    // Then one by one, each block answered.
    damaged = block(2);  // the sums agree, the CRC refuses (the PC would resume)
    for (other = 7; damaged[other] == damaged[6];) ++other;
    std::swap(damaged[6], damaged[other]);
    EXPECT_TRUE(taken(block(2), 0, &damaged));
    damaged = block(2);  // a byte changed: the sums differ
    damaged[9] ^= 0x21;
    EXPECT_FALSE(taken(block(2), 0, &damaged));
    damaged = block(2);  // a length one short: its last byte is let pass
    damaged[0] = static_cast<std::uint8_t>(damaged[0] - 1);
    EXPECT_FALSE(taken(block(2), 0, &damaged));
    EXPECT_FALSE(taken(block(4)));       // ahead of its turn
    EXPECT_TRUE(taken(block(2), 0x10));  // the PC's checksum damaged: the PC goes on,
    EXPECT_TRUE(taken(block(3)));        // and so does the Einstein
    EXPECT_TRUE(taken(block(0)));        // sent twice
    for (int k = 4; k < 10; ++k) EXPECT_TRUE(taken(block(k))) << k;
    // The next batch goes while this one is written, as the Einstein grants
    // it, a byte of its sector 14 changed on the line: the blocks before it
    // are taken.  Part of it comes during the work, the rest once the work
    // is done, when the blocks that are in are judged while the others come.
    std::vector<Bytes> next;
    for (int n = 10; n < 20; ++n) next.push_back(block(n));
    next[4][20] ^= 0x04;
    Bytes status(10, 0);
    status[5] = label::STATUS_VERIFIED_AFTER_REWRITE + 1;
    EXPECT_EQ(w.rig.receive_block_granting(10, stream(next, 1)), status);
    // Six written after the Write Track, 5 in the next round, by the program
    // itself, none by the monitor's call; part of the stream came meanwhile,
    // without a byte lost in the 8251 or a data request missed.
    const Wd1770Figures& fdc = w.rig.e().fdc.figures;
    EXPECT_EQ(std::count_if(fdc.commands.begin(), fdc.commands.end(),
                            [](const auto& c) { return (c.second & 0xE0) == 0xA0; }),
              7);
    EXPECT_EQ(w.rig.e().sector_writes, 0);
    EXPECT_GT(w.rig.e().overlap_bytes, 0u);
    EXPECT_EQ(w.rig.e().usart.overruns, 0u);
    EXPECT_EQ(fdc.lost_data, 0u);
    EXPECT_EQ(w.rig.e().ram[label::ahead_count], 4);  // judged up to the damaged one
    open_batch(1);
    EXPECT_EQ(w.rig.receive(2), (Bytes{4, 0xFB}));
    w.rig.send(stream(std::vector<Bytes>(next.begin() + 4, next.end()), 1));  // still damaged
    EXPECT_EQ(w.rig.receive(2), (Bytes{4, 0xFB}));
    next[4] = block(14);
    w.rig.send(stream(std::vector<Bytes>(next.begin() + 4, next.end()), 1));
    EXPECT_EQ(w.rig.receive(2), (Bytes{10, 0xF5}));
    // A stream of another batch, never taken.
    EXPECT_EQ(w.rig.receive_block_granting(10, stream({block(0)}, 0)), Bytes(10, 0));
    open_batch(3);  // the PC's order need not be the disk's
    EXPECT_EQ(w.rig.receive(2), (Bytes{0, 0xFF}));
    EXPECT_EQ(w.rig.e().ram[mos::mos_track], 3);
    // A batch byte whose place came damaged, or names no place where a
    // batch begins (past the image's tracks, or within a side), is dropped:
    // the Einstein goes back to its command loop (the PC's resume follows)
    // and lays down nothing.
    for (const Bytes& place : {Bytes{0, 0, 0xFE}, Bytes{40, 0, 0xD7}, Bytes{0, 5, 0xFA}}) {
        WritePhase d(EinsteinConfig{}, {40, 10, 10}, true);
        int waiting = count(d.rig.screen_transcript(), "[ Waiting to proceed");
        d.rig.send_byte(label::PACKED_BATCH);
        d.rig.send(place);
        EXPECT_EQ(d.rig.run_until_starved(), StopReason::Starved);
        EXPECT_EQ(count(d.rig.screen_transcript(), "[ Waiting to proceed"), waiting + 1) << int{place[0]};
        const auto& commands = d.rig.e().fdc.figures.commands;
        auto writes = [](const auto& c) { return (c.second & 0xE0) == 0xA0 || c.second >= 0xF0; };
        EXPECT_EQ(std::count_if(commands.begin(), commands.end(), writes), 0) << int{place[0]};
    }
    for (int n = 0; n < 20; ++n)
        EXPECT_EQ(disk_find_sector(&w.rig.e().disk, n / 10, 0, n % 10)->data,
                  Bytes(batch.begin() + n * 512, batch.begin() + (n + 1) * 512))
            << n;
}

TEST(TargetWrite, ABatchSizeOfZeroOrOverEightyIsTakenAsEighty)
{
    for (std::uint8_t size : {0, 81, 255}) {
        WritePhase w(EinsteinConfig{}, {40, 10, size});
        w.batch(0);  // 80 sectors and an 80-byte status block: the exchange stays in step
        EXPECT_EQ(w.rig.e().sector_writes, 80);
        EXPECT_EQ(w.rig.e().protected_writes, 0u);
    }
}

TEST(TargetWrite, AGeometryThatMakesNoSenseIsRefusedAndThePcIsTold)
{
    // A byte damaged on the line: sectors per cylinder other than 10 or 20,
    // or a track count outside 1-80, would put sectors in the wrong places.
    struct Case {
        Bytes geometry;
    } cases[] = {{{40, 11, 80}}, {{40, 0, 80}}, {{0, 10, 80}}, {{81, 10, 80}}};
    for (const auto& c : cases) {
        WritePhase w(EinsteinConfig{}, c.geometry);
        EXPECT_EQ(w.rig.receive_byte(), label::TIMEOUT_NOTICE) << int(c.geometry[0]) << "/" << int(c.geometry[1]);
        EXPECT_EQ(w.rig.run_until_starved(), StopReason::Starved);
        std::string screen = w.rig.screen_transcript();
        EXPECT_NE(screen.find(" - REFUSED!\r\n---- RESET ----\n\r[ Waiting to proceed\r"), std::string::npos) << screen;
        EXPECT_EQ(w.rig.e().sector_writes, 0);
    }
}

TEST(TargetWrite, ASmallerBatchSizeIsHonoured)
{
    WritePhase w(EinsteinConfig{}, {40, 10, 20});
    EXPECT_EQ(w.batch(0, 20), Bytes(20, 0));
    EXPECT_EQ(w.batch(20, 20), Bytes(20, 0));
    EXPECT_EQ(disk_find_sector(&w.rig.e().disk, 3, 0, 9)->data, sector_pattern(0, 0, 39));
}

TEST(TargetWrite, ATrackSideTakesAboutOneTurnToWriteAndOneToReadBack)
{
    // A batch of eight track sides on a formatted disk, as the disk turns
    // and as the monitor's calls cost (its 1.6 ms a character of the
    // progress line, its 12 ms steps and 28 ms settle): no sector command
    // waits for its sector to come round, and the index pulses that pass
    // while the program writes (and with -verify reads back and checks) are
    // about one turn a pass.  The head is found with a Read Address where
    // it steps to a new track (while the progress line prints) and at the
    // batch's first side; the writes then go in the order the sectors pass
    // it.  The order of their IDs (a 2:1 interleave) would cost over three
    // turns a side, and a slot allowance too small for the monitor's step
    // costs a turn at every track.
    struct Case {
        int sides;
        std::uint8_t batch_byte;
    } cases[] = {{1, 0x00}, {2, 0x00}, {1, 0x04}, {2, 0x04}};
    for (const Case& c : cases) {
        EinsteinConfig config;
        config.tracks = 80;
        config.sides = c.sides;
        WritePhase w(config, {80, static_cast<std::uint8_t>(10 * c.sides), 80}, true);
        w.rig.send_byte(c.batch_byte);
        Bytes crcs;
        for (int k = 0; k < 80; ++k) {
            Bytes sector = sector_pattern(0, 0, k);
            w.rig.send_block(sector);
            std::uint16_t crc = dsk::crc16(sector.data(), sector.size());
            crcs.push_back(static_cast<std::uint8_t>(crc >> 8));
            crcs.push_back(static_cast<std::uint8_t>(crc));
        }
        if (c.batch_byte == 0x04) w.rig.send_block(crcs);
        ASSERT_EQ(w.rig.receive_block(80), Bytes(80, 0)) << c.sides;
        const DiskTimes& d = w.rig.e().disk_times;
        ASSERT_EQ(d.sides_written.size(), 8u);
        bool verify = c.batch_byte == 0x04;
        EXPECT_EQ(w.rig.e().fdc.figures.turns_waited, 0u) << c.sides << " " << verify;
        // A pass is a turn; a new track adds the progress line and the
        // search for the head (under half a turn), a side read back adds
        // its ten CRC checks (83 ms).
        EXPECT_LE(static_cast<double>(d.writing) / FDC_REVOLUTION_TSTATES / 8, 1.45) << c.sides << " " << verify;
        EXPECT_LE(static_cast<double>(d.reading) / FDC_REVOLUTION_TSTATES / 8, verify ? 1.8 : 0.0) << c.sides;
        // The index pulses that passed meanwhile (each stretch counts the
        // pulses it saw whole, so short stretches count a little over).
        EXPECT_LE(d.writing_index_pulses + d.reading_index_pulses, verify ? 24u : 12u) << c.sides << " " << verify;
    }
}

// The compressed form of a sector (-fast): a batch of every kind of sector
// comes back whole through the PC's expander and through the Z80's in the
// second stage, each sector copying from the earlier ones where it can; no
// sector grows by more than a byte in 128; a damaged form is refused, and
// on the Z80 writes nothing past its sector.
TEST(SectorForm, EveryKindOfSectorComesBackWholeOnBothSides)
{
    std::uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, static_cast<std::uint8_t>(seed >> 16); };
    const std::string text = "A>DIR B:\r\nSTAT.COM  PIP.COM  ED.COM  The quick brown fox, 10 PRINT \"HELLO\"\r\n";
    std::vector<std::pair<const char*, Bytes>> samples;
    samples.emplace_back("filler", Bytes(512, 0xE5));
    Bytes code(target_program_image + 0x200, target_program_image + 0x400);
    samples.emplace_back("Z80 code", code);
    Bytes words;
    for (int k = 0; words.size() < 512; ++k) words.push_back(static_cast<std::uint8_t>(text[static_cast<std::size_t>(k * 7 % 5 == 0 ? (k + 3) % text.size() : k % text.size())]));
    samples.emplace_back("text", words);
    Bytes random(512);
    for (auto& b : random) b = next();
    samples.emplace_back("random", random);
    Bytes far(512);  // copies from exactly 256 bytes back (near), and from 257 (far)
    for (int k = 0; k < 512; ++k) far[static_cast<std::size_t>(k)] = k < 256 ? next() : far[static_cast<std::size_t>(k - 256)];
    samples.emplace_back("256 back", far);
    for (int k = 257; k < 512; ++k) far[static_cast<std::size_t>(k)] = far[static_cast<std::size_t>(k - 257)];
    samples.emplace_back("257 back", far);
    samples.emplace_back("the code again", code);  // from five sectors back
    Bytes batch;
    for (const auto& sample : samples) batch.insert(batch.end(), sample.second.begin(), sample.second.end());

    namespace L = target_program_image_labels;
    SimRig rig;
    einstein_load(&rig.e(), L::stage_two_start, target_stage_two_image, static_cast<std::size_t>(target_stage_two_size));
    Bytes back(batch.size());
    std::size_t total = 0;
    for (std::size_t k = 0; k < samples.size(); ++k) {
        const char* name = samples[k].first;
        std::size_t offset = k * 512;
        std::vector<std::uint8_t> form = lz_compress_sector(batch.data(), offset);
        EXPECT_LE(form.size(), static_cast<std::size_t>(LZ_MAX_FORM)) << name;
        total += form.size();
        EXPECT_TRUE(lz_expand_sector(form.data(), form.size(), back.data(), offset)) << name;
        EXPECT_TRUE(std::equal(batch.begin() + static_cast<long>(offset), batch.begin() + static_cast<long>(offset + 512),
                               back.begin() + static_cast<long>(offset)))
            << name;
        // The Z80 expands into the batch's buffer, the earlier sectors in place.
        const std::uint16_t to = static_cast<std::uint16_t>(L::sector_buffer + offset), at = L::verify_area;
        einstein_load(&rig.e(), at, form.data(), form.size());
        rig.call(L::expand_sector, at, 0, to);
        ASSERT_EQ(rig.run_to_halt(), StopReason::Halted) << name;
        EXPECT_TRUE(std::equal(&rig.e().ram[to], &rig.e().ram[to] + 512, batch.begin() + static_cast<long>(offset)))
            << name;
        EXPECT_EQ(rig.reg(regHL), at + form.size()) << name;
        EXPECT_EQ(rig.reg(regAF) & 0x40, 0x40) << name << ": whole";
    }
    EXPECT_LE(lz_compress_sector(samples[0].second.data(), 0).size(), 18u);  // a literal and eight copies
    EXPECT_GT(lz_compress_sector(random.data(), 0).size(), 512u);
    EXPECT_LE(lz_compress_sector(batch.data(), 6 * 512).size(), 30u) << "the code again";
    EXPECT_LT(total, batch.size() * 2 / 3);
    // A form that is cut short, copies from before the batch, or has bytes
    // left over is refused; on the Z80, one that runs past the sector's end
    // stops there (NZ) and leaves the next sector alone.
    std::vector<std::uint8_t> form = lz_compress_sector(batch.data(), 512);
    EXPECT_FALSE(lz_expand_sector(form.data(), form.size() - 1, back.data(), 512));
    form.push_back(0);
    EXPECT_FALSE(lz_expand_sector(form.data(), form.size(), back.data(), 512));
    const std::uint8_t too_far[] = {0x00, 0x41, 0xC0, 0x01, 0x00};
    EXPECT_FALSE(lz_expand_sector(too_far, sizeof too_far, back.data(), 256));
    std::vector<std::uint8_t> overlong;
    for (int k = 0; k < 3; ++k) {  // 384 literals, then 66 and 66 bytes copied: 516
        overlong.push_back(0x7F);
        overlong.resize(overlong.size() + 128, 0x11);
    }
    overlong.insert(overlong.end(), {0xBF, 0x00, 0xBF, 0x00});
    EXPECT_FALSE(lz_expand_sector(overlong.data(), overlong.size(), back.data(), 0));
    const std::uint16_t to = L::sector_buffer, at = L::verify_area;
    std::fill(&rig.e().ram[to + 512], &rig.e().ram[to + 520], 0x5A);
    einstein_load(&rig.e(), at, overlong.data(), overlong.size());
    rig.call(L::expand_sector, at, 0, to);
    ASSERT_EQ(rig.run_to_halt(), StopReason::Halted);
    EXPECT_EQ(rig.reg(regAF) & 0x40, 0) << "refused";
    EXPECT_EQ(Bytes(&rig.e().ram[to + 512], &rig.e().ram[to + 520]), Bytes(8, 0x5A));
}

}  // namespace
