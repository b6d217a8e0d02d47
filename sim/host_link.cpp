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
    link->slave_path.clear();
    link->patience_seconds = 0;
    link->gave_up = false;
    link->bytes_to_einstein = link->bytes_from_einstein = 0;
    link->waits = 0;
    link->waited_seconds = 0;
}

bool host_link_init_pty(HostLink* link, double patience_seconds)
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
    link->patience_seconds = patience_seconds;
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
        link->to_einstein.insert(link->to_einstein.end(), buffer, buffer + n);
    }
}

bool host_link_take(HostLink* link, std::uint8_t* byte)
{
    if (link->to_einstein.empty() && link->master_fd >= 0) pull_from_pty(link);
    if (link->to_einstein.empty()) return false;
    *byte = link->to_einstein.front();
    link->to_einstein.pop_front();
    link->gave_up = false;
    link->bytes_to_einstein++;
    return true;
}

bool host_link_wait(HostLink* link, int also_fd)
{
    if (link->master_fd < 0) return !link->to_einstein.empty();
    if (!link->to_einstein.empty()) return true;
    if (link->patience_seconds <= 0) link->gave_up = true;
    if (link->gave_up) return false;
    struct pollfd p[2] = {{link->master_fd, POLLIN, 0}, {also_fd, POLLIN, 0}};
    struct timespec from, to;
    clock_gettime(CLOCK_MONOTONIC, &from);
    int ready;
    do {
        ready = poll(p, also_fd >= 0 ? 2 : 1, static_cast<int>(link->patience_seconds * 1000));
    } while (ready < 0 && errno == EINTR);
    clock_gettime(CLOCK_MONOTONIC, &to);
    link->waits++;
    link->waited_seconds += static_cast<double>(to.tv_sec - from.tv_sec) + static_cast<double>(to.tv_nsec - from.tv_nsec) / 1e9;
    if (ready > 0 && (p[0].revents & POLLIN)) {
        pull_from_pty(link);
        if (!link->to_einstein.empty()) return true;
    }
    if (ready > 0 && also_fd >= 0 && (p[1].revents & POLLIN) && !(p[0].revents & POLLHUP))
        return false;  // something else to attend to; the wait is not over
    // Silent past patience, or nobody on the other side (hang-up): the
    // Einstein's own time runs on, and its poll limits may run out.
    link->gave_up = true;
    return false;
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
