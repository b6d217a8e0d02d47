// serial_rate_linux.cpp (Linux) - any line rate, through termios2 and
// BOTHER, read back as the number the driver keeps.  Apart from the rest of
// the POSIX layer because <asm/termbits.h> and <termios.h> cannot meet.
#ifdef __linux__
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "platform/serial_device.h"

int serial_device_set_rate(DeviceHandle handle, std::int32_t baud, std::int32_t stop_bits, std::int32_t* actual)
{
    int fd = static_cast<int>(handle);
    struct termios2 tio {};
    if (baud <= 0 || ioctl(fd, TCGETS2, &tio) != 0) return 0;
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = tio.c_ospeed = static_cast<speed_t>(baud);
    if (stop_bits == 2) tio.c_cflag |= CSTOPB;
    else tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
    // TCSETSW2: the bytes already written leave at the old rate first.
    if (ioctl(fd, TCSETSW2, &tio) != 0 || ioctl(fd, TCGETS2, &tio) != 0) return 0;
    *actual = static_cast<std::int32_t>(tio.c_ospeed);
    return 1;
}
#endif
