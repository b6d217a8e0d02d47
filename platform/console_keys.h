// console_keys.h - single key presses from the console.
//
// The run asks "Press Y to proceed" and takes one key: no echo, no Enter.
// On a terminal the keys are taken raw from the first prompt to the end of
// the run, so that a key typed ahead of a later prompt waits unseen and
// answers that prompt; the terminal's own settings come back at exit, on a
// signal included.  A run that never prompts leaves the terminal alone, and
// so does a run in the background of the terminal that controls it (its
// input is taken as from a pipe); a terminal that does not control the run
// is taken like a foreground one.  When standard input is not a console (a
// pipe, a file) one byte is one key and the end of input refuses.  One
// implementation per platform.
#pragma once

constexpr int KEY_SPECIAL = 0x100;       // a cursor or function key: not a character
constexpr int KEY_END_OF_INPUT = -1;     // no key will ever come

// Takes over the console for the rest of the run; does nothing when
// standard input is not a console, or not this run's (the background).
// Safe to call more than once.
void console_prepare();

// Waits, without using the processor, for one key press and returns its
// character code, KEY_SPECIAL, or KEY_END_OF_INPUT.
int console_read_key();

// Gives the console its own settings back.  Safe to call more than once.
void console_restore();
