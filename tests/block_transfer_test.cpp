// The block exchange against a scripted Einstein on a pseudo-terminal: the
// exact bytes on the wire and the exact progress text on the console.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "link/block_transfer.h"
#include "link/link_limits.h"
#include "link/serial_port.h"
#include "run/link_lines.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/stdout_capture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
const char LABEL[] = "WRITE 0: Track 07 Sector 03";
const std::string ENTRY = std::string("\r - ") + LABEL;

class BlockTransferTest : public testing::Test {
protected:
    void SetUp() override
    {
        print_link_events();
        line.export_as(1);
        ASSERT_EQ(serial_open(1, 9600, 8, 0, 2, 1), 1);
    }
    void TearDown() override { serial_close(); }

    // Runs transfer_block while the peer plays its script; returns the console text.
    std::string run(Bytes& block, const char* label, int send, std::function<void(PtyLine&)> script,
                    int* result = nullptr)
    {
        ScriptedPeer peer(line, script);
        StdoutCapture capture;
        int r = transfer_block(block.data(), static_cast<int>(block.size()), label, send);
        std::string text = capture.finish();
        EXPECT_EQ(peer.finish(), "");
        if (result) *result = r;
        return text;
    }

    PtyLine line;
};

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

TEST_F(BlockTransferTest, AUniformSectorGoesAsFillMarkerAndValueOnly)
{
    for (std::uint8_t value : {0xE5, 0x00, 0x03}) {
        Bytes block(512, value);
        Bytes wire;
        int result = 0;
        std::string console = run(block, LABEL, 1, [&](PtyLine& l) { wire = l.receive(2); }, &result);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(wire, (Bytes{0x03, value}));
        EXPECT_TRUE(line.drain(50).empty()) << "more than two bytes were sent";
        EXPECT_EQ(console, ENTRY);
    }
}

TEST_F(BlockTransferTest, ABlockDifferingOnlyInItsLastByteGoesInFull)
{
    Bytes block(512, 0xE5);
    block[511] = 0xE4;
    Bytes wire;
    std::uint8_t pc_checksum = 0;
    std::string console = run(block, LABEL, 1, [&](PtyLine& l) {
        wire = l.receive(513);
        l.send_byte(block_checksum(Bytes(wire.begin() + 1, wire.end())));
        pc_checksum = l.receive_byte();
    });
    EXPECT_EQ(wire, concat({{0x00}, block}));
    EXPECT_EQ(pc_checksum, block_checksum(block));
    EXPECT_EQ(console, ENTRY);  // printed once, never rewritten
}

TEST_F(BlockTransferTest, AChecksumDisagreementRepeatsTheBlockWithoutMarker)
{
    Bytes block(512);
    for (int i = 0; i < 512; ++i) block[i] = static_cast<std::uint8_t>(i * 7);
    std::uint8_t right = block_checksum(block);
    Bytes wire;
    std::string console = run(block, LABEL, 1, [&](PtyLine& l) {
        Bytes first = l.receive(513);
        l.send_byte(static_cast<std::uint8_t>(right + 1));  // the Einstein got something else
        Bytes first_pc = l.receive(1);
        Bytes second = l.receive(512);
        l.send_byte(right);
        Bytes second_pc = l.receive(1);
        wire = concat({first, {static_cast<std::uint8_t>(right + 1)}, first_pc, second, {right}, second_pc});
    });
    EXPECT_EQ(wire, concat({{0x00}, block, {static_cast<std::uint8_t>(right + 1), right}, block, {right, right}}));
    EXPECT_EQ(console, ENTRY + " (checksum error)" + ENTRY + std::string(17, ' ') + ENTRY);
}

TEST_F(BlockTransferTest, ManyFailingPassesShowTheNoticeOnce)
{
    Bytes block(512, 0x11);
    block[0] = 0x22;
    std::uint8_t right = block_checksum(block);
    std::string console = run(block, LABEL, 1, [&](PtyLine& l) {
        l.receive(1);
        for (int pass = 0; pass < 4; ++pass) {
            EXPECT_EQ(l.receive(512), block);
            l.send_byte(pass < 3 ? static_cast<std::uint8_t>(~right) : right);
            EXPECT_EQ(l.receive_byte(), right);
        }
    });
    EXPECT_EQ(console, ENTRY + " (checksum error)" + ENTRY + std::string(17, ' ') + ENTRY);
}

