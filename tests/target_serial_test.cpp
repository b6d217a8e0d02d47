// The monitor loader and the target program's serial side, run on the
// virtual Einstein with the test as the PC: what the loader keeps, the
// command loop, the block routines both ways, and the poll limit.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <z80ex/z80ex.h>

#include "target/monitor_loader.h"
#include "target/target_program.h"
#include "tests/support/expected_console.h"
#include "tests/support/scripted_peer.h"
#include "sim/ctc.h"
#include "sim/usart_8251.h"
#include "tests/support/sim_rig.h"

namespace {

namespace label = target_program_image_labels;
const std::string WAITING = "[ Waiting to proceed\r";

Bytes numbered(std::size_t n, int seed)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + seed);
    return b;
}

int count(const std::string& text, const std::string& part)
{
    int n = 0;
    for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) ++n;
    return n;
}

// --- Monitor loader -------------------------------------------------------

class LoaderTest : public testing::Test {
protected:
    void SetUp() override
    {
        einstein_load(&rig.e(), 0x1000, monitor_loader_image, monitor_loader_length);
        einstein_start(&rig.e(), 0x1000, 0xFCFF);
    }
    SimRig rig;
};

TEST_F(LoaderTest, Stores2048BytesAt0100hAndJumpsThereWithoutWaitingForMore)
{
    Bytes block = numbered(2048, 3);
    block[0] = 0x76;  // HALT at 0100h: proves the jump
    const std::uint8_t after = rig.e().ram[0x0900];
    rig.send(block);
    EXPECT_EQ(rig.run_to_halt(), StopReason::Halted);
    EXPECT_EQ(einstein_pc(&rig.e()), 0x0100);  // halted on the first program byte
    EXPECT_TRUE(std::equal(block.begin(), block.end(), rig.e().ram + 0x0100));
    EXPECT_EQ(rig.e().ram[0x0900], after);  // not a byte more
}

TEST_F(LoaderTest, BytesAlreadyInTheUsartAreDiscarded)
{
    rig.e().usart.rx_holding = 0x55;  // arrived before G1000
    Bytes block = numbered(2048, 9);
    block[0] = 0x76;
    rig.send(block);
    EXPECT_EQ(rig.run_to_halt(), StopReason::Halted);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), rig.e().ram + 0x0100));
}

TEST_F(LoaderTest, ItWaitsForEveryByteAndHoldsThePcWithRts)
{
    rig.send(numbered(100, 1));
    EXPECT_EQ(rig.run_until_starved(), StopReason::Starved);
    EXPECT_EQ(rig.e().usart.overruns, 0u);
    EXPECT_EQ(rig.e().ram[0x0100 + 99], numbered(100, 1)[99]);
    EXPECT_EQ(rig.e().host.bytes_to_einstein, 100u);
}

// --- Command loop and block routines --------------------------------------

class TargetSerialTest : public testing::Test {
protected:
    SimRig rig;
};

TEST_F(TargetSerialTest, ShowsItsBannerAndIgnoresEveryByteButTheFormatCommand)
{
    rig.start_program();
    ASSERT_EQ(rig.run_until_starved(), StopReason::Starved);
    EXPECT_EQ(rig.screen_transcript(), EINSTEIN_BANNER + "\r\n" + WAITING);
    rig.send({0x00, 0x02, 0xFF});
    ASSERT_EQ(rig.run_until_starved(), StopReason::Starved);
    EXPECT_EQ(count(rig.screen_transcript(), WAITING), 4);
    EXPECT_EQ(rig.e().restores, 0) << "no format started";
    EXPECT_TRUE(rig.e().host.from_einstein.empty());
}

TEST_F(TargetSerialTest, ReceivesAFillBlockIntoEveryByteAndAnswersNothing)
{
    rig.call(label::recv_block, 0x2000, 512, 0x1234);
    rig.e().ram[0x2200] = 0x00;
    rig.send({0x03, 0xE5});
    ASSERT_EQ(rig.run_to_halt(), StopReason::Halted);
    for (int i = 0; i < 512; ++i) ASSERT_EQ(rig.e().ram[0x2000 + i], 0xE5);
    EXPECT_EQ(rig.e().ram[0x2200], 0x00);  // not a byte more
    EXPECT_TRUE(rig.e().host.from_einstein.empty());
    EXPECT_EQ(rig.reg(regHL), 0x2200);
    EXPECT_EQ(rig.reg(regBC), 512);
    EXPECT_EQ(rig.reg(regDE), 0x1234);
}

TEST_F(TargetSerialTest, ReceivesAFullBlockAgainIntoTheSamePlaceUntilTheChecksumsAgree)
{
    rig.call(label::recv_block, 0x3000, 512, 0xBEEF);
    Bytes good = numbered(512, 5), garbled = good;
    garbled[100] ^= 0x40;
    rig.send({0x00});
    rig.send(garbled);
    // The Einstein's checksum comes before the PC has sent its own.
    EXPECT_EQ(rig.receive_byte(), block_checksum(garbled));
    rig.send_byte(block_checksum(good));  // the PC meant something else
    rig.send(good);
    EXPECT_EQ(rig.receive_byte(), block_checksum(good));
    rig.send_byte(block_checksum(good));
    ASSERT_EQ(rig.run_to_halt(), StopReason::Halted);
    EXPECT_TRUE(std::equal(good.begin(), good.end(), rig.e().ram + 0x3000));
    EXPECT_EQ(rig.reg(regHL), 0x3200);
    EXPECT_EQ(rig.reg(regBC), 512);
    EXPECT_EQ(rig.reg(regDE), 0xBEEF);
}

