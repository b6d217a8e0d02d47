// link_limits.h - how long TOBRIN waits for the Einstein, in one place.
//
// Every wait for a byte from the Einstein is bounded.  The bounds come from
// the target program's own counts (its poll limit, the format's delays, the
// batch it writes), from the WD1770's timing and from the monitor's
// retries, each with a margin for a USB adapter's latency and buffer and
// for a slow monitor.  Waiting for the user at a prompt stays unlimited.
// The README's design notes list the figures.
#pragma once
#include <algorithm>
#include <cstdint>

#include "target/target_program.h"

namespace link_limits_detail {
namespace counts = target_program_image_labels;
constexpr double CPU_HZ = 4000000.0;
constexpr double REVOLUTION_S = 0.2;       // 300 rpm
constexpr double SLOWEST_STEP_S = 0.030;   // the WD1770's slowest step rate
constexpr double SPIN_UP_S = 6 * REVOLUTION_S;
constexpr double MONITOR_TRIES = 10;       // the monitor's tries for a sector
constexpr double NOT_FOUND_S = 5 * REVOLUTION_S;  // one try that finds no sector
constexpr double MONITOR_STEP_S = 0.012;   // the monitor's step rate
constexpr double MONITOR_SETTLE_S = 0.0283;// its wait after a seek or a restore
constexpr double MAX_TRACKS = 80;
// A restore from the last track and a seek back to it, as the monitor
// makes them: the steps, the restore's verify (a turn) and its wait for an
// index pulse (a turn), the settle after each.
constexpr double RESTORE_AND_SEEK_S =
    2 * MAX_TRACKS * MONITOR_STEP_S + 2 * REVOLUTION_S + 2 * MONITOR_SETTLE_S;
}  // namespace link_limits_detail

// One of the monitor's sector calls at its worst (a bad sector): a spin-up
// and a restore first when the motor had stopped, then ten tries that find
// no sector, each after the first behind a restore and a seek back; a
// quarter more for a slow drive.  About 45 s.
constexpr double SECTOR_CALL_S =
    (link_limits_detail::SPIN_UP_S + link_limits_detail::RESTORE_AND_SEEK_S +
     link_limits_detail::MONITOR_TRIES * (link_limits_detail::NOT_FOUND_S + link_limits_detail::RESTORE_AND_SEEK_S)) *
    1.25;

// One byte on the line: 11 bits at 9600 baud.
constexpr double LINK_BYTE_S = 11.0 / 9600.0;

// The Einstein's poll limit: get_byte and put_byte give up after this long
// without a byte (POLL_ROUNDS x 65,536 polls of POLL_TSTATES): 6.8 s.
constexpr double EINSTEIN_POLL_LIMIT_S = link_limits_detail::counts::POLL_ROUNDS * 65536.0 *
                                         link_limits_detail::counts::POLL_TSTATES / link_limits_detail::CPU_HZ;

// Slack on top of the line time of every answer: a USB adapter's latency
// and the bytes it still holds (a few hundred, 0.3 s), the Einstein's turn.
constexpr double LINK_ANSWER_SLACK_S = 0.5;

// How long a byte may take to leave the port before the link counts as
// stalled: the Einstein holds CTS off only while it prints or works.
constexpr double LINK_WRITE_LIMIT_S = 10.0;

// The Einstein's answer to `bytes` the PC has just written: their line time
// and the slack.
constexpr double link_answer_s(int bytes)
{
    return bytes * LINK_BYTE_S * 1.25 + LINK_ANSWER_SLACK_S;
}

// Lost bytes in a block: the PC sends pad bytes one at a time, each given
// this long (its line time both ways and the slack) to bring the
// Einstein's checksum, and at most this many.
constexpr double LINK_PAD_WAIT_S = 2 * LINK_BYTE_S + 0.3;
constexpr int LINK_MAX_PADS = 4;
constexpr std::uint8_t LINK_PAD_BYTE = 0x00;  // never a command

// Passes of one block whose checksums disagree before the exchange counts
// as lost step (a noisy line at one bit error in 10,000 still gets a
// 515-byte block through in 8 passes, 99.97 % of the time).
constexpr int LINK_MAX_PASSES = 8;

// Silence that brings the Einstein back to its command loop: its poll
// limit, a quarter more, and time to print its TIMEOUT lines.
constexpr double LINK_QUIET_S = EINSTEIN_POLL_LIMIT_S * 1.25 + 0.5;
// The longest the line may go on talking before it falls quiet.
constexpr double LINK_QUIET_LIMIT_S = 60.0;
// The resume command's acknowledgement: 7 bytes and the slack.
constexpr double LINK_RESUME_ANSWER_S = link_answer_s(7) + 0.5;
// Recoveries of one batch before the run gives up.
constexpr int LINK_MAX_RECOVERIES = 5;
// -verify: a batch in which a sector still read back different after the
// Einstein's rewrites is sent again this many times (one of its
// recoveries each).  The Einstein rewrote it from its own buffer, so a
// block the line damaged in a way its checksum let through (or a fill
// value, which has none) stays wrong until the PC sends it again; a disk
// that keeps storing something else is named as a verify mismatch after.
constexpr int LINK_MISMATCH_RESENDS = 2;

