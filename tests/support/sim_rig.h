// sim_rig.h - a virtual Einstein on a queue link, with the PC's side of the
// line played by the test: bytes and blocks in both directions, each wait
// bounded in emulated time so that a fault fails the test instead of
// hanging it.
#pragma once
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/einstein.h"
#include "tests/support/disc_builder.h"

class SimRig {
public:
    explicit SimRig(const EinsteinConfig& config = EinsteinConfig{});
    ~SimRig();
    SimRig(const SimRig&) = delete;
    SimRig& operator=(const SimRig&) = delete;

    Einstein& e() { return *machine_; }
    // Loads the target program at 0100h and starts it there.
    void start_program();
    // Calls a routine of the program with registers set; it returns into a
    // HALT, so run_to_halt() ends when it does.
    void call(std::uint16_t address, std::uint16_t hl = 0, std::uint16_t bc = 0, std::uint16_t de = 0);
    StopReason run_to_halt(std::uint64_t max_tstates = 40 * CPU_HZ);
    // Runs until the Z80 waits for the PC (or max_tstates pass).
    StopReason run_until_starved(std::uint64_t max_tstates = 120 * CPU_HZ);
    // The PC stays silent for a while: emulated time runs on although the
    // Z80 waits for a byte.
    void pause(double seconds);

    void send(const Bytes& bytes);
    void send_byte(std::uint8_t b) { send({b}); }
    // Runs until the Einstein has sent n more bytes; throws if it stops or
    // starves first.
    Bytes receive(std::size_t n, std::uint64_t max_tstates = 120 * CPU_HZ);
    std::uint8_t receive_byte() { return receive(1)[0]; }
    // The PC's side of a block exchange.  send_block fails the first
    // `bad_passes` checksum comparisons on purpose; receive_block lets the
    // Einstein's working notices before a block pass.
    void send_block(const Bytes& block, int bad_passes = 0);
    Bytes receive_block(std::size_t length, int bad_passes = 0, bool* fill = nullptr);
    // The PC's side of a compressed batch's work: the Einstein's grants
    // (target/grant.asm) are answered from `stream` on, its notices pass,
    // and its status block is received as receive_block does.
    Bytes receive_block_granting(std::size_t length, const Bytes& stream);

    std::uint16_t reg(int z80ex_register) const;
    std::string screen_transcript() const { return machine_->screen.transcript; }
    std::vector<std::string> screen_lines() const { return screen_text(&machine_->screen); }
    // Formats the disk as the target program would, without running it.
    void preformat();

private:
    std::unique_ptr<Einstein> machine_;
    bool program_loaded_ = false;  // the program's bytes are at 0100h
};

// The sector IDs of a side as the format pass lays them round the track.
std::vector<int> interleaved_ids(int side);
