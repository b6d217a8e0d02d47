#include "sim/usart_8251.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

void usart_init(Usart8251* usart, HostLink* host, const Ctc* ctc, LineFaults* faults)
{
    *usart = Usart8251{};
    usart->host = host;
    usart->faults = faults;
    usart->ctc = ctc;
    usart->mode = USART_MONITOR_MODE;
    usart->command = 0x07;  // as the MOS leaves it: transmitter and receiver on, RTS off
    usart->rx_holding = usart->tx_holding = -1;
    usart->closest_call = UINT64_MAX;
}

void usart_reset(Usart8251* usart, std::uint64_t now)
{
    usart->command = 0x07;
    usart->mode = USART_MONITOR_MODE;
    usart->mode_next = false;
    usart->rx_holding = usart->tx_holding = -1;
    usart->overrun_flag = false;
    usart->rx_in_flight = usart->tx_in_flight = false;
    usart->rx_line_free = usart->tx_done = now;
    usart->starved = false;
}

LineFrame usart_frame(const Usart8251* usart, bool transmitter)
{
    static const int FACTORS[4] = {1, 1, 16, 64};  // mode bits 1-0: the clock's divisor (00 is synchronous)
    static const double STOP_BITS[4] = {1.0, 1.0, 1.5, 2.0};
    std::uint8_t m = usart->mode;
    double clock = 2000000.0 / usart->ctc->time_constant[transmitter ? CTC_TRANSMIT_CHANNEL : CTC_RECEIVE_CHANNEL];
    return LineFrame{clock / FACTORS[m & 3], 5 + ((m >> 2) & 3), (m & 0x10) != 0, STOP_BITS[m >> 6]};
}

static std::uint64_t byte_tstates(const LineFrame& f)
{
    return static_cast<std::uint64_t>(line_frame_bits(f) / f.baud * 4000000.0 + 0.5);
}

// What the receiver makes of a byte sent in frame `sent` when it expects
// `expected`: the byte when the two agree and neither end runs above the
// line's limit; otherwise what it samples in the middle of each bit time it
// expects (never the byte itself: a receiver that far off also misses the
// stop bit).  True when the byte arrived whole.
static bool line_carries(const Usart8251* usart, const LineFrame& sent, const LineFrame& expected, std::uint8_t* byte)
{
    bool agree = std::abs(sent.baud - expected.baud) <= LINE_RATE_TOLERANCE * expected.baud &&
                 sent.data_bits == expected.data_bits && sent.parity == expected.parity;
    bool too_fast = usart->max_baud > 0 && (sent.baud > usart->max_baud || expected.baud > usart->max_baud);
    if (agree && !too_fast) return true;
    std::uint8_t sampled = 0;
    for (int i = 0; i < expected.data_bits; ++i) {
        int bit = static_cast<int>((1.5 + i) / expected.baud * sent.baud);  // 0 start, then the data bits
        int level = bit == 0 ? 0 : bit <= sent.data_bits ? (*byte >> (bit - 1)) & 1 : 1;
        sampled = static_cast<std::uint8_t>(sampled | level << i);
    }
    *byte = sampled == *byte ? static_cast<std::uint8_t>(sampled ^ 0x80) : sampled;
    return false;
}

static bool rts_on(const Usart8251* usart)
{
    return (usart->command & USART_COMMAND_RTS) != 0;
}

// A byte complete in the shift register moves to the holding register; one
// still waiting there unread is overwritten (an overrun).
static void receive_arrived(Usart8251* usart)
{
    if (usart->rx_holding >= 0) {
        usart->overruns++;
        usart->overrun_flag = true;
    }
    usart->rx_holding = usart->rx_byte;
    usart->rx_holding_corrupt = usart->rx_corrupt;
    usart->rx_in_flight = false;
    usart->rx_arrived++;
    usart->rx_arrived_tstates += usart->rx_duration;
}

// May the PC's next byte start now?  While RTS is on; and as the PC's
// adapter is late at CTS, or ignores it.
static bool pc_may_send(Usart8251* usart, std::uint64_t now)
{
    if (usart->hold_host || !host_link_has_byte(usart->host, now)) return false;
    return adapter_may_start(&usart->host->adapter, rts_on(usart), now);
}