TEST_F(BlockTransferTest, TheChecksumWrapsModulo256)
{
    Bytes block(512);
    for (int i = 0; i < 512; ++i) block[i] = (i % 2) ? 0x01 : 0xFF;
    std::uint8_t pc_checksum = 0x55;
    run(block, nullptr, 1, [&](PtyLine& l) {
        l.receive(513);
        l.send_byte(0x00);
        pc_checksum = l.receive_byte();
    });
    EXPECT_EQ(pc_checksum, 0x00);
}

TEST_F(BlockTransferTest, ReceivingAFillBlockSetsEveryByteAndAnswersNothing)
{
    Bytes block(80, 0x77);
    std::string console = run(block, nullptr, 0, [](PtyLine& l) { l.send({0x03, 0x09}); });
    EXPECT_EQ(block, Bytes(80, 0x09));
    EXPECT_TRUE(line.drain(50).empty());
    EXPECT_EQ(console, "");
}

TEST_F(BlockTransferTest, ReceivingWithAnyOtherMarkerReadsAFullBlock)
{
    Bytes sent(80);
    for (int i = 0; i < 80; ++i) sent[i] = static_cast<std::uint8_t>(i == 37 ? 3 : 0);
    for (std::uint8_t marker : {0x00, 0xFF, 0x42}) {
        Bytes block(80, 0xAA);
        std::uint8_t pc_checksum = 0;
        std::string console = run(block, nullptr, 0, [&](PtyLine& l) {
            l.send_byte(marker);
            l.send(sent);
            l.send_byte(block_checksum(sent));
            pc_checksum = l.receive_byte();
        });
        EXPECT_EQ(block, sent);
        EXPECT_EQ(pc_checksum, 3);
        EXPECT_EQ(console, "");
    }
}

TEST_F(BlockTransferTest, AReceivedBlockIsReadAgainIntoTheSamePlace)
{
    Bytes good(80, 0);
    good[5] = 2;
    Bytes garbled = good;
    garbled[6] = 9;
    Bytes block(80, 0xAA);
    std::string console = run(block, nullptr, 0, [&](PtyLine& l) {
        l.send_byte(0x00);
        l.send(garbled);
        l.send_byte(block_checksum(good));  // the Einstein's sum of what it meant to send
        EXPECT_EQ(l.receive_byte(), block_checksum(garbled));
        l.send(good);
        l.send_byte(block_checksum(good));
        EXPECT_EQ(l.receive_byte(), block_checksum(good));
    });
    EXPECT_EQ(block, good);
    EXPECT_EQ(console, "");  // no label: nothing, even after a second pass
}

TEST_F(BlockTransferTest, AnAnswerIsWaitedForAsLongAsTheBlocksLineTimeAndNoLonger)
{
    // The Einstein's checksum may come as late as the block's line time at
    // 9600 baud (a real line is never faster than its bytes, however fast
    // the line answered before) and the slack after it: no pad goes out
    // before then, so nothing is left on the line to be taken for the next
    // marker.  Later than that a byte counts as lost: the first pad (the
    // PC's own checksum) goes, and an answer to it that is the checksum of
    // the PC's bytes ends the block as agreed.
    Bytes block(512, 0x21);
    block[100] = 0x22;
    const double limit_s = link_answer_s(513);
    for (bool late : {false, true}) {
        Bytes extra;
        int result = 0;
        run(block, nullptr, 1, [&](PtyLine& l) {
            Bytes wire = l.receive(513);
            if (late) {
                extra = l.receive(1);  // the Einstein answers only once the first pad has come
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>((limit_s - 0.4) * 1000)));
                extra = l.drain(0);  // what came while the Einstein was late
            }
            l.send_byte(block_checksum(Bytes(wire.begin() + 1, wire.end())));
            if (!late) {
                EXPECT_EQ(l.receive_byte(), block_checksum(block));
            }
        }, &result);
        EXPECT_EQ(result, 1) << late;
        EXPECT_EQ(extra, late ? Bytes{block_checksum(block)} : Bytes{}) << (late ? "the first pad" : "no pad");
        EXPECT_TRUE(line.drain(100).empty()) << late;
    }
}

TEST_F(BlockTransferTest, ADeadLineEndsTheExchangeInsteadOfRepeatingForEver)
{
    Bytes block(512, 0x01);
    block[9] = 0x02;
    int result = -1;
    run(block, LABEL, 1, [](PtyLine& l) {
        l.receive(100);
        l.hang_up();
    }, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(serial_port.failed, 1);
}

TEST_F(BlockTransferTest, ADeadLineEndsAReceiveToo)
{
    Bytes block(80, 0);
    int result = -1;
    run(block, nullptr, 0, [](PtyLine& l) { l.hang_up(); }, &result);
    EXPECT_EQ(result, 0);
}

}  // namespace
