// recovery.cpp - bringing the Einstein back to its command loop.
#include "link/recovery.h"

#include <chrono>

#include "link/block_transfer.h"
#include "link/link_limits.h"
#include "link/serial_port.h"

bool wait_for_command_loop(bool einstein_timed_out, bool* heard)
{
    using Clock = std::chrono::steady_clock;
    Clock::time_point end = Clock::now() + std::chrono::seconds(static_cast<int>(LINK_QUIET_LIMIT_S));
    std::uint8_t byte = 0;
    double quiet = einstein_timed_out ? 1.0 : LINK_QUIET_S;
    while (recv_byte_within(&byte, quiet)) {
        *heard = true;
        if (byte == TIMEOUT_NOTICE) quiet = 1.0;  // it is back there: let it print and wait
        if (Clock::now() >= end) return false;
    }
    serial_discard_input();
    return !serial_port.failed;
}

bool send_checked_command(std::uint8_t command, const std::uint8_t* parameters, int count)
{
    std::uint8_t sum = 0;
    if (!send_byte(command)) return false;
    for (int i = 0; i < count; ++i) {
        if (!send_byte(parameters[i])) return false;
        sum = static_cast<std::uint8_t>(sum + parameters[i]);
    }
    return send_byte(static_cast<std::uint8_t>(0xFF - sum)) == 1;
}
