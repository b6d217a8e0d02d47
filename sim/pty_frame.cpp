// pty_frame.cpp - the rate and frame a program set on a pseudo-terminal,
// read through the master side (which shows the slave's settings).  On
// Linux through termios2, which carries any rate a program set with BOTHER
// as a number; elsewhere through termios and its standard rates.
#include "sim/host_link.h"

#ifdef __linux__
#include <asm/termbits.h>
#include <sys/ioctl.h>
#else
#include <termios.h>
#endif

static LineFrame frame_of(tcflag_t cflag, double baud)
{
    int size = (cflag & CSIZE) == CS5 ? 5 : (cflag & CSIZE) == CS6 ? 6 : (cflag & CSIZE) == CS7 ? 7 : 8;
    return LineFrame{baud, size, (cflag & PARENB) != 0, (cflag & CSTOPB) ? 2.0 : 1.0};
}

LineFrame host_link_pty_frame(int master_fd)
{
#ifdef __linux__
    struct termios2 t {};
    if (ioctl(master_fd, TCGETS2, &t) != 0) return LINE_FRAME_9600_8N2;
    return frame_of(t.c_cflag, static_cast<double>(t.c_ospeed));
#else
    struct termios t {};
    if (tcgetattr(master_fd, &t) != 0) return LINE_FRAME_9600_8N2;
    return frame_of(t.c_cflag, static_cast<double>(cfgetospeed(&t)));
#endif
}
