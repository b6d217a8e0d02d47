// The serial port over a pseudo-terminal: what it refuses before touching a
// device, the line it sets up, bytes both ways, and the sticky failure of a
// dead line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "link/serial_port.h"
#include "tests/support/pty_line.h"

namespace {

class SerialPortTest : public testing::Test {
protected:
    void SetUp() override { line.export_as(1); }
    void TearDown() override { serial_close(); }
    struct termios line_settings()
    {
        int fd = open(line.slave_path().c_str(), O_RDWR | O_NOCTTY);
        struct termios tio {};
        tcgetattr(fd, &tio);
        close(fd);
        return tio;
    }
    PtyLine line;
};

TEST_F(SerialPortTest, OnlyPortsOneAndTwoOpen)
{
    for (int port : {0, 3, 4, -1}) {
        EXPECT_EQ(serial_open(port, 9600, 8, 0, 2, 1), 0) << port;
        EXPECT_EQ(serial_port.is_open, 0);
    }
    serial_close();  // nothing open: does nothing
    EXPECT_EQ(serial_port.is_open, 0);
}

TEST_F(SerialPortTest, BadParityOrStopBitsAreRefusedEvenWithADeviceThere)
{
    EXPECT_EQ(serial_open(1, 9600, 8, 5, 2, 1), 0);
    EXPECT_EQ(serial_open(1, 9600, 8, -1, 2, 1), 0);
    EXPECT_EQ(serial_open(1, 9600, 8, 0, 0, 1), 0);
    EXPECT_EQ(serial_open(1, 9600, 8, 0, 3, 1), 0);
    EXPECT_EQ(serial_port.is_open, 0);
    EXPECT_STREQ(port_name, "COM1");  // the digit is in place before the refusal
}

TEST_F(SerialPortTest, OpensTheRunLineRawAt9600With8N2AndHardwareFlowControl)
{
    ASSERT_EQ(serial_open(1, 9600, 8, 0, 2, 1), 1);
    EXPECT_EQ(serial_port.is_open, 1);
    struct termios tio = line_settings();
    EXPECT_EQ(cfgetospeed(&tio), B9600);
    EXPECT_EQ(cfgetispeed(&tio), B9600);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    EXPECT_FALSE(tio.c_cflag & PARENB);
    EXPECT_TRUE(tio.c_cflag & CRTSCTS);
    EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF | ICRNL));
    EXPECT_FALSE(tio.c_oflag & OPOST);
    EXPECT_EQ(tio.c_cc[VMIN], 1);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
}

TEST_F(SerialPortTest, OtherSettingsReachTheLine)
{
    // A pseudo-terminal keeps 8 data bits and no parity whatever it is told,
    // so only the rate, the stop bits and the flow control can be seen here.
    ASSERT_EQ(serial_open(1, 19200, 8, 0, 1, 2), 1);
    struct termios tio = line_settings();
    EXPECT_EQ(cfgetospeed(&tio), B19200);
    EXPECT_FALSE(tio.c_cflag & CSTOPB);
    EXPECT_FALSE(tio.c_cflag & CRTSCTS);
    EXPECT_TRUE(tio.c_iflag & IXON);
    EXPECT_TRUE(tio.c_iflag & IXOFF);
    serial_close();
    ASSERT_EQ(serial_open(1, 9600, 8, 4, 2, 0), 1);  // parity 4 (space) is accepted
    tio = line_settings();
    EXPECT_FALSE(tio.c_cflag & CRTSCTS);
    EXPECT_FALSE(tio.c_iflag & IXON);
}

TEST_F(SerialPortTest, ARateTheDeviceCannotTakeFailsTheOpen)
{
    EXPECT_EQ(serial_open(1, 12345, 8, 0, 2, 1), 0);
    EXPECT_EQ(serial_port.is_open, 0);
}

TEST_F(SerialPortTest, AMissingDeviceOrAPlainFileDoesNotOpen)
{
    setenv("TOBRIN_COM2", "/nonexistent/tty", 1);
    EXPECT_EQ(serial_open(2, 9600, 8, 0, 2, 1), 0);
    EXPECT_EQ(serial_port.handle, DEVICE_INVALID);
    setenv("TOBRIN_COM2", "/etc/hostname", 1);
    EXPECT_EQ(serial_open(2, 9600, 8, 0, 2, 1), 0);
    EXPECT_EQ(serial_port.is_open, 0);
    unsetenv("TOBRIN_COM2");
}

TEST_F(SerialPortTest, ThePortIsHeldExclusively)
{
    ASSERT_EQ(serial_open(1, 9600, 8, 0, 2, 1), 1);
    SerialLine settings = {9600, 8, 0, 2, 1};
    DeviceHandle second = DEVICE_NONE;
    EXPECT_EQ(serial_device_open("COM1", &settings, &second), 0);
    EXPECT_EQ(second, DEVICE_INVALID);
}

TEST_F(SerialPortTest, BytesMoveBothWays)
{
    ASSERT_EQ(serial_open(1, 9600, 8, 0, 2, 1), 1);
    for (int value : {0x00, 0x2A, 0x0D, 0x0A, 0x11, 0x13, 0x03, 0xFF}) {
        EXPECT_EQ(send_byte(static_cast<std::uint8_t>(value)), 1);
        EXPECT_EQ(line.receive_byte(), value);
        line.send_byte(static_cast<std::uint8_t>(value));
        EXPECT_EQ(recv_byte(), value);
    }
    EXPECT_EQ(serial_port.failed, 0);  // a received FFh is only a byte
}

TEST_F(SerialPortTest, BytesLeftFromAnEarlierRunAreDroppedAtOpening)
{
    line.send({0x00, 0x55});  // an answer nobody read
    ASSERT_EQ(serial_open(1, 9600, 8, 0, 2, 1), 1);
    line.send_byte(0x2A);
    EXPECT_EQ(recv_byte(), 0x2A);
}

TEST_F(SerialPortTest, ClosingTwiceClosesTheDeviceOnce)
{
    ASSERT_EQ(serial_open(1, 9600, 8, 0, 2, 1), 1);
    int fd = static_cast<int>(serial_port.handle);
    serial_close();
    EXPECT_EQ(serial_port.is_open, 0);
    int reused = open("/dev/null", O_RDONLY);  // most likely takes the same number
    serial_close();
    EXPECT_NE(fcntl(reused, F_GETFD), -1) << "second close closed an unrelated descriptor";
    close(reused);
    (void)fd;
}

TEST_F(SerialPortTest, ADeadLineFailsAtOnceAndStaysFailed)
{
    ASSERT_EQ(serial_open(1, 9600, 8, 0, 2, 1), 1);
    line.hang_up();
    EXPECT_EQ(recv_byte(), 0xFF);
    EXPECT_EQ(serial_port.failed, 1);
    EXPECT_EQ(recv_byte(), 0xFF);
    EXPECT_EQ(serial_port.failed, 1);
}

}  // namespace
