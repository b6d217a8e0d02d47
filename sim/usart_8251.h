// usart_8251.h - the Einstein's 8251 USART (ports 10h data, 11h command and
// status) and the RS-232 line to the PC.
//
// How it is driven: the machine calls usart_read / usart_write for the two
// ports with the emulated time of the access, and usart_advance after every
// instruction.  Each end sends at its own rate and frame: the Einstein's
// transmitter and receiver at the rates CTC channels 0 and 1 make
// (125000 / N baud in x16 mode; the monitor's N = 13 gives 9615) with the
// frame of the mode byte (the monitor's CEh: 8 data bits, no parity, 2 stop
// bits), the PC at what it set on its port (the pseudo-terminal's settings;
// a queue link's `queue_frame`).  A byte takes its sender's bit times: 11
// at 9600 baud, 4,583 T-states at 4 MHz.  It arrives whole only when the
// receiver expects its rate within 3% and its data bits and parity, and
// neither end runs above `max_baud` (a USART or an adapter that cannot keep
// up); otherwise the receiver samples garbage.  A byte from the PC starts
// while the Einstein's RTS (command bit 5) is on, the PC's CTS, and as the
// PC's adapter is late at CTS or ignores it (sim/serial_adapter.h); once
// started it arrives a byte time later whatever RTS does.  As in the 8251A,
// the receiver holds one byte: the next that completes in the shift
// register before it was read overwrites it and sets the overrun flag
// (status bit 4, cleared by the error reset command bit 4).  A byte
// written to the data port goes to the transmitter and reaches the PC a
// byte time after it starts.
// The MOS has already set the mode (CEh); a command with the internal reset
// bit (40h) makes the next control byte a new mode byte.
// Faults arranged on the line (line_faults.h) act on each byte as it
// crosses, in either direction.
#pragma once
#include <cstdint>

#include "sim/ctc.h"
#include "sim/host_link.h"
#include "sim/line_faults.h"

constexpr std::uint64_t LINE_BYTE_TSTATES = 4583;  // 11 bits at 9600 baud, 4 MHz
constexpr double LINE_RATE_TOLERANCE = 0.03;       // a receiver takes a rate this far off
constexpr std::uint8_t USART_MONITOR_MODE = 0xCE;  // x16, 8 data bits, no parity, 2 stop bits
constexpr std::uint8_t USART_COMMAND_INTERNAL_RESET = 0x40;
constexpr std::uint8_t USART_STATUS_TXRDY = 0x01;
constexpr std::uint8_t USART_STATUS_RXRDY = 0x02;
constexpr std::uint8_t USART_STATUS_TXEMPTY = 0x04;
constexpr std::uint8_t USART_STATUS_OVERRUN = 0x10;
constexpr std::uint8_t USART_COMMAND_RTS = 0x20;
constexpr std::uint8_t USART_COMMAND_ERROR_RESET = 0x10;
// Three empty status polls in a row, each this close after the last, are a
// wait for a byte (a polling loop takes some tens of T-states a round; a
// look at the line between other work, a few hundred T apart, is none, nor
// is one followed by a wait for the transmitter).
constexpr std::uint64_t USART_WAIT_POLL_TSTATES = 200;

struct Usart8251 {
    HostLink* host;             // the PC's end of the line
    LineFaults* faults;         // faults on the line, or null
    const Ctc* ctc;             // the rates of the transmitter and the receiver
    std::uint8_t mode;          // the mode byte: the frame and the clock factor
    bool mode_next;             // after an internal reset: the next control byte is a mode
    double max_baud;            // above this rate every byte arrives damaged (0: no limit)
    std::uint64_t rate_damaged; // bytes damaged because the ends did not agree
    bool hold_host;             // take no new byte from the PC (the machine catches up on a wait)
    std::uint8_t command;       // last command byte (bit 5 RTS, bit 2 RxE, bit 0 TxEN)
    std::uint64_t rts_on_at;    // when RTS last came on
    // receiver
    int rx_holding;             // received byte waiting for the CPU, -1 none
    bool rx_holding_corrupt;    // the held byte was changed on the line
    std::uint8_t rx_last;       // the last byte the CPU read (the register keeps it)
    bool overrun_flag;          // status bit 4: a byte was overwritten unread
    bool rx_in_flight;          // a byte from the PC is on the line
    bool rx_corrupt;            // it was changed on the line
    std::uint8_t rx_byte;       // that byte
    std::uint64_t rx_arrival;   // when it will have arrived
    std::uint64_t rx_line_free; // when the line from the PC is free again
    std::uint64_t overruns;     // bytes overwritten because the CPU did not read in time
    std::uint64_t closest_call; // the least time left, when the CPU read a held byte, before the next
                                // one on its way would have overwritten it (T-states; UINT64_MAX: never close)
    std::uint64_t rx_arrived;   // bytes from the PC that arrived whole or damaged ...
    std::uint64_t rx_arrived_tstates; // ... and their line time
    std::uint64_t rx_duration;  // the line time of the byte in flight
    std::uint64_t corrupted_taken; // changed bytes the CPU read
    // transmitter
    int tx_holding;             // byte written by the CPU, not yet on the line, -1 none
    bool tx_in_flight;          // a byte to the PC is on the line
    std::uint8_t tx_byte;       // that byte
    std::uint64_t tx_done;      // when it will have reached the PC
    // waiting
    int empty_polls;            // status reads in a row that found no byte (a data read resets it)
    std::uint64_t last_empty_poll; // when the last of them was
    bool starved;               // the CPU keeps polling for a byte the PC has not sent
};

void usart_init(Usart8251* usart, HostLink* host, const Ctc* ctc, LineFaults* faults = nullptr);
// The frame the Einstein sends (transmitter) or expects (receiver) now.
LineFrame usart_frame(const Usart8251* usart, bool transmitter);
// A reset of the machine: registers empty, RTS off; the line's faults stay.
void usart_reset(Usart8251* usart, std::uint64_t now);
// Moves the line on to emulated time `now`.
void usart_advance(Usart8251* usart, std::uint64_t now);
std::uint8_t usart_read(Usart8251* usart, int port, std::uint64_t now);
void usart_write(Usart8251* usart, int port, std::uint8_t value, std::uint64_t now);
// The emulated time at which the next line event falls (for idle skipping),
// or UINT64_MAX when nothing is on the line.
std::uint64_t usart_next_event(const Usart8251* usart);
