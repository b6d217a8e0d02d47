// serial_adapter.h - the PC's serial adapter at the far end of the virtual
// Einstein's line, as users have them: mostly USB-serial chips.
//
// Three habits of a real adapter matter to the Einstein:
//  - CTS.  The Einstein's RTS is the PC's CTS.  An adapter that honours it
//    at once starts no byte once it is off; most stop a few bytes late
//    (bytes already in their transmit path still go: an FTDI chip "within
//    0~3 characters", a CP2102N "not more than two bytes", a 16550 under
//    the Windows driver what is already in its 16-byte FIFO), and some
//    ignore it altogether (a CH340 under Linux before 6.14).  `cts_lag` is
//    how many bytes may still start after CTS went off, the byte already
//    on its way not counted; they go back to back from then on, and only
//    while the PC has them to send.
//  - Receive latency.  The Einstein's bytes reach the PC in packets of up
//    to USB_PACKET_BYTES, sent when full or when the latency timer, which
//    restarts with each packet, runs out (an FTDI chip: 16 ms by default).
//    Wall time: it is what the PC waits.
//  - Send latency.  The PC's bytes reach the line some time after the PC
//    wrote them: its USB stack sends them in the next frames, a busy
//    machine or a hub holds them longer.  `send_late_s` models a PC that
//    is always that late: every byte it writes starts on the line no
//    sooner than that long (emulated time) after it was written.
//  - Rates.  What the chip makes of a rate asked: a 16550 on a 1.8432 MHz
//    clock makes 115200 / n; a CP2101/2/3 rounds up to its table (31250 to
//    38400, 20833 to 28800); a CH340 makes 9615 for 9600.  The line runs
//    at the rate made.  A driver that reports the rate it made (Linux's
//    for a 16550 or a CP210x) cannot be modelled on a pseudo-terminal:
//    the program reads back the rate it asked, as from an adapter that
//    rounds silently, and finds out from its probe instead.
//
// The presets (`adapter_preset`) combine these for the chips people have.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The rates an adapter makes of those asked.
enum class AdapterRates {
    Exact,      // any rate, exactly (FTDI, CP2102N, PL2303HX ...)
    Uart16550,  // 115200 / n
    Cp2102,     // the CP2101/2/3 table, rounded up
    Ch340,      // 9615 for 9600, the rest as asked
};

constexpr int USB_PACKET_BYTES = 62;  // data bytes in one packet to the PC
constexpr int ADAPTER_MAX_CTS_LAG = 64;

struct SerialAdapter {
    // --- set-up ---
    int cts_lag = 0;              // bytes that may still start after CTS went off
    bool cts_ignored = false;     // sends whatever CTS says
    double usb_latency_s = 0;     // the latency timer (0: each byte goes to the PC at once)
    double send_late_s = 0;       // the PC's bytes start on the line no sooner than this after it wrote them
    AdapterRates rates = AdapterRates::Exact;
    // --- state ---
    int lag_left = 0;             // bytes that may still start, CTS being off ...
    std::uint64_t lag_until = 0;  // ... until this T-state (back to back from the drop)
    std::vector<std::uint8_t> packet;  // the Einstein's bytes not yet sent to the PC ...
    double packet_due = 0;             // ... and when they go (wall seconds)
    double timer_from = 0;             // when the latency timer last restarted
    // --- figures ---
    std::uint64_t late_bytes = 0; // bytes that started while CTS was off
    std::uint64_t packets = 0;    // packets sent to the PC
};

// The preset named (ideal, ftdi, cp2102n, cp2102, ch340-linux, 16550-fifo)
// into *adapter; false for a name it does not know.
bool adapter_preset(const std::string& name, SerialAdapter* adapter);
// The names of the presets and what each stands for, one a line, for a
// usage text.
const char* adapter_preset_list();
// The rates table by its name (exact, 16550, cp2102, ch340); false for
// another name.
bool adapter_rates_named(const std::string& name, AdapterRates* rates);

// The rate the adapter makes when asked for `asked` baud.
double adapter_rate_made(const SerialAdapter* adapter, double asked);

// CTS went off at T-state `now`; a byte takes `byte_tstates` on the line,
// which is free again from `line_free` (the byte already on its way).
void adapter_cts_off(SerialAdapter* adapter, std::uint64_t now, std::uint64_t line_free, std::uint64_t byte_tstates);
// May the PC's next byte start now?  `cts`: the Einstein's RTS is on.
// True counts the start of a byte with CTS off as one of the lag's.
bool adapter_may_start(SerialAdapter* adapter, bool cts, std::uint64_t now);

// Receive side: one byte from the Einstein at wall time `wall` into
// `packet`; true when the packet is to go to the PC now (full, or no
// latency: the caller takes it and empties it).
bool adapter_hold_byte(SerialAdapter* adapter, std::uint8_t byte, double wall);
// True when the latency timer ran out with bytes held: the packet goes
// (the caller takes `packet` and empties it).
bool adapter_packet_due(SerialAdapter* adapter, double wall);
// Wall seconds until the held packet is due (a large figure when none is).
double adapter_packet_wait(const SerialAdapter* adapter, double wall);
