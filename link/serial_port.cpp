// serial_port.cpp - the serial port's state and its byte operations, over
// the platform's serial device.
#include "link/serial_port.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "link/link_limits.h"

SerialPort serial_port = {DEVICE_NONE, 0, 0, 0};
char port_name[5] = "COM?";
static char open_error[600];

const char* serial_open_error()
{
    return open_error;
}

int serial_open(int port, int baud, int data_bits, int parity, int stop_bits, int handshake)
{
    serial_port.handle = DEVICE_NONE;
    serial_port.is_open = 0;
    serial_port.failed = 0;
    if (port != 1 && port != 2) {
        std::snprintf(open_error, sizeof open_error,
                      "COM%d: a port number opens COM1 or COM2 only; give the port as COM%d to open it", port, port);
        return 0;
    }
    port_name[3] = static_cast<char>('0' + port);
    return serial_open_device(port_name, baud, data_bits, parity, stop_bits, handshake);
}

int serial_open_device(const char* name, int baud, int data_bits, int parity, int stop_bits, int handshake)
{
    serial_port.handle = DEVICE_NONE;
    serial_port.is_open = 0;
    serial_port.failed = 0;
    const char* path = serial_device_path(name);
    std::snprintf(open_error, sizeof open_error, "%s: the line settings are not valid", path ? path : name);
    if (parity < PARITY_NONE || parity > PARITY_SPACE) return 0;
    if (stop_bits != 1 && stop_bits != 2) return 0;

    SerialLine line = {baud, data_bits, parity, stop_bits, handshake};
    if (!serial_device_open(name, &line, &serial_port.handle)) {
        std::snprintf(open_error, sizeof open_error, "%s: %s", path ? path : name, serial_device_error());
        return 0;
    }
    serial_port.is_open = 1;
    return 1;
}

void serial_close()
{
    if (serial_port.is_open == 1) {
        serial_port.is_open = 0;
        serial_device_close(serial_port.handle);
    }
}

using Clock = std::chrono::steady_clock;

static int milliseconds_left(Clock::time_point end)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

static Clock::time_point after(double seconds)
{
    return Clock::now() + std::chrono::microseconds(static_cast<long long>(seconds * 1e6));
}

int send_byte(std::uint8_t byte)
{
    Clock::time_point end = after(LINK_WRITE_LIMIT_S);
    for (;;) {
        SerialIo result = serial_device_write(serial_port.handle, byte, milliseconds_left(end));
        if (result == SERIAL_IO_DONE) {
            ++serial_port.bytes_sent;
            return 1;
        }
        if (result == SERIAL_IO_FAILED) {
            serial_port.failed = 1;
            return 0;
        }
        if (milliseconds_left(end) == 0) return 0;  // the port took nothing for the whole limit
    }
}

std::uint8_t recv_byte()
{
    for (;;) {
        std::uint8_t byte = 0;
        SerialIo result = serial_device_read(serial_port.handle, &byte, -1);
        if (result == SERIAL_IO_DONE) return byte;
        if (result == SERIAL_IO_FAILED) {
            serial_port.failed = 1;
            return 0xFF;
        }
        // the driver's read time-out ran out: read again
    }
}

Received receive_within(double seconds)
{
    Received r{false, false, 0};
    r.got = recv_byte_within(&r.byte, seconds);
    r.failed = !r.got && serial_port.failed != 0;
    return r;
}

bool recv_byte_within(std::uint8_t* byte, double seconds)
{
    if (serial_port.failed) return false;
    Clock::time_point end = after(seconds);
    for (;;) {
        SerialIo result = serial_device_read(serial_port.handle, byte, milliseconds_left(end));
        if (result == SERIAL_IO_DONE) return true;
        if (result == SERIAL_IO_FAILED) {
            serial_port.failed = 1;
            return false;
        }
        if (milliseconds_left(end) == 0) return false;
    }
}

int serial_output_pending()
{
    int pending = serial_device_output_pending(serial_port.handle);
    return pending > 0 ? pending : 0;
}

bool serial_drain(double seconds)
{
    Clock::time_point end = after(seconds);
    while (serial_output_pending() > 0) {
        if (milliseconds_left(end) == 0) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void serial_discard_input()
{
    serial_device_discard_input(serial_port.handle);
}

bool serial_set_rate(int baud, int stop_bits, int* actual)
{
    if (serial_port.is_open == 0) return false;
    std::int32_t took = 0;
    if (serial_device_set_rate(serial_port.handle, baud, stop_bits, &took) == 0) return false;
    *actual = took;
    return true;
}