TEST_F(TargetSerialTest, SendsAStatusBlockOfZerosAsTwoBytes)
{
    std::fill(rig.e().ram + 0x4000, rig.e().ram + 0x4050, 0x00);
    rig.call(label::send_block, 0x4000, 80, 0x5555);
    ASSERT_EQ(rig.run_to_halt(), StopReason::Halted);
    EXPECT_EQ(rig.receive(2), (Bytes{0x03, 0x00}));
    EXPECT_TRUE(rig.e().host.from_einstein.empty());
    EXPECT_EQ(rig.reg(regHL), 0x4050);
    EXPECT_EQ(rig.reg(regDE), 0x5555);
}

TEST_F(TargetSerialTest, SendsAVariedBlockInFullAndAgainWhenThePcDisagrees)
{
    std::fill(rig.e().ram + 0x4000, rig.e().ram + 0x4050, 0x00);
    rig.e().ram[0x4000 + 37] = 0x03;
    rig.call(label::send_block, 0x4000, 80, 0);
    Bytes expected(80, 0);
    expected[37] = 3;
    bool fill = true;
    EXPECT_EQ(rig.receive_block(80, 1, &fill), expected);
    EXPECT_FALSE(fill);
    ASSERT_EQ(rig.run_to_halt(), StopReason::Halted);
    EXPECT_EQ(rig.reg(regHL), 0x4050);
    EXPECT_EQ(rig.reg(regBC), 80);
}

TEST_F(TargetSerialTest, ASilentPcRunsIntoThePollLimitAndANewFormatCanStart)
{
    rig.preformat();
    rig.call(label::write_image);
    EXPECT_EQ(rig.receive_byte(), 0x00);  // the drive flags
    rig.send({40, 10, 80, 0x00, 0x00});   // geometry, a batch, a full block ...
    rig.send(numbered(100, 2));           // ... of which the PC sends a fifth, then nothing
    std::uint64_t silent_from = rig.e().clock;
    ASSERT_EQ(rig.run_until_starved(30 * CPU_HZ), StopReason::Starved);  // still waiting: no limit yet
    EXPECT_EQ(rig.e().screen.transcript.find("TIMEOUT"), std::string::npos);
    einstein_run(&rig.e(), 10 * CPU_HZ, false);  // let emulated time run
    std::string screen = rig.screen_transcript();
    std::string shown;
    for (char c : screen) shown += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
    EXPECT_NE(screen.find(" - Write 0: Track 00 Sector 00  - TIMEOUT!\r\n---- RESET ----\n\r" + WAITING),
              std::string::npos)
        << shown;
    double waited = static_cast<double>(rig.e().clock - silent_from) / CPU_HZ;
    EXPECT_GT(waited, 5.0);
    // The PC was told, with the time-out notice; back in the command loop,
    // a "*" starts a format.
    EXPECT_EQ(rig.receive_byte(), target_program_image_labels::TIMEOUT_NOTICE);
    rig.send_byte('*');
    EXPECT_EQ(rig.receive_byte(), 0x00);
    EXPECT_EQ(rig.e().restores, 2);
}

TEST_F(TargetSerialTest, PutTwoDigitsWritesTensAndUnits)
{
    for (int value : {0, 7, 10, 39, 79, 99}) {
        rig.call(label::put_two_digits, 0x5000);
        static_cast<void>(0);
        z80ex_set_reg(static_cast<Z80EX_CONTEXT*>(rig.e().cpu), regAF, static_cast<std::uint16_t>(value << 8));
        ASSERT_EQ(rig.run_to_halt(), StopReason::Halted);
        EXPECT_EQ(rig.e().ram[0x5000], '0' + value / 10);
        EXPECT_EQ(rig.e().ram[0x5001], '0' + value % 10);
        EXPECT_EQ(rig.reg(regHL), 0x5000);
    }
}

