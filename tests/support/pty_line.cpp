#include "tests/support/pty_line.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

PtyLine::PtyLine()
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("cannot create a pseudo-terminal");
    slave_path_ = ptsname(master_);
    slave_ = open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) throw std::runtime_error("cannot open " + slave_path_);
    struct termios tio;
    tcgetattr(slave_, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave_, TCSANOW, &tio);
}

PtyLine::~PtyLine()
{
    hang_up();
}

void PtyLine::export_as(int port) const
{
    std::string name = "TOBRIN_COM" + std::to_string(port);
    setenv(name.c_str(), slave_path_.c_str(), 1);
}

void PtyLine::send(const std::vector<std::uint8_t>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error("write to the line failed");
        done += static_cast<std::size_t>(n);
    }
}

std::vector<std::uint8_t> PtyLine::receive(std::size_t n, int timeout_ms)
{
    std::vector<std::uint8_t> got;
    while (got.size() < n) {
        struct pollfd p = {master_, POLLIN, 0};
        int ready = poll(&p, 1, timeout_ms);
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0)
            throw std::runtime_error("line silent: got " + std::to_string(got.size()) + " of " +
                                     std::to_string(n) + " bytes");
        std::uint8_t buffer[4096];
        std::size_t want = n - got.size() < sizeof buffer ? n - got.size() : sizeof buffer;
        ssize_t r = read(master_, buffer, want);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) throw std::runtime_error("line hung up");
        got.insert(got.end(), buffer, buffer + r);
    }
    return got;
}

std::vector<std::uint8_t> PtyLine::drain(int quiet_ms)
{
    std::vector<std::uint8_t> got;
    for (;;) {
        struct pollfd p = {master_, POLLIN, 0};
        if (poll(&p, 1, quiet_ms) <= 0) return got;
        std::uint8_t buffer[4096];
        ssize_t r = read(master_, buffer, sizeof buffer);
        if (r <= 0) return got;
        got.insert(got.end(), buffer, buffer + r);
    }
}

void PtyLine::hang_up()
{
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
    slave_ = master_ = -1;
}
