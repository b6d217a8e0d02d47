// scripted_peer.h - plays the Einstein's side of the line in a thread while
// the code under test runs on the test's own thread.
#pragma once
#include <atomic>
#include <chrono>
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
              done_ = true;
          })
    {
    }
    ~ScriptedPeer()
    {
        if (thread_.joinable()) thread_.join();
    }
    // Gives the script up to timeout_ms to end by itself (it may still be
    // reading what the program wrote before it exited); true when it did.
    bool settle(int timeout_ms)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (!done_ && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return done_;
    }
    // Waits for the script to end; returns "" or what went wrong in it.
    std::string finish()
    {
        if (thread_.joinable()) thread_.join();
        return error_;
    }

private:
    std::string error_;
    std::atomic<bool> done_{false};
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
