// fast_line.h - the program's second stage ("S" and "T"), and a faster
// line agreed with the Einstein ("F" and its probe; tobrin -fast).  The
// exchanges are in docs/protocol.md.
//
// The rates tried, fastest first: 31250 (N = 4) and 20833 (N = 6); the
// 8251 cannot sample 62500.  Then 9600 with one stop bit (N = 13 + 80h),
// where the line carries nothing faster: a tenth less time a byte.  The
// PC's adapter must make a rate within 2% (it is set and read back first):
// a 16550 UART (115200 / n) cannot make 31250 or 20833, and some adapters
// silently round.
#pragma once
#include <string>

// What a run has agreed with the Einstein's program beside its first
// stage.  Each run starts afresh: nothing sent, the monitor's rate.
struct ProgramState {
    bool stage_two_in_place = false;  // the second stage's first part: sent, and the Einstein said it took it
    bool stage_two_whole = false;     // ... and its second part (-read, -fast) too
    int line_baud = 9600;             // the line's rate, as both ends set it ...
    int line_stop_bits = 2;           // ... and its stop bits (2: the monitor's frame)
};

// Sends the second stage's first part - and with `whole` its second -
// unless in place: true when the Einstein says it took them (a halt report
// otherwise).  A part goes again (twice at most) once the Einstein is back
// in its command loop.  The Einstein is back in its command loop after
// it, but takes a command only after a quiet line (COMMAND_QUIET_S): the
// caller waits before its next one.
bool send_stage_two(ProgramState* program, bool whole);
// Waits out the quiet line after the Einstein's answer to a second
// stage's part (COMMAND_AFTER_ANSWER_S), after which the Einstein, back in
// its command loop, takes the next command.
void wait_for_quiet_line();
// The same without the halt report: for a run that learns the stage is
// gone (the Einstein restarted its program) and sends it again.
bool resend_stage_two(ProgramState* program, bool whole);
// The line a run agreed: its rate (0 when none: the monitor's 9600 baud
// with two stop bits), and why no faster one (empty when the fastest was).
struct LineAgreed {
    int baud;
    std::string why_not_faster;
};
// Agrees the fastest line both ends can carry.  The Einstein, which has
// just echoed the probe when a rate was agreed, takes its next command
// COMMAND_AFTER_ANSWER_S after it.
LineAgreed agree_fast_line(ProgramState* program);
// After a -fast run: the Einstein (when its program still listens) and the
// PC back at the monitor's 9615/9600 baud, so that a later run finds the
// line as the monitor leaves it.  Best effort: nothing is printed.
void return_to_monitor_rate(ProgramState* program);
