// serial_device.cpp (POSIX) - the serial device through termios.
//
// COMn is /dev/ttyS(n-1) unless the environment variable TOBRIN_COMn names
// another device: a USB adapter such as /dev/ttyUSB0, or a pseudo-terminal
// (the virtual Einstein, the tests); any other name is a device path.  The line is raw: 8 data bits, no
// parity, 2 stop bits at 9600 baud for TOBRIN, hardware flow control, DTR
// on; reads and writes wait in poll() for as long as the caller allows.
#include "platform/serial_device.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#if defined(__APPLE__)
#include <IOKit/serial/ioss.h>  // IOSSIOSPEED: a rate termios does not name
#endif
#ifdef __linux__
#include <linux/serial.h>
#endif

static char last_error[320];  // why the last open failed

const char* serial_device_error()
{
    return last_error;
}

static void set_error(const char* text)
{
    std::snprintf(last_error, sizeof last_error, "%s", text);
}

const char* serial_device_path(const char* port_name)
{
    static char path[256];
    int number = serial_com_number(port_name);
    if (number == 0) {
        if (std::strlen(port_name) >= sizeof path) {
            set_error("the device name is longer than 255 characters");
            return nullptr;
        }
        std::snprintf(path, sizeof path, "%s", port_name);
        return path;
    }
    char variable[32];
    std::snprintf(variable, sizeof variable, "TOBRIN_COM%d", number);
    const char* named = std::getenv(variable);
    if (named != nullptr && named[0] != '\0') {
        if (std::strlen(named) >= sizeof path) {
            std::snprintf(last_error, sizeof last_error, "%s is longer than 255 characters", variable);
            return nullptr;
        }
        std::snprintf(path, sizeof path, "%s", named);
        return path;
    }
    std::snprintf(path, sizeof path, "/dev/ttyS%d", number - 1);  // "COM1" -> /dev/ttyS0
    return path;
}

static speed_t baud_constant(std::int32_t baud)
{
    switch (baud) {
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;  // not a rate this layer sets
    }
}

// Builds the termios settings for the line; 0 when the device cannot be
// given them (the counterpart of SetCommState refusing a DCB).
static int apply_line(struct termios* tio, const SerialLine* line)
{
    speed_t speed = baud_constant(line->baud);
    if (speed == B0) return 0;
    cfmakeraw(tio);
    tio->c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS);
#ifdef CMSPAR
    tio->c_cflag &= ~CMSPAR;
#endif
    tio->c_iflag &= ~(IXON | IXOFF | IXANY);
    switch (line->data_bits & 0xFF) {
    case 5: tio->c_cflag |= CS5; break;
    case 6: tio->c_cflag |= CS6; break;
    case 7: tio->c_cflag |= CS7; break;
    case 8: tio->c_cflag |= CS8; break;
    default: return 0;
    }
    switch (line->parity) {
    case PARITY_NONE: break;
    case PARITY_ODD: tio->c_cflag |= PARENB | PARODD; break;
    case PARITY_EVEN: tio->c_cflag |= PARENB; break;
#ifdef CMSPAR
    case PARITY_MARK: tio->c_cflag |= PARENB | PARODD | CMSPAR; break;
    case PARITY_SPACE: tio->c_cflag |= PARENB | CMSPAR; break;
#endif
    default: return 0;
    }
    if (line->stop_bits == 2) tio->c_cflag |= CSTOPB;
    if (line->handshake == HANDSHAKE_RTS_CTS) tio->c_cflag |= CRTSCTS;
    if (line->handshake == HANDSHAKE_XON_XOFF) tio->c_iflag |= IXON | IXOFF;
    // CLOCAL: the Einstein's cable carries no carrier detect.
    tio->c_cflag |= CREAD | CLOCAL | HUPCL;
    tio->c_cc[VMIN] = 1;   // a read returns once one byte has come
    tio->c_cc[VTIME] = 0;  // and waits for it without limit
    cfsetispeed(tio, speed);
    cfsetospeed(tio, speed);
    return 1;
}