// The line at the rates each end set: the Einstein's from CTC channels 0
// and 1 and the 8251's mode byte, the PC's from its port.  A byte takes its
// sender's bit times and arrives whole only when the receiver expects its
// rate within 3% and its frame, below the line's limit.
TEST(Line, BytesCrossOnlyAtRatesBothEndsAgreeOn)
{
    const LineFrame pc_9600 = LINE_FRAME_9600_8N2;
    struct Case {
        int time_constant;       // CTC channels 0 and 1
        std::uint8_t mode;       // the 8251's mode byte
        LineFrame pc;
        double max_baud;
        bool whole;
        std::uint64_t einstein_byte_tstates;
    } cases[] = {
        {13, 0xCE, pc_9600, 0, true, 4576},                      // the monitor's line: 11 bits at 9615
        {6, 0x4E, {20833, 8, false, 1}, 0, true, 1920},          // 8N1 at 20833: 10 bits
        {6, 0x4E, {21400, 8, false, 1}, 0, true, 1920},          // 2.7% off: still taken
        {6, 0x4E, {21500, 8, false, 1}, 0, false, 1920},         // 3.2% off: garbage
        {6, 0xCE, pc_9600, 0, false, 2112},                      // the Einstein moved, the PC did not
        {4, 0x4E, {31250, 8, false, 1}, 25000, false, 1280},     // above what the line can carry
        {4, 0x4E, {31250, 8, false, 1}, 40000, true, 1280},
    };
    for (const Case& c : cases) {
        Ctc ctc;
        ctc_init(&ctc);
        for (int channel : {0, 1}) {
            ctc_write(&ctc, channel, CTC_CONTROL_WORD | CTC_CONSTANT_FOLLOWS);
            ctc_write(&ctc, channel, static_cast<std::uint8_t>(c.time_constant));
        }
        EXPECT_EQ(ctc.clock_writes, 0u);
        HostLink link;
        host_link_init_queue(&link);
        link.queue_frame = c.pc;
        Usart8251 usart;
        usart_init(&usart, &link, &ctc);
        usart.max_baud = c.max_baud;
        usart_write(&usart, 1, USART_COMMAND_INTERNAL_RESET, 0);
        usart_write(&usart, 1, c.mode, 0);
        usart_write(&usart, 1, 0x27, 0);  // transmitter, receiver and RTS on
        usart_write(&usart, 0, 0x5A, 0);
        EXPECT_EQ(usart.tx_done, c.einstein_byte_tstates) << c.time_constant << " " << c.pc.baud;
        usart_advance(&usart, 100000);
        ASSERT_EQ(link.from_einstein.size(), 1u);
        EXPECT_EQ(link.from_einstein.front() == 0x5A, c.whole) << c.time_constant << " " << c.pc.baud;
        link.to_einstein.push_back(0xA5);
        usart_advance(&usart, 100000);
        usart_advance(&usart, 200000);
        EXPECT_EQ(usart_read(&usart, 0, 200000) == 0xA5, c.whole) << c.time_constant << " " << c.pc.baud;
        EXPECT_EQ(usart.rate_damaged, c.whole ? 0u : 2u);
    }
}

// A PC late with its bytes (--pc-late): what it wrote starts on the line
// that long after the machine found it there, back to back from then on;
// an Einstein polling meanwhile is not waiting for a PC that sent nothing.
TEST(Line, APcLateWithItsBytesStartsThemThatLongAfterItWroteThem)
{
    Ctc ctc;
    ctc_init(&ctc);
    for (int channel : {0, 1}) {
        ctc_write(&ctc, channel, CTC_CONTROL_WORD | CTC_CONSTANT_FOLLOWS);
        ctc_write(&ctc, channel, 13);
    }
    HostLink link;
    ASSERT_TRUE(host_link_init_pty(&link));
    link.adapter.send_late_s = 0.01;  // 40,000 T
    int slave = open(link.slave_path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    struct termios tio;
    ASSERT_EQ(tcgetattr(slave, &tio), 0);
    cfsetospeed(&tio, B9600);  // the monitor's line: 9600 baud 8N2
    cfsetispeed(&tio, B9600);
    tio.c_cflag = (tio.c_cflag & ~static_cast<tcflag_t>(CSIZE | PARENB)) | CS8 | CSTOPB;
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &tio), 0);
    ASSERT_EQ(write(slave, "AB", 2), 2);
    Usart8251 usart;
    usart_init(&usart, &link, &ctc);
    usart_write(&usart, 1, 0x27, 0);  // RTS on
    std::uint64_t now = 1000;
    for (int tries = 0; tries < 200 && !host_link_pending(&link); ++tries) {
        usleep(1000);  // until the pseudo-terminal has passed them on
        now += 1000;
        usart_advance(&usart, now);
    }
    ASSERT_TRUE(host_link_pending(&link));
    const std::uint64_t written = now;
    for (int poll = 0; poll < 5; ++poll) usart_read(&usart, 1, written + 10 + 20 * static_cast<std::uint64_t>(poll));
    EXPECT_FALSE(usart.starved);
    usart_advance(&usart, written + 39999);
    EXPECT_FALSE(usart.rx_in_flight);
    usart_advance(&usart, written + 40000);
    ASSERT_TRUE(usart.rx_in_flight);
    EXPECT_EQ(usart.rx_arrival, written + 40000 + LINE_BYTE_TSTATES);
    const std::uint64_t a_came = usart.rx_arrival;
    EXPECT_EQ(usart_read(&usart, 0, a_came), 'A');
    EXPECT_EQ(usart.rx_arrival, written + 40000 + 2 * LINE_BYTE_TSTATES);  // B right behind it
    close(slave);
    host_link_close(&link);
}

}  // namespace
