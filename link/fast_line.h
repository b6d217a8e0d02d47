// fast_line.h - the program's second stage, and a faster line agreed with
// the Einstein (tobrin -fast):
//
//   PC -> Einstein  "S" and the second stage as one checked block; a silence
//   PC -> Einstein  "F", the CTC time constant N, check byte (sum FFh)
//   Einstein -> PC  "F" at the present rate; both switch to 125000 / N baud
//                   (8N1; 8N2 at the monitor's N = 13)
//   PC -> Einstein  the probe (32 bytes, the program's own copy of them)
//   Einstein -> PC  the probe again: the rate is agreed.  When the probe
//                   does not come whole the Einstein returns to 9615 baud
//                   by itself after 0.85 s, and so does the PC.
//
// The rates tried, fastest first: 31250 (N = 4) and 20833 (N = 6); the
// 8251 cannot sample 62500.  The PC's adapter must make a rate within 2%
// (it is set and read back first): a 16550 UART (115200 / n) cannot make
// either, and some adapters silently round.
#pragma once

// Sends the second stage unless this run sent it already: true when it got
// across (a halt report otherwise).
bool send_stage_two();
// Agrees the fastest line both ends can carry, printing the rate used, or
// why the line stays at 9600 baud; returns the rate (9600 when none).
int agree_fast_line();
// After a -fast run: the Einstein (when its program still listens) and the
// PC back at the monitor's 9615/9600 baud, so that a later run finds the
// line as the monitor leaves it.  Best effort: nothing is printed.
void return_to_monitor_rate();