int serial_device_open(const char* port_name, const SerialLine* line, DeviceHandle* handle)
{
    *handle = DEVICE_INVALID;
    const char* path = serial_device_path(port_name);
    if (path == nullptr) return 0;
    // O_NONBLOCK: the open must not wait for a carrier that the Einstein
    // never raises (CLOCAL is not set yet), and no read or write may wait
    // longer than its caller allows.
    int fd;
    do {
        fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        set_error(std::strerror(errno));
        return 0;
    }

    struct termios tio;
    const char* refusal = nullptr;
    if (!isatty(fd)) refusal = "not a serial device";
    else if (flock(fd, LOCK_EX | LOCK_NB) != 0) refusal = "in use by another program";
    else if (tcgetattr(fd, &tio) != 0) refusal = std::strerror(errno);
    else if (!apply_line(&tio, line)) refusal = "the device does not take the line settings";
    else if (tcsetattr(fd, TCSANOW, &tio) != 0) refusal = std::strerror(errno);
    if (refusal != nullptr) {
        set_error(refusal);
        close(fd);
        return 0;
    }
    ioctl(fd, TIOCEXCL);  // no other program opens it while TOBRIN runs
    // Bytes left from an earlier run (an Einstein's answer that a stopped
    // tobrin never read) would be taken for this run's answers: drop them,
    // as the Windows driver does when a port is opened.
    tcflush(fd, TCIFLUSH);
    // DTR on.  A device without modem lines (a pseudo-terminal) refuses the
    // request, which does not make the line unusable.
    int dtr = TIOCM_DTR;
    ioctl(fd, TIOCMBIS, &dtr);
    // It stays non-blocking: every wait is in poll(), with its limit.
    *handle = fd;
    return 1;
}

#ifndef __linux__
// Standard rates through termios (Linux: serial_rate_linux.cpp, any rate);
// on macOS the others through the driver's IOSSIOSPEED (not built or tested
// here: no macOS machine), read back as termios then reports it.
int serial_device_set_rate(DeviceHandle handle, std::int32_t baud, std::int32_t stop_bits, std::int32_t* actual)
{
    int fd = static_cast<int>(handle);
    struct termios tio;
    speed_t speed = baud_constant(baud);
    if (tcgetattr(fd, &tio) != 0) return 0;
    if (stop_bits == 2) tio.c_cflag |= CSTOPB;
    else tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
#if defined(__APPLE__)
    if (speed == B0 && baud > 0) {
        speed_t any = static_cast<speed_t>(baud);
        if (tcsetattr(fd, TCSADRAIN, &tio) != 0 || ioctl(fd, IOSSIOSPEED, &any) != 0 || tcgetattr(fd, &tio) != 0)
            return 0;
        *actual = static_cast<std::int32_t>(cfgetospeed(&tio));
        return 1;
    }
#endif
    if (speed == B0) return 0;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    if (tcsetattr(fd, TCSADRAIN, &tio) != 0 || tcgetattr(fd, &tio) != 0) return 0;
    *actual = cfgetospeed(&tio) == speed ? baud : 0;
    return 1;
}
#endif

void serial_device_close(DeviceHandle handle)
{
    if (handle < 0) return;
    ioctl(static_cast<int>(handle), TIOCNXCL);  // the device is free again
    close(static_cast<int>(handle));
}

// Waits until the device is ready for `events` or timeout_ms passed:
// SERIAL_IO_DONE ready, SERIAL_IO_NOTHING time-out, SERIAL_IO_FAILED hang-up
// or error.  A negative timeout waits without limit.
static SerialIo wait_ready(int fd, short events, int timeout_ms)
{
    struct pollfd p = {fd, events, 0};
    for (;;) {
        int ready = poll(&p, 1, timeout_ms);
        if (ready > 0) {
            if (p.revents & events) return SERIAL_IO_DONE;  // data first, even beside a hang-up
            return SERIAL_IO_FAILED;                        // POLLHUP, POLLERR, POLLNVAL alone
        }
        if (ready == 0) return SERIAL_IO_NOTHING;
        if (errno != EINTR) return SERIAL_IO_FAILED;
    }
}

