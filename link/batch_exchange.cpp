// batch_exchange.cpp - one batch on the line, PC side: the batch byte, its
// blocks (or -fast's streams and follows), the status block, and the way
// back after a fault.
#include "link/batch_exchange.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>

#include "link/link_console.h"
#include "link/link_limits.h"
#include "link/serial_port.h"

using Clock = std::chrono::steady_clock;

static const int LABEL_SIZE = 80;

bool sector_written(std::uint8_t status)
{
    return status == 0 || (status & STATUS_VERIFIED_AFTER_REWRITE) != 0;
}

void take_flags(Transfer* t, std::uint8_t flags)
{
    if (std::optional<DriveFit> fit = fit_to_drive(&t->plan, flags)) link_console().drive_fit(*fit);
    // The status table only grows (within the room reserved for the
    // largest drive): a batch being received may lie past the end of a
    // drive that the new flags make smaller (its bytes are not counted at
    // the end).
    if (t->status.size() < static_cast<std::size_t>(t->plan.total))
        t->status.resize(static_cast<std::size_t>(t->plan.total));
}

int fast_sectors_done(Transfer* t)
{
    int done = t->fast.sectors_before +
               std::clamp((t->fast.sides_heard - 1) * SECTORS_PER_SIDE, 0, t->plan.batch_sectors);
    t->fast.sectors_shown = std::max(t->fast.sectors_shown, std::min(done, t->plan.total));
    return t->fast.sectors_shown;
}

// -fast's progress: "WRITE 0: 120 of 400 sectors (30%)  5.2 KB/s, 0:24
// left" - the sectors written, the image's bytes written a second since
// the first batch, and the time left at that pace.
static std::string fast_progress(const Transfer* t, int done)
{
    const int total = t->plan.total;
    done = std::min(done, total);
    double seconds = std::chrono::duration<double>(Clock::now() - t->fast.started).count();
    char text[96];
    int written = std::snprintf(text, sizeof text, "WRITE 0: %d of %d sectors (%d%%)", done, total,
                                total > 0 ? done * 100 / total : 0);
    if (done == 0 || seconds <= 0) {
        std::snprintf(text + written, sizeof text - written, "  --- KB/s, --:-- left");
    } else {
        int left = static_cast<int>(seconds / done * (total - done) + 0.5);
        std::snprintf(text + written, sizeof text - written, "  %.1f KB/s, %d:%02d left",
                      done * static_cast<double>(SECTOR_SIZE) / 1024 / seconds, left / 60, left % 60);
    }
    return text;
}

// The progress line is rewritten in place: a label shorter than the
// longest one before it is padded to cover it.
static std::string padded_label(Transfer* t, std::string text)
{
    int width = static_cast<int>(text.size());
    text.append(static_cast<std::size_t>(std::max(t->label_width - width, 0)), ' ');
    t->label_width = std::max(t->label_width, width);
    return text;
}

// The progress line's label for sector `n` (-fast: the sectors written so
// far).
static std::string sector_label(Transfer* t, int n)
{
    if (t->packed) return padded_label(t, fast_progress(t, fast_sectors_done(t)));
    char label[LABEL_SIZE];
    std::snprintf(label, sizeof label, "WRITE 0: Track %02d Sector %02d", n / t->plan.sectors_per_cylinder,
                  n % t->plan.sectors_per_cylinder);
    return padded_label(t, label);
}

void show_fast_progress(Transfer* t, int done)
{
    link_console().progress(padded_label(t, fast_progress(t, done)).c_str());
}

// The Einstein's next byte within `seconds`; in -fast, the stream goes out
// meanwhile, as far as the Einstein granted it (or whole, a follow, which
// it takes as it comes), and its line time is added to the wait.  The
// port is kept fed with at most STREAM_QUEUE bytes waiting in it, so that
// no write blocks while the Einstein holds the line off.
static const int STREAM_QUEUE = 512;
static const double STREAM_POLL_S = 0.005;
static Received recv_streaming(Transfer* t, double seconds)
{
    PackedStream* s = &t->stream;
    if (s->sent < s->bytes.size()) seconds += link_answer_s(static_cast<int>(s->bytes.size() - s->sent));
    Clock::time_point end = Clock::now() + std::chrono::microseconds(static_cast<long long>(seconds * 1e6));
    for (;;) {
        std::size_t may = s->granted_only ? std::min(s->bytes.size(), s->granted) : s->bytes.size();
        while (s->sent < may && serial_output_pending() < STREAM_QUEUE) {
            if (!send_byte(s->bytes[s->sent])) return {false, serial_port.failed != 0, 0};  // or held off too long
            ++s->sent;
        }
        double left = std::chrono::duration<double>(end - Clock::now()).count();
        Received r = receive_within(s->sent < may ? STREAM_POLL_S : std::max(left, 0.0));
        if (r.got && t->packed && take_grant(s, r.byte)) continue;
        if (r.got || r.failed || Clock::now() >= end) return r;
    }
}

