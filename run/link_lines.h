// link_lines.h - the console lines of the link's work: its events worded
// and printed, and what its steps came to.
#pragma once
#include <cstdint>
#include <vector>

#include "link/fast_line.h"

// From now on the link's events are printed (link/link_console.h).
void print_link_events();
// The line agreed for -fast: " * The line runs at 31250 baud", or why it
// stays at 9600.  Returns the rate agreed (0: none).
int print_line_agreed(const LineAgreed& agreed);
// The failed sectors of a disk's status table (spc to a cylinder): one line
// for each track side and cause, the sector IDs in ranges -
// "  + Track 12 side 1: sectors 10-19: not ready".
void print_sector_failures(const std::vector<std::uint8_t>& status, int spc);