// The device is non-blocking: a byte moves at once when it can (one system
// call, as a blocking write or read would take); only when it cannot does
// the call wait, in poll(), for as long as the caller allows.
SerialIo serial_device_write(DeviceHandle handle, std::uint8_t byte, int timeout_ms)
{
    int fd = static_cast<int>(handle);
    for (;;) {
        ssize_t n = write(fd, &byte, 1);
        if (n == 1) return SERIAL_IO_DONE;
        if (n < 0 && errno != EINTR && errno != EAGAIN) return SERIAL_IO_FAILED;
        if (n < 0 && errno == EINTR) continue;
        SerialIo ready = wait_ready(fd, POLLOUT, timeout_ms);
        if (ready != SERIAL_IO_DONE) return ready;
    }
}

SerialIo serial_device_read(DeviceHandle handle, std::uint8_t* byte, int timeout_ms)
{
    int fd = static_cast<int>(handle);
    for (;;) {
        ssize_t n = read(fd, byte, 1);
        if (n == 1) return SERIAL_IO_DONE;
        if (n == 0) return SERIAL_IO_FAILED;  // hang-up: no byte will ever come
        if (errno == EINTR) continue;
        if (errno != EAGAIN) return SERIAL_IO_FAILED;
        SerialIo ready = wait_ready(fd, POLLIN, timeout_ms);
        if (ready != SERIAL_IO_DONE) return ready;
    }
}

int serial_device_output_pending(DeviceHandle handle)
{
    int pending = 0;
    if (ioctl(static_cast<int>(handle), TIOCOUTQ, &pending) != 0) return -1;
    return pending;
}

void serial_device_discard_input(DeviceHandle handle)
{
    tcflush(static_cast<int>(handle), TCIFLUSH);
}

// --- The ports this system has ---------------------------------------------

#ifdef __linux__
// A /dev/ttyS device with a UART behind it (the kernel creates ttyS0-31
// whether or not there is one).
static bool real_uart(const std::string& path)
{
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct serial_struct info {};
    bool real = ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    close(fd);
    return real;
}
#endif

// The names in a folder that begin with one of the prefixes, as paths.
static std::vector<std::string> devices_named(const char* folder, std::initializer_list<const char*> prefixes)
{
    std::vector<std::string> found;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder), closedir);
    if (!dir) return found;
    while (struct dirent* entry = readdir(dir.get())) {
        if (entry->d_name[0] == '.') continue;  // the folder itself and its parent
        for (const char* prefix : prefixes)
            if (std::strncmp(entry->d_name, prefix, std::strlen(prefix)) == 0) {
                found.push_back(std::string(folder) + "/" + entry->d_name);
                break;
            }
    }
    return found;
}

std::vector<SerialDeviceInfo> serial_device_list()
{
    std::vector<SerialDeviceInfo> ports;
#ifdef __linux__
    // The adapters' names: /dev/serial/by-id holds a link named after each
    // USB adapter to its device.
    std::vector<std::pair<std::string, std::string>> names;  // device, adapter name
    for (const std::string& link : devices_named("/dev/serial/by-id", {""})) {
        char target[PATH_MAX];
        if (realpath(link.c_str(), target) != nullptr)
            names.emplace_back(target, link.substr(link.rfind('/') + 1));
    }
    for (const std::string& path : devices_named("/dev", {"ttyUSB", "ttyACM", "ttyS"})) {
        bool uart = path.compare(0, 9, "/dev/ttyS") == 0;
        if (uart && !real_uart(path)) continue;
        SerialDeviceInfo port{path, ""};
        for (const auto& [device, name] : names)
            if (device == path) port.description = name;
        if (uart) port.description = "COM" + std::to_string(std::atoi(path.c_str() + 9) + 1) + ", a UART on the board";
        ports.push_back(port);
    }
#else
    for (const std::string& path : devices_named("/dev", {"cu."})) ports.push_back({path, path.substr(8)});
#endif
    std::sort(ports.begin(), ports.end(),
              [](const SerialDeviceInfo& a, const SerialDeviceInfo& b) { return a.path < b.path; });
    return ports;
}
