// recovery.h - what the image write and the disk read share to bring the
// Einstein back after a fault on the line: silence until its command loop
// waits again, then a command with a check byte.
#pragma once
#include <cstdint>

// Waits until the line has been silent long enough for the Einstein to be
// back in its command loop: its poll limit and a margin, or - after its
// time-out notice - a moment to print.  Everything that arrives is
// dropped; *heard is set when anything did.  False when the line never
// falls silent (LINK_QUIET_LIMIT_S) or the port failed.
bool wait_for_command_loop(bool einstein_timed_out, bool* heard);
// Sends a command byte, its parameters and a check byte that makes the
// parameters and itself sum to FFh.  False when the port failed.
bool send_checked_command(std::uint8_t command, const std::uint8_t* parameters, int count);