// The program block through the loader: 2048 bytes of line time and more.
constexpr double PROGRAM_SEND_S = 2048 * LINK_BYTE_S * 1.5 + 2.0;
// A command goes no earlier than this after the port opened or the
// program's last byte left: the program has started (banner and waiting
// line on the screen), and the Einstein takes a command only after
// QUIET_POLLS of silence (53 ms).
constexpr double COMMAND_QUIET_S = 0.3;
// The same after the Einstein's answer to a command, with the line quiet
// since: its command loop prints its waiting line (21 characters, 35 ms
// on the MOS 1.2), then needs QUIET_POLLS of silence (53 ms).
constexpr double COMMAND_AFTER_ANSWER_S = 0.15;

// The format: the first status byte comes after two drive checks (each a
// spin-up, a restore over 80 tracks at the slowest step, a verify of five
// revolutions); the second after every track of an 80-track two-sided drive
// (a step, the settle delay, two revolutions a side), at most one seek that
// runs into wait_idle's limit (the format ends there), and the MOS's print.
constexpr double FORMAT_CHECK_S =
    2 * (link_limits_detail::SPIN_UP_S + 80 * link_limits_detail::SLOWEST_STEP_S +
         5 * link_limits_detail::REVOLUTION_S) * 1.5 + 1.0;
constexpr double FORMAT_S =
    (link_limits_detail::SPIN_UP_S +
     link_limits_detail::counts::TRACKS_80 *
         (link_limits_detail::SLOWEST_STEP_S + link_limits_detail::counts::SETTLE_COUNT * 26.0 / link_limits_detail::CPU_HZ +
          2 * 2 * link_limits_detail::REVOLUTION_S + 0.05) +
     link_limits_detail::counts::WAIT_ROUNDS * 65536.0 * 50.0 / link_limits_detail::CPU_HZ) * 1.25 + 5.0;

// A batch's status block: the Einstein writes its 80 sectors first, eight
// track sides.  On a healthy disk a side takes the search for the head (a
// step, the settle, a Read Address), the progress line and a turn for the
// writes - with -verify a turn more for the read back and its checks
// (83 ms) - and the batch at most a spin-up and a restore across the disk
// when the motor had stopped; TOBRIN waits twice that.  A batch that takes
// longer is a bad area (the monitor tries each bad sector ten times,
// restoring between the tries: SECTOR_CALL_S) or an Einstein that is gone:
// TOBRIN asks whether it still works (WORK_QUESTION), and from then on the
// Einstein tells after each sector call; TOBRIN waits as long as it works,
// and no longer than SECTOR_CALL_S without a word.
namespace link_limits_detail {
constexpr double BATCH_SIDES = counts::BATCH_SECTORS / 10.0;
constexpr double SIDE_SEARCH_S = 0.030 + MONITOR_SETTLE_S + 2 * REVOLUTION_S / 10 + 0.060;
constexpr double MOTOR_RESTART_S = SPIN_UP_S + RESTORE_AND_SEEK_S;
}  // namespace link_limits_detail
constexpr double BATCH_WRITE_HEALTHY_S =
    (link_limits_detail::BATCH_SIDES * (link_limits_detail::SIDE_SEARCH_S + link_limits_detail::REVOLUTION_S) +
     link_limits_detail::MOTOR_RESTART_S) * 2;
constexpr double BATCH_VERIFY_HEALTHY_S =
    BATCH_WRITE_HEALTHY_S + link_limits_detail::BATCH_SIDES * (link_limits_detail::REVOLUTION_S + 0.083) * 2;
// A compressed batch (-fast) formats each side as it writes it: a Write
// Track, which waits for the index pulse, for the side and - on a
// two-sided drive that takes a one-sided image - one for its blank other
// side: four turns a side more.
constexpr double BATCH_LAID_HEALTHY_S =
    BATCH_VERIFY_HEALTHY_S + link_limits_detail::BATCH_SIDES * 4 * link_limits_detail::REVOLUTION_S * 2;
// -fast: the Einstein's answer to a compressed batch's first byte, after
// it took the blocks streamed ahead (target/packed.asm, stream_take): the
// CRC-16 of every byte of the stream (89 T a byte), the expansion of at
// most every sector of the batch (a copy of 512 bytes and its runs, under
// 20,000 T) and the CRC-16 of each (33,000 T), and the answer's two bytes;
// twice that.
constexpr double STREAM_TAKE_S =
    (std::max(link_limits_detail::counts::STREAM_MAX, link_limits_detail::counts::STREAM_MAX_WIDE) * 89.0 +
     link_limits_detail::counts::BATCH_SECTORS * 53000.0) /
        link_limits_detail::CPU_HZ * 2 +
    link_answer_s(2);
// -fast: an answer to a compressed batch byte or a follow that came
// damaged is not followed by a stream; an Einstein with blocks still due
// answers again once the line has been quiet 65,536 polls (0.85 s: a
// follow that did not come), one with the whole batch is at work and says
// nothing.  The wait for that second answer, a quarter more and its line
// time.
constexpr double FOLLOW_MISSED_S =
    65536.0 * link_limits_detail::counts::POLL_TSTATES / link_limits_detail::CPU_HZ * 1.25 + link_answer_s(2);