// The batch's status block.  The Einstein writes the whole batch first.
// When that takes longer than a healthy disk needs, TOBRIN says so and asks
// whether it still works; from then on (`asked`) the Einstein tells after
// each of its sector calls, and TOBRIN waits as long as it does - a bad
// area takes the monitor ten tries a sector - but no longer than one call
// at its worst without a word (an Einstein that was reset or switched off).
static BlockFault receive_status(Transfer* t, int first, bool asked)
{
    std::uint8_t* status = &t->status[static_cast<std::size_t>(first)];
    double wait = asked       ? SECTOR_CALL_S
                  : t->packed ? BATCH_LAID_HEALTHY_S
                  : t->verify ? BATCH_VERIFY_HEALTHY_S
                              : BATCH_WRITE_HEALTHY_S;
    for (;;) {
        Received marker = recv_streaming(t, wait);
        if (!marker.got) {
            // -fast: the Einstein tells unasked (a question would go
            // behind the stream, where it is taken for part of it).
            if (marker.failed) return BLOCK_LINK_DEAD;
            if (asked || t->packed) return BLOCK_NO_ANSWER;
            link_console().still_writing();
            if (!send_byte(WORK_QUESTION)) return BLOCK_LINK_DEAD;
            asked = true;
            wait = SECTOR_CALL_S;
            continue;
        }
        if (marker.byte != WORKING_NOTICE) return receive_block_marked(marker.byte, status, t->plan.batch_sectors);
        if (t->packed) {  // at each side it begins
            ++t->fast.sides_heard;
            show_fast_progress(t, fast_sectors_done(t));
        }
        asked = true;
        wait = SECTOR_CALL_S;
    }
}

BlockFault receive_status_told(Transfer* t, int first)
{
    return receive_status(t, first, true);
}

// Every sector of the batch failed: that is also what a status block
// damaged on the line looks like, or the batch of a drive whose flags byte
// was damaged (40 tracks read as 80).  Asks the Einstein for its drive
// flags and the status block again and takes what it says now.
static BlockFault report_again(Transfer* t, int first)
{
    if (!send_byte(REPORT_COMMAND)) return BLOCK_LINK_DEAD;
    Received flags = receive_within(link_answer_s(1));
    if (!flags.got) return flags.failed ? BLOCK_LINK_DEAD : BLOCK_NO_ANSWER;
    BlockFault fault = exchange_block(&t->status[static_cast<std::size_t>(first)], t->plan.batch_sectors, nullptr,
                                      TRANSFER_RECEIVE);
    if (fault != BLOCK_OK) return fault;
    // The drive is smaller than the first flags byte said: the batches
    // past its end were never meant to be written.
    take_flags(t, flags.byte);
    return BLOCK_OK;
}

// How many of the batch's sectors have a status that says `which`.
template <typename Which>
static int sectors_that(const Transfer* t, int first, Which which)
{
    int count = 0;
    for (int k = 0; k < t->plan.batch_sectors; ++k) count += which(t->status[static_cast<std::size_t>(first + k)]);
    return count;
}

// -verify: the CRC-16 of each sector of the batch, high byte first.
static BlockFault send_batch_crcs(const Transfer* t)
{
    WireBytes crcs = sector_crcs(t->batch.sectors.data(), BATCH_SECTORS);
    return exchange_block(crcs.data(), static_cast<int>(crcs.size()), nullptr, TRANSFER_SEND);
}

// -fast: the Einstein's answer to the batch byte, or to a follow: how many
// of the batch's blocks it has taken (-1 when the answer came damaged).
// No answer within `wait` (the stream still going out meanwhile) is a
// fault.  The count may be more than went out since the batch byte: the
// Einstein also takes a stream of the batch that came before a resume.
struct Taken {
    BlockFault fault;
    int count;
};
static Taken streamed_taken(Transfer* t, double wait)
{
    Received count = recv_streaming(t, wait);
    Received check = count.got ? receive_within(link_answer_s(1)) : count;
    if (!check.got) return {check.failed ? BLOCK_LINK_DEAD : BLOCK_NO_ANSWER, -1};
    return {BLOCK_OK, checked_value(count.byte, check.byte, t->plan.batch_sectors).value_or(-1)};
}

