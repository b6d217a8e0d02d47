// pty_line.h - a pseudo-terminal pair standing for the RS-232 line in tests.
//
// The program under test opens the slave side as its serial device (through
// TOBRIN_COM1); the test plays the Einstein on the master side.  The test
// keeps a slave descriptor of its own open and raw, so that bytes sent
// before the program configures the line are not echoed, and so that the
// master does not see a hang-up between two opens.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class PtyLine {
public:
    PtyLine();
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    const std::string& slave_path() const { return slave_path_; }
    // Sets TOBRIN_COM1 (or COMn) to the slave path in this process.
    void export_as(int port) const;

    void send(const std::vector<std::uint8_t>& bytes);
    void send_byte(std::uint8_t byte) { send({byte}); }
    // Reads exactly n bytes; throws std::runtime_error after timeout_ms
    // without progress, or on hang-up.
    std::vector<std::uint8_t> receive(std::size_t n, int timeout_ms = 10000);
    std::uint8_t receive_byte(int timeout_ms = 10000) { return receive(1, timeout_ms)[0]; }
    // Whatever arrives within quiet_ms (for "nothing more was sent").
    std::vector<std::uint8_t> drain(int quiet_ms = 200);
    // Closes the test's own slave descriptor and the master: the program's
    // side sees a dead line.
    void hang_up();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slave_path_;
};
