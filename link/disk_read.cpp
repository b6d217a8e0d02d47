// disk_read.cpp - reading the Einstein's disk, PC side.
#include "link/disk_read.h"

#include <cstdio>

#include "link/block_transfer.h"
#include "link/fast_line.h"
#include "link/link_console.h"
#include "link/link_limits.h"
#include "link/recovery.h"
#include "link/serial_port.h"
#include "link/wire_forms.h"
#include "link/wire_protocol.h"
#include "report/halt_report.h"


static const int LABEL_SIZE = 80;

enum Start { STARTED, CANNOT_READ, NO_ANSWER };

// Has the Einstein read from sector n on and takes its drive status and
// flags.  The first time (an empty `disk`) they give the geometry; later
// they must agree with it.  `heard`: the Einstein answered at all.
struct Started {
    Start start;
    bool heard;
};
static Started start_reading(DiskRead* disk, int n)
{
    int spc = disk->sides * SECTORS_PER_SIDE;
    const std::uint8_t where[] = {static_cast<std::uint8_t>(n / spc), static_cast<std::uint8_t>(n % spc)};
    if (!send_checked_command(READ_COMMAND, where, sizeof where)) return {NO_ANSWER, false};
    std::uint8_t status = 0, flags = 0;
    if (!recv_byte_within(&status, FORMAT_CHECK_S)) return {NO_ANSWER, false};
    if (status == TIMEOUT_NOTICE) return {NO_ANSWER, true};
    if (status != 0) {
        link_console().progress_ends();
        halt_report("The drive cannot be read: %s", sector_failure_text(status), HALT_EINSTEIN);
        return {CANNOT_READ, true};
    }
    if (!recv_byte_within(&flags, link_answer_s(1))) return {NO_ANSWER, true};
    int tracks = (flags & DRIVE_80_TRACKS) ? 80 : 40, sides = (flags & DRIVE_TWO_SIDES) ? 2 : 1;
    if (disk->sectors.empty()) {
        disk->tracks = tracks;
        disk->sides = sides;
        disk->sectors.resize(static_cast<std::size_t>(tracks * sides * SECTORS_PER_SIDE));
    } else if (tracks != disk->tracks || sides != disk->sides) {
        return {NO_ANSWER, true};  // a flags byte damaged on the line
    }
    return {STARTED, true};
}

// One record of the sector n in hand: BLOCK_OK once it came whole and was
// taken.  A record of the sector before (the Einstein did not hear the PC
// take it) is taken again and skipped; one of another position means the
// stream is out of step.  Every wait for a record covers one of the
// monitor's sector calls at its worst.
static BlockFault read_sector(DiskRead* disk, int n)
{
    int spc = disk->sides * SECTORS_PER_SIDE;
    char label[LABEL_SIZE];
    std::snprintf(label, sizeof label, "READ 0: Track %02d Sector %02d", n / spc, n % spc);
    for (int pass = 0; pass < LINK_MAX_PASSES; ++pass) {
        std::uint8_t head[5];  // track, sector, status, CRC high and low
        if (!recv_byte_within(&head[0], SECTOR_CALL_S)) return silence_fault();
        if (head[0] == TIMEOUT_NOTICE) return BLOCK_EINSTEIN_TIMED_OUT;  // never a track
        for (int i = 1; i < 5; ++i)
            if (!recv_byte_within(&head[i], link_answer_s(1))) return silence_fault();
        RecordHead record = record_head(head);
        bool this_one = record.track == n / spc && record.sector == n % spc;
        bool one_before = n > 0 && record.track == (n - 1) / spc && record.sector == (n - 1) % spc;
        if (!this_one && !one_before) return BLOCK_LOST_STEP;
        ReadSector got{};
        got.status = record.status;
        BlockFault fault = exchange_block(got.data, SECTOR_SIZE, this_one ? label : nullptr, TRANSFER_RECEIVE);
        if (fault != BLOCK_OK) return fault;
        bool whole = record_crc(got.data, record.track, record.sector, got.status) == record.crc;
        if (!send_byte(whole ? SECTOR_TAKEN : ANSWER_AGAIN)) return BLOCK_LINK_DEAD;
        if (whole && this_one) {
            disk->sectors[static_cast<std::size_t>(n)] = got;
            return BLOCK_OK;
        }
    }
    return BLOCK_TOO_MANY_PASSES;
}

static const RecoveryTexts READ_RECOVERY = {
    "reading on from",
    "Serial link to the Einstein lost (at track %s)",
    "The Einstein stopped answering at track %s. It may have been reset or switched off, or it shows TIMEOUT. "
    "Check it and the cable, then read again (with -notrans when it shows \"[ Waiting to proceed\")",
    nullptr,
    "The read at track %s did not get across after five tries: the Einstein answered each time, but bytes were "
    "lost on the line. That is most often an adapter that goes on sending when the Einstein drops RTS (its CTS), "
    "a TTL-level adapter, or a cable without RTS and CTS: check them (the README's cable section), then read again "
    "(with -notrans when the Einstein shows \"[ Waiting to proceed\")",
};

int read_disk(DiskRead* disk, ProgramState* program)
{
    disk->sectors.clear();
    disk->tracks = 0;
    disk->sides = 1;
    bool sending = !program->stage_two_whole;
    if (!send_stage_two(program, true)) return 0;  // the read is the second stage's
    if (sending) wait_for_quiet_line();
    RecoveryState state{};
    Started first = start_reading(disk, 0);
    Start start = first.start;
    bool heard = first.heard;
    int n = 0;
    for (;;) {
        if (start == CANNOT_READ) return 0;
        BlockFault fault = BLOCK_NO_ANSWER;
        if (start == STARTED) {
            while (n < static_cast<int>(disk->sectors.size()) && (fault = read_sector(disk, n)) == BLOCK_OK) {
                ++n;
                state = RecoveryState{};
            }
            if (!disk->sectors.empty() && n == static_cast<int>(disk->sectors.size())) return 1;
        }
        // A fault on the line: back to the command loop, and on from sector n.
        int spc = disk->sides * SECTORS_PER_SIDE;
        auto restart = [&](int, BlockFault why) {
            CommandLoopWait wait = wait_for_command_loop(why == BLOCK_EINSTEIN_TIMED_OUT);
            if (!wait.back) return RestartAnswer{NOT_TAKEN, wait.heard};
            Started again = start_reading(disk, n);
            start = again.start;
            return RestartAnswer{start == STARTED ? RESTARTED : start == CANNOT_READ ? RESTART_FATAL : NOT_TAKEN,
                                 wait.heard || again.heard};
        };
        if (recover_at(&state, fault, heard, n / spc, n % spc, READ_RECOVERY, restart) == RECOVERY_HALTED)
            return 0;
        heard = true;  // the Einstein took up the read again
    }
}
