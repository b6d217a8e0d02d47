// loader_listing.h - the monitor loader as the user types it: the assembled
// loader bytes as hex lines of eight bytes.
#pragma once

// Prints one line per eight loader bytes: the indent, then (when
// with_addresses is 1) the line's address and a space, then 16 hex digits.
void print_loader_lines(const char* indent, int with_addresses);
// The address the loader is typed at and started from (1000h).
int loader_address();
// Its length in bytes (48).
int loader_length();
