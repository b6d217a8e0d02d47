// image_transfer.cpp - the image write, PC side: the drive flags and the
// geometry bytes, the batches in their order, the end byte, and what it
// all came to.
//
// The image is fitted to the drive the Einstein reports, however its
// flags byte came: unasked after the format, again with a resume's answer
// (when the first was lost, before any batch goes out) or with a report.
#include "link/image_transfer.h"

#include <chrono>
#include <new>
#include <utility>

#include "link/batch_exchange.h"
#include "link/link_console.h"
#include "link/link_limits.h"
#include "link/serial_port.h"
#include "report/halt_report.h"

// A failure after the progress line started: end that line first.
static TransferReport transfer_failed(const char* message, const char* parameter)
{
    link_console().progress_ends();
    halt_report(message, parameter, HALT_EINSTEIN);
    return TransferReport{};
}

TransferReport send_image(DiscImage* image, bool builtin, bool verify, bool fast, ProgramState* program)
{
    Transfer t{};
    t.verify = verify || fast;
    t.packed = fast;
    // -fast on a line faster than 9600: batches of 40, whose streams fit
    // the Einstein's room; at 9600 the line is the slower by far, and the
    // copies' longer reach into a batch of 80 saves more of it.
    t.plan = plan_transfer(image, fast && program->line_baud > 9600 ? FAST_BATCH_SECTORS : BATCH_SECTORS, builtin);
    t.program = program;
    t.cursor = {image, 0, 0};
    t.batch.first = t.next.first = -1;
    try {
        t.batch.sectors.resize(static_cast<std::size_t>(BATCH_SECTORS) * SECTOR_SIZE);
        if (fast) t.next.sectors.resize(t.batch.sectors.size());
        t.status.reserve(static_cast<std::size_t>(MAX_TRACKS * 2 * SECTORS_PER_SIDE));  // the largest drive
    } catch (const std::bad_alloc&) {
        halt_report("Cannot allocate status buffer", nullptr, HALT_RESOURCE);
        return TransferReport{};
    }

    RecoveryState state{};
    Received flags = receive_within(link_answer_s(1));
    if (flags.got) {
        take_flags(&t, flags.byte);
        send_byte(static_cast<std::uint8_t>(t.plan.image_tracks));
        send_byte(static_cast<std::uint8_t>(t.plan.sectors_per_cylinder));
        send_byte(static_cast<std::uint8_t>(t.plan.batch_sectors));
    } else {
        if (flags.failed) return transfer_failed("Serial link to the Einstein lost", nullptr);
        // The flags byte was lost: the resume brings it again, and the
        // image is fitted to the drive before a batch goes out.
        if (recover_batch(&t, 0, BLOCK_NO_ANSWER, &state, false) == RECOVERY_HALTED) return TransferReport{};
    }

    t.fast.started = std::chrono::steady_clock::now();
    t.stream = stream_with_room(t.plan.batch_sectors <= FAST_BATCH_SECTORS ? STREAM_MAX_WIDE : STREAM_MAX);
    int lead = t.packed ? lead_batch(t.plan, &t.cursor) : -1;
    for (int first = lead >= 0 ? lead : 0; first < t.plan.total;
         first = batch_after(t.plan, first, lead), t.fast.sectors_before += t.plan.batch_sectors) {
        t.following = batch_after(t.plan, first, lead);
        if (t.next.first == first) {  // fetched ahead for the stream
            std::swap(t.batch, t.next);
            t.next.first = -1;
        } else {
            t.batch.first = first;
            t.batch.fetched = 0;
        }
        t.mismatch_resends = 0;
        state = RecoveryState{};
        for (BatchResult result; (result = send_batch(&t, first)).fault != BLOCK_OK;) {
            RecoveryEnd end = recover_batch(&t, first, result.fault, &state, result.waited_for_status);
            if (end == RECOVERY_HALTED) return TransferReport{};
            if (end == RECOVERY_DONE_AFTER_ALL) break;
            // The drive is smaller than the first flags byte said (it came
            // damaged): a batch past its end is not written.  (-fast's
            // first batch may be one: the blank last one of the drive the
            // flags named.)
            if (first >= t.plan.total) {
                t.fast.sectors_before -= t.plan.batch_sectors;
                break;
            }
        }
        if (t.packed && first < t.plan.total) {
            t.fast.sides_heard = t.plan.batch_sectors / SECTORS_PER_SIDE + 1;  // the whole batch
            show_fast_progress(&t, fast_sectors_done(&t));
        }
    }
    send_byte(END_BYTE);

    TransferReport report{};
    report.sent = true;
    report.recoveries = t.recoveries;
    report.recovery_seconds = t.recovery_seconds;
    report.verified = t.verify;
    report.packed = t.packed;
    report.packing = t.packing;
    report.status = std::move(t.status);
    report.status.resize(static_cast<std::size_t>(t.plan.total));  // the drive's sectors, as its last flags said
    report.sectors_per_cylinder = t.plan.sectors_per_cylinder;
    for (std::uint8_t s : report.status) {
        if (!sector_written(s)) ++report.failed;
        if (s & STATUS_VERIFIED_AFTER_REWRITE) ++report.rewritten;
    }
    return report;
}