void usart_advance(Usart8251* usart, std::uint64_t now)
{
    // The PC's byte on its way in.
    if (usart->rx_in_flight && usart->rx_arrival <= now) receive_arrived(usart);
    if (!usart->rx_in_flight && pc_may_send(usart, now)) {
        std::uint8_t byte;
        if (host_link_take(usart->host, &byte, now)) {
            // It starts when the line is free and RTS is on, but not before now:
            // the PC sent it no earlier than the machine noticed.
            std::uint64_t start = std::max({usart->rx_line_free, usart->rts_on_at, now});
            LineFate fate = usart->faults ? line_faults_apply(usart->faults, true, start, &byte) : LineFate::Pass;
            LineFrame sent = host_link_frame(usart->host);
            bool whole = line_carries(usart, sent, usart_frame(usart, false), &byte);
            usart->rate_damaged += whole ? 0 : 1;
            usart->rx_line_free = start + byte_tstates(sent);
            if (fate != LineFate::Drop) {
                usart->rx_in_flight = true;
                usart->rx_corrupt = fate == LineFate::Corrupt || !whole;
                usart->rx_byte = byte;
                usart->rx_arrival = start + byte_tstates(sent);
                usart->rx_duration = byte_tstates(sent);
            }
        }
    }
    // The Einstein's byte on its way out.
    if (usart->tx_in_flight && usart->tx_done <= now) {
        std::uint8_t byte = usart->tx_byte;
        LineFate fate = usart->faults ? line_faults_apply(usart->faults, false, usart->tx_done, &byte) : LineFate::Pass;
        if (!line_carries(usart, usart_frame(usart, true), host_link_frame(usart->host), &byte)) usart->rate_damaged++;
        if (fate != LineFate::Drop) host_link_deliver(usart->host, byte);
        usart->tx_in_flight = false;
    }
    if (!usart->tx_in_flight && usart->tx_holding >= 0) {
        usart->tx_byte = static_cast<std::uint8_t>(usart->tx_holding);
        usart->tx_holding = -1;
        usart->tx_in_flight = true;
        usart->tx_done = std::max(now, usart->tx_done) + byte_tstates(usart_frame(usart, true));
    }
}

std::uint8_t usart_read(Usart8251* usart, int port, std::uint64_t now)
{
    usart_advance(usart, now);
    if ((port & 1) == 0) {
        // Data: the held byte (read again when none came since: the register keeps it).
        std::uint8_t value = static_cast<std::uint8_t>(usart->rx_holding >= 0 ? usart->rx_holding : usart->rx_last);
        if (usart->rx_holding >= 0 && usart->rx_holding_corrupt) usart->corrupted_taken++;
        if (usart->rx_holding >= 0 && usart->rx_in_flight)
            usart->closest_call = std::min(usart->closest_call, usart->rx_arrival - now);
        usart->rx_last = value;
        usart->rx_holding = -1;
        usart->empty_polls = 0;
        return value;
    }
    std::uint8_t status = 0;
    if (usart->tx_holding < 0) status |= USART_STATUS_TXRDY;
    if (usart->tx_holding < 0 && !usart->tx_in_flight) status |= USART_STATUS_TXEMPTY;
    if (usart->rx_holding >= 0) status |= USART_STATUS_RXRDY;
    if (usart->overrun_flag) status |= USART_STATUS_OVERRUN;
    // Waiting for a byte that is neither here nor on its way: a third empty
    // poll in a row, each soon after the last (USART_WAIT_POLL_TSTATES).
    bool nothing = usart->rx_holding < 0 && !usart->rx_in_flight && rts_on(usart) &&
                   !host_link_pending(usart->host);
    bool soon = now - usart->last_empty_poll <= USART_WAIT_POLL_TSTATES;
    usart->empty_polls = nothing ? (soon ? usart->empty_polls + 1 : 1) : 0;
    if (nothing) usart->last_empty_poll = now;
    usart->starved = usart->empty_polls >= 3;
    return status;
}

void usart_write(Usart8251* usart, int port, std::uint8_t value, std::uint64_t now)
{
    usart_advance(usart, now);
    if ((port & 1) == 0) {
        usart->tx_holding = value;
        usart_advance(usart, now);
        return;
    }
    if (usart->mode_next) {  // the mode byte after an internal reset
        usart->mode = value;
        usart->mode_next = false;
        return;
    }
    if (value & USART_COMMAND_INTERNAL_RESET) {
        usart->mode_next = true;
        usart->command = 0;
        return;
    }
    bool was_on = rts_on(usart);
    usart->command = value;
    if (value & USART_COMMAND_ERROR_RESET) usart->overrun_flag = false;
    if (!was_on && rts_on(usart)) usart->rts_on_at = now;
    if (was_on && !rts_on(usart))  // the adapter sees CTS go off, as it does
        adapter_cts_off(&usart->host->adapter, now, usart->rx_in_flight ? usart->rx_line_free : now,
                        byte_tstates(host_link_frame(usart->host)));
    usart_advance(usart, now);
}

std::uint64_t usart_next_event(const Usart8251* usart)
{
    std::uint64_t next = UINT64_MAX;
    if (usart->rx_in_flight) next = std::min(next, usart->rx_arrival);
    if (usart->tx_in_flight) next = std::min(next, usart->tx_done);
    return next;
}
