// ctc.h - the Einstein's Z80 CTC (ports 28h-2Bh: channels 0-3), as far as
// the serial line's rate needs it.
//
// Channels 0, 1 and 2 count the board's 2 MHz trigger; channel 0's output
// clocks the 8251's transmitter, channel 1's its receiver, so with the 8251
// in x16 mode the line runs at 2 MHz / N / 16 = 125000 / N baud (N = 13:
// 9615, the monitor's rate).  Channel 2 triggers channel 3, which makes the
// monitor's clock tick: a program must leave those two alone, and the model
// counts the writes that do not.
//
// How it is driven: the board calls ctc_write with the channel (the low two
// bits of the port) for each OUT.  A write with bit 0 set is a control
// word; when its bit 2 is set the channel's next write is its time constant
// (1-256, 0 meaning 256).  Counting, interrupts and the vector are not
// modelled: nothing on the line depends on them.
#pragma once
#include <cstdint>

constexpr int CTC_CHANNELS = 4;
constexpr int CTC_TRANSMIT_CHANNEL = 0;      // clocks the 8251's transmitter
constexpr int CTC_RECEIVE_CHANNEL = 1;       // ... and its receiver
constexpr int CTC_MONITOR_CONSTANT = 13;     // what the monitor leaves in channels 0 and 1
constexpr std::uint8_t CTC_CONTROL_WORD = 0x01;     // bit 0: a control word, not a vector
constexpr std::uint8_t CTC_CONSTANT_FOLLOWS = 0x04; // bit 2: the time constant is written next

struct Ctc {
    int time_constant[CTC_CHANNELS];    // each channel's divisor, 1-256
    bool constant_next[CTC_CHANNELS];   // the channel's next write is its time constant
    std::uint64_t clock_writes;         // writes to channels 2 and 3 (the monitor's clock)
};

// As the monitor leaves it: 13 in channels 0 and 1.
void ctc_init(Ctc* ctc);
void ctc_write(Ctc* ctc, int channel, std::uint8_t value);
// The line rate a channel makes for the 8251 in x16 mode: 125000 / N baud.
double ctc_line_baud(const Ctc* ctc, int channel);
