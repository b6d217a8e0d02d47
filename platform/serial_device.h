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
#include <string>
#include <vector>

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

// Opens and configures the device that port_name stands for ("COM1" to
// "COM256", or a device path), exclusively, for blocking single-byte reads
// and writes.  Returns 1 with *handle set, or 0 with *handle DEVICE_INVALID
// and serial_device_error() telling why; a device that it had opened before
// a setting was refused is closed again.
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
// Sets the open device's rate and stop bits exactly (the rest of the line
// stays) and reads back the rate the device took: Linux takes any rate
// (termios2), Windows whatever its driver takes (the DCB), other systems
// their standard rates.  Returns 1 with *actual set (an adapter may have
// rounded the rate), or 0 when the device refused the setting.
int serial_device_set_rate(DeviceHandle handle, std::int32_t baud, std::int32_t stop_bits, std::int32_t* actual);

// "COMn" with n from 1 to 256, in any case and nothing after it: n, else 0.
inline int serial_com_number(const char* name)
{
    if ((name[0] | 0x20) != 'c' || (name[1] | 0x20) != 'o' || (name[2] | 0x20) != 'm') return 0;
    int n = 0, digits = 0;
    for (const char* p = name + 3; *p != '\0'; ++p, ++digits) {
        if (*p < '0' || *p > '9' || digits == 3) return 0;
        n = n * 10 + (*p - '0');
    }
    return digits > 0 && n >= 1 && n <= 256 ? n : 0;
}

// The device path that a port name stands for on this platform, for
// messages and documentation: "COMn" is /dev/ttyS(n-1) or $TOBRIN_COMn on
// POSIX, \\.\COMn on Windows; a path stands for itself.  Null when the
// name cannot be made a path (serial_device_error() says why).
const char* serial_device_path(const char* port_name);
// Why the last serial_device_open failed, in the system's words.
const char* serial_device_error();

// A serial port the system knows of.
struct SerialDeviceInfo {
    std::string path;         // what to give TOBRIN as the port ("/dev/ttyUSB0", "COM5")
    std::string description;  // the adapter's or driver's name, when the system gives one
};
// The serial ports this system has, sorted by path.
std::vector<SerialDeviceInfo> serial_device_list();
