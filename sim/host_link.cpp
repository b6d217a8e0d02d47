#include "sim/host_link.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

void host_link_init_queue(HostLink* link)
{
    link->to_einstein.clear();
    link->from_einstein.clear();
    link->master_fd = -1;
    link->queue_frame = LINE_FRAME_9600_8N2;
    link->slave_path.clear();
    link->pc_gone = false;
    link->bytes_to_einstein = link->bytes_from_einstein = 0;
    link->waits = 0;
    link->waited_seconds = 0;
}

bool host_link_init_pty(HostLink* link)
{
    host_link_init_queue(link);
    int fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0) {
        if (fd >= 0) close(fd);
        return false;
    }
    link->slave_path = ptsname(fd);
    // Raw until tobrin opens it, so that nothing is echoed or translated.
    int slave = open(link->slave_path.c_str(), O_RDWR | O_NOCTTY);
    if (slave >= 0) {
        struct termios tio;
        tcgetattr(slave, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
        close(slave);
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    link->master_fd = fd;
    return true;
}

void host_link_close(HostLink* link)
{
    if (link->master_fd >= 0) close(link->master_fd);
    link->master_fd = -1;
}

// Reads whatever the PC has written into the queue.
static void pull_from_pty(HostLink* link)
{
    std::uint8_t buffer[512];
    for (;;) {
        ssize_t n = read(link->master_fd, buffer, sizeof buffer);
        if (n <= 0) return;  // nothing now, or no tobrin on the other side
        link->pc_gone = false;
        link->to_einstein.insert(link->to_einstein.end(), buffer, buffer + n);
    }
}

bool host_link_take(HostLink* link, std::uint8_t* byte)
{
    if (link->to_einstein.empty() && link->master_fd >= 0) pull_from_pty(link);
    if (link->to_einstein.empty()) return false;
    *byte = link->to_einstein.front();
    link->to_einstein.pop_front();
    link->bytes_to_einstein++;
    return true;
}

double host_link_wait(HostLink* link, double max_seconds, int also_fd)
{
    if (link->master_fd < 0 || !link->to_einstein.empty()) return 0;
    struct pollfd p[2] = {{link->master_fd, POLLIN, 0}, {also_fd, POLLIN, 0}};
    struct timespec from, to;
    clock_gettime(CLOCK_MONOTONIC, &from);
    int ready;
    do {
        ready = poll(p, also_fd >= 0 ? 2 : 1, static_cast<int>(max_seconds * 1000));
    } while (ready < 0 && errno == EINTR);
    if (ready > 0 && (p[0].revents & POLLIN)) pull_from_pty(link);
    if (ready > 0 && (p[0].revents & POLLHUP) && link->to_einstein.empty()) {
        // Nobody on the other side: poll() would report it at once from now
        // on, so wait out the time here instead.
        link->pc_gone = true;
        usleep(static_cast<useconds_t>(max_seconds * 1e6));
    }
    clock_gettime(CLOCK_MONOTONIC, &to);
    double waited = static_cast<double>(to.tv_sec - from.tv_sec) + static_cast<double>(to.tv_nsec - from.tv_nsec) / 1e9;
    link->waits++;
    link->waited_seconds += waited;
    return waited;
}

void host_link_deliver(HostLink* link, std::uint8_t byte)
{
    link->bytes_from_einstein++;
    if (link->master_fd < 0) {
        link->from_einstein.push_back(byte);
        return;
    }
    for (int tries = 0; tries < 1000; ++tries) {
        ssize_t n = write(link->master_fd, &byte, 1);
        if (n == 1) return;
        if (n < 0 && errno != EAGAIN && errno != EINTR) return;  // nobody listening: the byte is lost
        usleep(1000);
    }
}

LineFrame host_link_frame(const HostLink* link)
{
    return host_link_is_queue(link) ? link->queue_frame : host_link_pty_frame(link->master_fd);
}