// -fast: the batch's rest after the batch byte's answer, as streams from
// the first block not known taken, up to FOLLOW_STREAMS of them while
// blocks are due (the Einstein counts them as we do: a follow costs it no
// turnaround a block).  A damaged answer is followed by no stream: an
// Einstein that has the whole batch is at work, one that has not answers
// again once the line has been quiet (a follow it waited for in vain).
// `start`: the first block not known taken, the batch's size when the
// Einstein has them all.
struct Follows {
    BlockFault fault;
    int start;
};
static Follows send_follows(Transfer* t, int first, Taken taken)
{
    int start = 0;
    BlockFault fault = BLOCK_OK;
    for (int follows_left = FOLLOW_STREAMS; fault == BLOCK_OK;) {
        if (taken.count >= 0) {
            fit_stream_room(&t->stream, first, taken.count);
            start = std::max(start, taken.count);
        }
        if (start >= t->plan.batch_sectors || follows_left == 0) break;
        --follows_left;
        if (taken.count < 0) {
            // Silence, a grant, or the notice an Einstein at work sends
            // at each track side: it works on the whole batch (what it
            // grants meanwhile is kept).  Else a count again, with its
            // complement.
            Received count = receive_within(FOLLOW_MISSED_S);
            Received check = count.got && !take_grant(&t->stream, count.byte) && count.byte != WORKING_NOTICE
                                 ? receive_within(link_answer_s(1))
                                 : Received{false, count.failed, 0};
            if (!check.got || take_grant(&t->stream, check.byte))
                start = t->plan.batch_sectors;
            else
                taken.count = checked_value(count.byte, check.byte, t->plan.batch_sectors).value_or(taken.count);
            if (check.failed) fault = BLOCK_LINK_DEAD;
            continue;
        }
        link_console().progress(sector_label(t, first + start).c_str());
        build_stream(&t->stream, t->plan, &t->cursor, &t->batch, start, &t->packing);
        t->stream.granted_only = false;  // it is taken as it comes
        taken = streamed_taken(t, STREAM_TAKE_S);
        fault = taken.fault;
        end_stream(&t->stream);
    }
    t->stream.streamed_first = -1;
    return {fault, start};
}

BatchResult send_batch(Transfer* t, int first)
{
    const TransferPlan& plan = t->plan;
    t->plan.geometry_sent = true;
    // A compressed batch names where it begins: the batches may go in
    // another order than the drive's (lead_batch).
    const std::uint8_t place[] = {static_cast<std::uint8_t>(first / plan.sectors_per_cylinder),
                                  static_cast<std::uint8_t>(first % plan.sectors_per_cylinder)};
    if (t->packed ? !send_checked_command(PACKED_BATCH, place, sizeof place)
                  : !send_byte(t->verify ? VERIFY_BATCH : BATCH_BYTE))
        return {BLOCK_LINK_DEAD, false};
    t->stream.granted = 0;  // the next batch's stream goes as this batch's work grants it
    t->fast.sides_heard = 0;
    int start = 0;
    if (t->packed) {
        Taken taken = streamed_taken(t, STREAM_TAKE_S);
        if (taken.fault != BLOCK_OK) return {taken.fault, false};
        Follows follows = send_follows(t, first, taken);
        if (follows.fault != BLOCK_OK) return {follows.fault, false};
        start = follows.start;
    }
    for (int k = start > 0 ? start - 1 : 0; k < plan.batch_sectors; ++k) {
        BatchSector sector = batch_sector(plan, &t->cursor, &t->batch, k);
        std::string label = sector_label(t, first + k);
        if (k < start) {  // the last block the stream brought: its label alone
            link_console().progress(label.c_str());
            continue;
        }
        BlockFault fault;
        if (t->packed) {
            WireBytes block = packed_block(pack_sector(t->batch.sectors, k));
            if (sector.first_time) {
                t->packing.sector_bytes += SECTOR_SIZE;
                t->packing.packed_bytes += block.size();
            }
            fault = exchange_block(block.data(), static_cast<int>(block.size()), label.c_str(), TRANSFER_SEND_UNMARKED);
        } else {
            fault = exchange_block(sector.data, SECTOR_SIZE, label.c_str(), TRANSFER_SEND);
        }
        if (fault != BLOCK_OK) return {fault, false};
    }
    if (t->verify && !t->packed) {
        BlockFault fault = send_batch_crcs(t);
        if (fault != BLOCK_OK) return {fault, false};
    }
    if (t->packed) {
        if (t->next.first != t->following) {
            t->next.first = t->following;
            t->next.fetched = 0;
        }
        build_stream(&t->stream, plan, &t->cursor, &t->next, 0, &t->packing);
        t->stream.granted_only = true;
    }
    BlockFault fault = receive_status(t, first, false);
    if (t->stream.sent < t->stream.bytes.size()) t->stream.streamed_first = -1;  // it did not all go out
    end_stream(&t->stream);
    if (fault != BLOCK_OK) return {fault, true};
    if (sectors_that(t, first, sector_written) == 0) {
        fault = report_again(t, first);
        if (fault != BLOCK_OK) return {fault, false};
    }
    if (t->verify && t->mismatch_resends < LINK_MISMATCH_RESENDS &&
        sectors_that(t, first, [](std::uint8_t s) { return s == STATUS_VERIFY_MISMATCH; }) > 0) {
        ++t->mismatch_resends;
        return {BLOCK_VERIFY_MISMATCH, false};
    }
    return {BLOCK_OK, false};
}
