// batch_resume.cpp - the image write taken up again after a fault: the
// Einstein back in its command loop, the second stage sent again when it
// is gone, the resume at the batch's first sector, or the batch's status
// block after all.
#include <chrono>

#include "link/batch_exchange.h"
#include "link/link_limits.h"
#include "link/recovery.h"
#include "link/serial_port.h"

// Has the Einstein resume writing at sector `first` of the drive, with the
// drive flags it sends again (the image is fitted to them).  RESTARTED when
// it took it up; ALREADY_DONE when it was still writing the batch and its
// status block came after all; NOT_TAKEN to try again: no answer, the
// second stage gone (the program restarted: it goes again first next
// time), or a resume that the flags show to have gone with a geometry the
// drive has no room for (the Einstein gives the write up, and the next
// resume has the right one).
static RestartAnswer resume_einstein(Transfer* t, int first, bool einstein_timed_out)
{
    CommandLoopWait wait = wait_for_command_loop(einstein_timed_out);
    if (!wait.back) return {NOT_TAKEN, wait.heard};
    bool staged = t->verify || t->packed;  // their batches are the second stage's (packed: both parts)
    bool in_place = t->packed ? t->program->stage_two_whole : t->program->stage_two_in_place;
    if (staged && !in_place) {
        if (!resend_stage_two(t->program, t->packed)) return {NOT_TAKEN, wait.heard};
        wait_for_quiet_line();
    }
    const int spc = t->plan.sectors_per_cylinder;
    const std::uint8_t where[] = {static_cast<std::uint8_t>(spc), static_cast<std::uint8_t>(t->plan.batch_sectors),
                                  static_cast<std::uint8_t>(first / spc), static_cast<std::uint8_t>(first % spc)};
    if (!send_checked_command(RESUME_COMMAND, where, sizeof where)) return {NOT_TAKEN, wait.heard};
    Received ack = receive_within(LINK_RESUME_ANSWER_S);
    if (!ack.got) return {NOT_TAKEN, wait.heard};
    if (ack.byte == WORKING_NOTICE)  // still at the batch: it tells as it works
        return {receive_status_told(t, first) == BLOCK_OK ? ALREADY_DONE : NOT_TAKEN, true};
    if (ack.byte != RESUMED && ack.byte != RESUMED_WITH_STAGE && ack.byte != RESUMED_WITH_FIRST_PART)
        return {NOT_TAKEN, true};
    Received flags = receive_within(link_answer_s(1));
    if (!flags.got) return {NOT_TAKEN, true};
    take_flags(t, flags.byte);
    // What the Einstein still has of the second stage (its program may
    // have restarted): what is missing goes first, next time.
    t->program->stage_two_in_place = ack.byte != RESUMED;
    t->program->stage_two_whole = ack.byte == RESUMED_WITH_STAGE;
    if (staged && !(t->packed ? t->program->stage_two_whole : t->program->stage_two_in_place))
        return {NOT_TAKEN, true};
    return {t->plan.sectors_per_cylinder == spc ? RESTARTED : NOT_TAKEN, true};
}

// A status block that comes after TOBRIN stopped waiting for it: the
// Einstein was still writing (sectors tried again and again).  Listens for
// a quiet interval; true when the whole status block came after all.
static bool late_status(Transfer* t, int first)
{
    Received marker = receive_within(LINK_QUIET_S);
    if (!marker.got) return false;
    if (marker.byte == WORKING_NOTICE) return receive_status_told(t, first) == BLOCK_OK;
    if (marker.byte != FILL_MARKER && marker.byte != FULL_MARKER) return false;
    return receive_block_marked(marker.byte, &t->status[static_cast<std::size_t>(first)], t->plan.batch_sectors) ==
           BLOCK_OK;
}

static const RecoveryTexts WRITE_RECOVERY = {
    "resuming at",
    "Serial link to the Einstein lost",
    "The Einstein stopped answering at track %s and did not take up the write again. It may have been reset or "
    "switched off (its screen shows the monitor's prompt), or it shows TIMEOUT. Check it and the cable, then run "
    "TOBRIN again (with -notrans when it shows \"[ Waiting to proceed\")",
    "The batch from track %s did not get across after five resumes: the Einstein answered, but the checksums kept "
    "disagreeing. The line is too noisy: check the cable (its length, its plugs, the adapter), then run TOBRIN "
    "again (with -notrans when the Einstein shows \"[ Waiting to proceed\")",
    "The batch from track %s did not get across after five resumes: the Einstein answered each time, but bytes "
    "were lost on the line. That is most often an adapter that goes on sending when the Einstein drops RTS (its "
    "CTS), a TTL-level adapter, or a cable without RTS and CTS: check them (the README's cable section), then run "
    "TOBRIN again (with -notrans when the Einstein shows \"[ Waiting to proceed\")",
};
static_assert(LINK_MAX_RECOVERIES == 5, "the report says five");

RecoveryEnd recover_batch(Transfer* t, int first, BlockFault fault, RecoveryState* state, bool waited_for_status)
{
    auto start = std::chrono::steady_clock::now();
    auto restart = [&](int attempt, BlockFault why) {
        if (waited_for_status && why == BLOCK_NO_ANSWER && attempt == 1 && late_status(t, first))
            return RestartAnswer{ALREADY_DONE, true};
        return resume_einstein(t, first, why == BLOCK_EINSTEIN_TIMED_OUT);
    };
    const int spc = t->plan.sectors_per_cylinder;
    RecoveryEnd end = recover_at(state, fault, true, first / spc, first % spc, WRITE_RECOVERY, restart);
    if (end == RECOVERY_HALTED) return end;
    ++t->recoveries;
    t->recovery_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return end;
}
