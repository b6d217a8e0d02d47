// recovery.h - what the image write and the disk read share to bring the
// Einstein back after a fault on the line: one loop that counts the tries,
// gives up after LINK_MAX_RECOVERIES of them or two in a row in which the
// Einstein said nothing, and says why; silence until its command loop
// waits again; a command with a check byte.  The restart itself (resume
// the write, read on) is the caller's step.
#pragma once
#include <cstdint>
#include <functional>

#include "link/block_transfer.h"

// The tries at one position (a batch, a sector): the caller keeps it for as
// long as the position has not got across.
struct RecoveryState {
    int attempts;       // recoveries tried so far
    int disagreements;  // faults in which the Einstein answered, but the checksums disagreed
    bool answered;      // the Einstein answered a try (it took up the work again, or spoke)
};

// What the caller's restart step did.
enum RestartResult {
    RESTARTED = 0,       // the Einstein took up the work at the position again
    ALREADY_DONE = 1,    // nothing to restart: the work got across after all
    NOT_TAKEN = 2,       // no answer (yet): another try
    RESTART_FATAL = 3,   // the Einstein answered that it cannot go on (reported already)
};

// The words of one kind of work, for its console lines and halt reports;
// "%s" in the reports is the position, "tt sector ss".
struct RecoveryTexts {
    const char* restarting;     // "resuming at", "reading on from"
    const char* link_lost;      // the port failed
    const char* einstein_gone;  // the Einstein stopped answering
    const char* too_noisy;      // it answered, but the checksums kept disagreeing (null: as einstein_gone)
    const char* bytes_lost;     // it answered every time, but the work never got across: bytes lost on the line
};

// What one try of the restart did, and whether the Einstein said anything meanwhile.
struct RestartAnswer {
    RestartResult result;
    bool heard;
};
// One try of the restart: bring the Einstein back (wait_for_command_loop)
// and send the command.
using RestartStep = std::function<RestartAnswer(int attempt, BlockFault fault)>;

// What a recovery came to.
enum RecoveryEnd {
    RECOVERY_HALTED,          // it gave up, after a halt report
    RECOVERY_RESTARTED,       // the work goes on from the position
    RECOVERY_DONE_AFTER_ALL,  // it got across without a restart
};

// Recovers from `fault` at track/sector: a line "  + Line fault (...):
// <restarting> track tt sector ss, try n of 5" for every try, then the
// restart step.  The halt report after the last try tells an Einstein that
// is gone (two tries in a row without a word) from a line that spoils the
// blocks (checksums that kept disagreeing) and from one that loses bytes
// (an Einstein that answered, blocks that never got across: an adapter
// that does not stop at CTS, a TTL-level adapter, no RTS/CTS in the cable).  `heard_in_fault` tells whether the Einstein said anything
// in the exchange that failed (a silent one counts as the first silent try).
RecoveryEnd recover_at(RecoveryState* state, BlockFault fault, bool heard_in_fault, int track, int sector,
                       const RecoveryTexts& texts, const RestartStep& restart);

// Waits until the line has been silent long enough for the Einstein to be
// back in its command loop: its poll limit and a margin, or - after its
// time-out notice - a moment to print.  Everything that arrives is
// dropped.
struct CommandLoopWait {
    bool back;   // the line fell silent (false: it never did, LINK_QUIET_LIMIT_S, or the port failed)
    bool heard;  // anything arrived meanwhile
};
CommandLoopWait wait_for_command_loop(bool einstein_timed_out);
// Sends a command byte, its parameters and a check byte that makes the
// parameters and itself sum to FFh.  False when the port failed.
bool send_checked_command(std::uint8_t command, const std::uint8_t* parameters, int count);
