// serial_port.cpp - the serial port's state and its byte operations, over
// the platform's serial device.
#include "link/serial_port.h"

SerialPort serial_port = {DEVICE_NONE, 0, 0};
char port_name[5] = "COM?";

int serial_open(int port, int baud, int data_bits, int parity, int stop_bits, int handshake)
{
    serial_port.handle = DEVICE_NONE;
    serial_port.is_open = 0;
    serial_port.failed = 0;
    if (port != 1 && port != 2) return 0;
    port_name[3] = static_cast<char>('0' + port);
    if (parity < PARITY_NONE || parity > PARITY_SPACE) return 0;
    if (stop_bits != 1 && stop_bits != 2) return 0;

    SerialLine line = {baud, data_bits, parity, stop_bits, handshake};
    if (!serial_device_open(port_name, &line, &serial_port.handle)) return 0;
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

int send_byte(std::uint8_t byte)
{
    for (;;) {
        SerialIo result = serial_device_write(serial_port.handle, byte);
        if (result == SERIAL_IO_DONE) return 1;
        if (result == SERIAL_IO_FAILED) {
            serial_port.failed = 1;
            return 0;
        }
        // nothing written: try again
    }
}

std::uint8_t recv_byte()
{
    for (;;) {
        std::uint8_t byte = 0;
        SerialIo result = serial_device_read(serial_port.handle, &byte);
        if (result == SERIAL_IO_DONE) return byte;
        if (result == SERIAL_IO_FAILED) {
            serial_port.failed = 1;
            return 0xFF;
        }
        // the driver's read time-out ran out: read again
    }
}
