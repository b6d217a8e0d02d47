// recovery.cpp - bringing the Einstein back to its command loop.
#include "link/recovery.h"

#include <chrono>
#include <cstdio>

#include "link/block_transfer.h"
#include "link/link_console.h"
#include "link/link_limits.h"
#include "link/serial_port.h"
#include "link/wire_forms.h"
#include "report/halt_report.h"

// The Einstein sends its time-out notice after waiting out a poll limit, so
// the notice follows a silence; the same byte value inside a burst (a
// block's data, sent again after a damaged answer) is no notice.
static const double NOTICE_SILENCE_S = 1.0;

CommandLoopWait wait_for_command_loop(bool einstein_timed_out)
{
    CommandLoopWait wait{false, false};
    using Clock = std::chrono::steady_clock;
    Clock::time_point end = Clock::now() + std::chrono::seconds(static_cast<int>(LINK_QUIET_LIMIT_S));
    Clock::time_point last = Clock::now();
    std::uint8_t byte = 0;
    double quiet = einstein_timed_out ? 1.0 : LINK_QUIET_S;
    while (recv_byte_within(&byte, quiet)) {
        wait.heard = true;
        Clock::time_point now = Clock::now();
        bool after_silence = std::chrono::duration<double>(now - last).count() >= NOTICE_SILENCE_S;
        last = now;
        // A notice: it is back in its command loop; let it print and wait.
        // Anything else: it is still talking, and may still wait out a limit.
        quiet = byte == TIMEOUT_NOTICE && after_silence ? 1.0 : LINK_QUIET_S;
        if (now >= end) return wait;
    }
    serial_discard_input();
    wait.back = !serial_port.failed;
    return wait;
}

bool send_checked_command(std::uint8_t command, const std::uint8_t* parameters, int count)
{
    for (std::uint8_t b : checked_command(command, parameters, static_cast<std::size_t>(count)))
        if (!send_byte(b)) return false;
    return true;
}

RecoveryEnd recover_at(RecoveryState* state, BlockFault fault, bool heard_in_fault, int track, int sector,
                       const RecoveryTexts& texts, const RestartStep& restart)
{
    if (fault == BLOCK_TOO_MANY_PASSES || fault == BLOCK_LOST_STEP) ++state->disagreements;
    char where[32];
    std::snprintf(where, sizeof where, "%02d sector %02d", track, sector);
    int silent = heard_in_fault ? 0 : 1;  // tries in a row in which the Einstein said nothing
    for (;;) {
        if (fault == BLOCK_LINK_DEAD || serial_port.failed) {
            link_console().progress_ends();
            halt_report(texts.link_lost, where, HALT_EINSTEIN);
            return RECOVERY_HALTED;
        }
        if (++state->attempts > LINK_MAX_RECOVERIES || silent >= 2) {
            // An Einstein that kept answering is there: the line spoils
            // the blocks, or loses their bytes.
            const char* why = texts.einstein_gone;
            if (silent < 2 && state->disagreements > 0 && texts.too_noisy != nullptr) why = texts.too_noisy;
            else if (silent < 2 && state->answered) why = texts.bytes_lost;
            link_console().progress_ends();
            halt_report(why, where, HALT_EINSTEIN);
            return RECOVERY_HALTED;
        }
        link_console().line_fault(
            {block_fault_text(fault), texts.restarting, track, sector, state->attempts, LINK_MAX_RECOVERIES});
        auto [result, heard] = restart(state->attempts, fault);
        state->answered = state->answered || heard || result == RESTARTED || result == ALREADY_DONE;
        switch (result) {
        case RESTARTED: return RECOVERY_RESTARTED;
        case ALREADY_DONE: return RECOVERY_DONE_AFTER_ALL;
        case RESTART_FATAL: return RECOVERY_HALTED;
        case NOT_TAKEN: break;
        }
        silent = heard ? 0 : silent + 1;
        fault = serial_port.failed ? BLOCK_LINK_DEAD : BLOCK_NO_ANSWER;
    }
}
