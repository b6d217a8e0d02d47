// serial_port.h - the program's one serial port: COM1 or COM2 at fixed line
// settings, and single bytes through it in either direction.
//
// Everything that crosses the line to the Einstein goes through these byte
// operations.  recv_byte waits without limit, as it always did;
// the run itself waits only through recv_byte_within, whose limits come
// from link/link_limits.h, and send_byte gives up on a port that takes no
// byte for LINK_WRITE_LIMIT_S (the Einstein holding CTS off).  After a
// failure the device refuses every further byte (a line error is never
// cleared), so the port keeps a sticky `failed` flag that lets a block
// exchange give up on a dead link instead of repeating for ever.
#pragma once
#include <cstdint>

#include "platform/serial_device.h"

struct SerialPort {
    DeviceHandle handle;  // the device; DEVICE_NONE before an open, DEVICE_INVALID after a failed one
    std::int32_t is_open; // 1 from a successful serial_open until serial_close
    std::int32_t failed;  // 1 once a read or write has failed since the open
    std::uint64_t bytes_sent;  // bytes written since the open (the line's throughput)
};

extern SerialPort serial_port;
// The device name template "COM?"; serial_open puts the port's digit in
// place of the '?'.
extern char port_name[5];

// Opens COM<port> (1 or 2) with the given settings: parity 0 none, 1 odd,
// 2 even, 3 mark, 4 space; stop_bits 1 or 2; handshake 1 RTS/CTS, 2
// XON/XOFF, any other none.  1 when open, 0 otherwise (nothing printed;
// serial_open_error() says why).
int serial_open(int port, int baud, int data_bits, int parity, int stop_bits, int handshake);
// The same for a device named "COMn" (n from 1 to 256) or by its path.
int serial_open_device(const char* name, int baud, int data_bits, int parity, int stop_bits, int handshake);
// Why the last open failed, in words, naming the device tried:
// "/dev/ttyUSB0: Permission denied".
const char* serial_open_error();
// Closes the port if it is open; does nothing otherwise.
void serial_close();
// 1 when the byte was written, 0 when the write failed or the port took no
// byte for LINK_WRITE_LIMIT_S.
int send_byte(std::uint8_t byte);
// The byte read, or 0xFF when the read failed.  Waits without limit.
std::uint8_t recv_byte();
// The next byte within `seconds`: true with *byte set; false when the time
// ran out or the link failed (serial_port.failed tells which).
bool recv_byte_within(std::uint8_t* byte, double seconds);
// What a wait for the next byte came to.
struct Received {
    bool got;           // a byte came: `byte`
    bool failed;        // else: the port failed (not just silence)
    std::uint8_t byte;
};
// The next byte within `seconds`, or why none came.
Received receive_within(double seconds);
// Waits until every byte written has left the port, at most `seconds`:
// true when they have (or the device cannot tell).
bool serial_drain(double seconds);
// Bytes written that have not left the port yet (0 when it cannot tell).
int serial_output_pending();
// Drops what has been received and not read yet.
void serial_discard_input();
// Sets the open port's rate and stop bits exactly and reads back the rate
// the device took: true with *actual set, false when it refused.
bool serial_set_rate(int baud, int stop_bits, int* actual);
