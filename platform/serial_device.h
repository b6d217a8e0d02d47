// serial_device.h - the operating system's serial device, one byte at a time.
//
// The only code that opens, configures, reads or writes a serial device.
// link/serial_port.cpp validates the caller's settings and keeps the port's
// state; this layer turns a port name ("COM1") and a line description into
// an open, configured device and moves single bytes through it, blocking.
// One implementation per platform: platform/posix (termios) and
// platform/win32 (CreateFileA and a DCB).
#pragma once
#include <cstdint>

// An open device: a file descriptor on POSIX, a HANDLE on Windows.
typedef std::intptr_t DeviceHandle;
constexpr DeviceHandle DEVICE_NONE = 0;      // nothing opened yet
constexpr DeviceHandle DEVICE_INVALID = -1;  // the open failed

enum SerialParity { PARITY_NONE = 0, PARITY_ODD = 1, PARITY_EVEN = 2, PARITY_MARK = 3, PARITY_SPACE = 4 };
enum SerialHandshake { HANDSHAKE_NONE = 0, HANDSHAKE_RTS_CTS = 1, HANDSHAKE_XON_XOFF = 2 };

// The line settings, already validated by the caller.
struct SerialLine {
    std::int32_t baud;       // bits per second, passed to the device unchanged
    std::int32_t data_bits;  // its low byte is the character size
    std::int32_t parity;     // a SerialParity
    std::int32_t stop_bits;  // 1 or 2
    std::int32_t handshake;  // a SerialHandshake; any other value: none
};

// Outcome of moving one byte.
enum SerialIo {
    SERIAL_IO_DONE = 0,     // the byte moved
    SERIAL_IO_NOTHING = 1,  // no byte moved (a time-out); the caller tries again
    SERIAL_IO_FAILED = 2,   // the device refused: line error, hang-up, gone
};

// Opens and configures the device that port_name ("COM1" or "COM2") stands
// for, exclusively, for blocking single-byte reads and writes.  Returns 1
// with *handle set, or 0 with *handle DEVICE_INVALID; a device that it had
// opened before a setting was refused is closed again.
int serial_device_open(const char* port_name, const SerialLine* line, DeviceHandle* handle);
void serial_device_close(DeviceHandle handle);
// Moves one byte, waiting at most timeout_ms for the device (a negative
// timeout: without limit).  SERIAL_IO_NOTHING when the time ran out.
SerialIo serial_device_write(DeviceHandle handle, std::uint8_t byte, int timeout_ms);
SerialIo serial_device_read(DeviceHandle handle, std::uint8_t* byte, int timeout_ms);
// Bytes written that have not left on the line yet; -1 when the device
// cannot tell.
int serial_device_output_pending(DeviceHandle handle);
// Drops what has been received and not read yet.
void serial_device_discard_input(DeviceHandle handle);

// The device path that a port name stands for on this platform, for
// messages and documentation ("/dev/ttyS0" or $TOBRIN_COM1; "COM1").
const char* serial_device_path(const char* port_name);
