// host_link.h - the PC's end of the virtual Einstein's serial line.
//
// The 8251 model asks the link for bytes the PC has sent and hands it the
// bytes the Einstein sends.  Two kinds of link:
//  - a queue in the same process, filled and emptied by a test between runs
//    of the machine (deterministic; the machine stops when it starves);
//  - a pseudo-terminal whose slave side a real tobrin opens (TOBRIN_COM1).
//    While the Z80 waits for a byte the PC has not sent yet, the machine
//    waits for the PC in wall time and then lets the Z80 poll until its
//    emulated time has caught up with the wall clock since the wait began
//    (einstein-sim's main loop): a silence of the PC lasts as long on the
//    Einstein as it did on the PC, so the Einstein's poll limits and its
//    wait for a quiet line measure what they measure on the machine.
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "sim/serial_adapter.h"

// A byte's frame on the line: the rate it goes at and its bits.
struct LineFrame {
    double baud;        // bits a second
    int data_bits;      // 5-8
    bool parity;        // a parity bit follows the data
    double stop_bits;   // 1, 1.5 or 2
};
constexpr LineFrame LINE_FRAME_9600_8N2 = {9600.0, 8, false, 2.0};
// Start, data, parity and stop bits.
inline double line_frame_bits(const LineFrame& f)
{
    return 1 + f.data_bits + (f.parity ? 1 : 0) + f.stop_bits;
}

struct HostLink {
    SerialAdapter adapter;     // the PC's adapter: CTS, receive latency, rates
    // --- queue link (tests) ---
    std::deque<std::uint8_t> to_einstein;    // bytes the PC has sent, not yet on the line
    struct HeldWrite {
        std::vector<std::uint8_t> bytes;     // what one read of the pseudo-terminal found ...
        std::uint64_t ready_at;              // ... and when it may start on the line (T-states)
    };
    std::deque<HeldWrite> held;              // bytes the PC wrote, held back by its send latency ...
    std::uint64_t pulled_at;                 // ... and when the pseudo-terminal was last read for them
    std::deque<std::uint8_t> from_einstein;  // bytes the Einstein has sent
    LineFrame queue_frame;                   // the rate and frame the test's PC uses
    // --- pseudo-terminal link ---
    int master_fd;             // -1 for a queue link
    std::string slave_path;    // what to give tobrin as TOBRIN_COM1
    bool pc_gone;              // the PC closed its end (a hang-up was seen)
    std::uint64_t bytes_to_einstein;    // counters, both directions
    std::uint64_t bytes_from_einstein;
    std::uint64_t waits;                // times the machine waited for the PC in wall time
    double waited_seconds;              // and how long in all
};

// A queue link: the test moves bytes through to_einstein / from_einstein.
void host_link_init_queue(HostLink* link);
// A pseudo-terminal link; false when none can be made.
bool host_link_init_pty(HostLink* link);
void host_link_close(HostLink* link);

// Takes the PC's next byte if one is there at emulated time `now`, without
// waiting.
bool host_link_take(HostLink* link, std::uint8_t* byte, std::uint64_t now);
// Has the PC a byte to send at `now` (without taking it)?  What the PC
// writes from now on is held back by the adapter's send latency.
bool host_link_has_byte(HostLink* link, std::uint64_t now);
// Has the PC sent bytes that are not yet on the line (held back or not)?
inline bool host_link_pending(const HostLink* link)
{
    return !link->to_einstein.empty() || !link->held.empty();
}
// The Z80 waits for a byte and none is there: for a pseudo-terminal, wait
// in wall time, at most max_seconds, until the PC sends one or until
// `also_fd` (another descriptor, -1 none) has something to read.  Returns
// the wall seconds waited.  A queue link returns 0 at once.
double host_link_wait(HostLink* link, double max_seconds, int also_fd = -1);
// The rate and frame the PC's port sends at: what it set on the port (a
// pseudo-terminal's settings, or a queue link's queue_frame), at the rate
// its adapter makes of it.
LineFrame host_link_frame(const HostLink* link);
// The settings of a pseudo-terminal (sim/pty_frame.cpp).
LineFrame host_link_pty_frame(int master_fd);
// Hands the PC one byte from the Einstein, through the adapter's receive
// packets (host_link_flush sends one whose latency timer ran out).
void host_link_deliver(HostLink* link, std::uint8_t byte);
// Sends the adapter's packet to the PC when its time has come; true when
// bytes of the Einstein's are still held for a later packet.
bool host_link_flush(HostLink* link);
// A queue link? (Starvation then stops the machine.)
inline bool host_link_is_queue(const HostLink* link) { return link->master_fd < 0; }
