#include "sim/host_link.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

// Wall seconds, for the adapter's latency timer.
static double wall_now()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void host_link_init_queue(HostLink* link)
{
    link->to_einstein.clear();
    link->held.clear();
    link->pulled_at = 0;
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

// Reads whatever the PC has written into the queue, found at emulated
// time `now`: with a send latency, held back until its time.
static void pull_from_pty(HostLink* link, std::uint64_t now)
{
    std::uint8_t buffer[512];
    std::uint64_t late = static_cast<std::uint64_t>(link->adapter.send_late_s * 4000000.0);  // T-states at 4 MHz
    for (;;) {
        ssize_t n = read(link->master_fd, buffer, sizeof buffer);
        if (n <= 0) return;  // nothing now, or no tobrin on the other side
        link->pc_gone = false;
        if (late == 0) link->to_einstein.insert(link->to_einstein.end(), buffer, buffer + n);
        else link->held.push_back({std::vector<std::uint8_t>(buffer, buffer + n), now + late});
    }
}

// The PC's bytes that are due on the line by `now`, into the queue.
static void refill(HostLink* link, std::uint64_t now)
{
    if (link->master_fd < 0) return;
    if (link->adapter.send_late_s <= 0) {
        if (link->to_einstein.empty()) pull_from_pty(link, now);
        return;
    }
    // Held back: what the PC writes is looked for every PULL_TSTATES,
    // whatever is still held or on its way, so that each write is timed
    // from when it came.
    constexpr std::uint64_t PULL_TSTATES = 1000;
    if (now >= link->pulled_at + PULL_TSTATES || now < link->pulled_at) {
        pull_from_pty(link, now);
        link->pulled_at = now;
    }
    while (!link->held.empty() && link->held.front().ready_at <= now) {
        const std::vector<std::uint8_t>& bytes = link->held.front().bytes;
        link->to_einstein.insert(link->to_einstein.end(), bytes.begin(), bytes.end());
        link->held.pop_front();
    }
}

bool host_link_has_byte(HostLink* link, std::uint64_t now)
{
    refill(link, now);
    return !link->to_einstein.empty();
}

bool host_link_take(HostLink* link, std::uint8_t* byte, std::uint64_t now)
{
    refill(link, now);
    if (link->to_einstein.empty()) return false;
    *byte = link->to_einstein.front();
    link->to_einstein.pop_front();
    link->bytes_to_einstein++;
    return true;
}

double host_link_wait(HostLink* link, double max_seconds, int also_fd)
{
    if (link->master_fd < 0 || host_link_pending(link)) return 0;
    if (host_link_flush(link))  // the PC waits for a packet held back: no longer than that
        max_seconds = std::min(max_seconds, adapter_packet_wait(&link->adapter, wall_now()));
    struct pollfd p[2] = {{link->master_fd, POLLIN, 0}, {also_fd, POLLIN, 0}};
    struct timespec from, to;
    clock_gettime(CLOCK_MONOTONIC, &from);
    int ready;
    do {
        ready = poll(p, also_fd >= 0 ? 2 : 1, static_cast<int>(max_seconds * 1000));
    } while (ready < 0 && errno == EINTR);
    // (With a send latency, what came is taken when the machine runs on:
    // its time of writing is the machine's time then.)
    if (ready > 0 && (p[0].revents & POLLIN) && link->adapter.send_late_s <= 0) pull_from_pty(link, 0);
    if (ready > 0 && (p[0].revents & POLLHUP) && !(p[0].revents & POLLIN) && !host_link_pending(link)) {
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

// Writes the adapter's packet to the pseudo-terminal.
static void send_packet(HostLink* link)
{
    std::vector<std::uint8_t>& packet = link->adapter.packet;
    std::size_t sent = 0;
    for (int tries = 0; tries < 1000 && sent < packet.size(); ++tries) {
        ssize_t n = write(link->master_fd, packet.data() + sent, packet.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) break;  // nobody listening: the bytes are lost
        usleep(1000);
    }
    packet.clear();
}

void host_link_deliver(HostLink* link, std::uint8_t byte)
{
    link->bytes_from_einstein++;
    if (link->master_fd < 0) {
        link->from_einstein.push_back(byte);
        return;
    }
    if (adapter_hold_byte(&link->adapter, byte, wall_now())) send_packet(link);
}

bool host_link_flush(HostLink* link)
{
    if (link->master_fd < 0) return false;
    if (adapter_packet_due(&link->adapter, wall_now())) send_packet(link);
    return !link->adapter.packet.empty();
}

LineFrame host_link_frame(const HostLink* link)
{
    LineFrame frame = host_link_is_queue(link) ? link->queue_frame : host_link_pty_frame(link->master_fd);
    frame.baud = adapter_rate_made(&link->adapter, frame.baud);
    return frame;
}
