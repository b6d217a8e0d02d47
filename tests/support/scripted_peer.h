// scripted_peer.h - plays the Einstein's side of the line in a thread while
// the code under test runs on the test's own thread.
#pragma once
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include "tests/support/pty_line.h"

class ScriptedPeer {
public:
    // Starts script(line) at once.
    ScriptedPeer(PtyLine& line, std::function<void(PtyLine&)> script)
        : thread_([this, &line, script] {
              try {
                  script(line);
              } catch (const std::exception& e) {
                  error_ = e.what();
              }
          })
    {
    }
    ~ScriptedPeer()
    {
        if (thread_.joinable()) thread_.join();
    }
    // Waits for the script to end; returns "" or what went wrong in it.
    std::string finish()
    {
        if (thread_.joinable()) thread_.join();
        return error_;
    }

private:
    std::string error_;
    std::thread thread_;
};

// The sum modulo 256 of a block, as both ends compute it.
template <typename Bytes>
inline std::uint8_t block_checksum(const Bytes& bytes)
{
    unsigned sum = 0;
    for (auto b : bytes) sum += static_cast<std::uint8_t>(b);
    return static_cast<std::uint8_t>(sum);
}
