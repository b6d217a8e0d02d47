// console_keys.h - single key presses from the console.
//
// The run asks "Press Y to proceed" and takes one key: no echo, no Enter.
// On a terminal the keys are taken raw for the whole run, so that a key
// typed ahead of a prompt waits unseen and answers that prompt; the
// terminal's own settings come back at exit, on a signal included.  When
// standard input is not a console (a pipe, a file) one byte is one key and
// the end of input refuses.  One implementation per platform.
#pragma once

constexpr int KEY_SPECIAL = 0x100;       // a cursor or function key: not a character
constexpr int KEY_END_OF_INPUT = -1;     // no key will ever come

// Takes over the console for the run; does nothing when standard input is
// not a console.  Safe to call more than once.
void console_prepare();

// Waits, without using the processor, for one key press and returns its
// character code, KEY_SPECIAL, or KEY_END_OF_INPUT.
int console_read_key();

// Gives the console its own settings back.  Safe to call more than once.
void console_restore();
