// disk_read.cpp - reading the Einstein's disk, PC side.
#include "link/disk_read.h"

#include <cstdio>

#include "link/block_transfer.h"
#include "link/fast_line.h"
#include "link/link_limits.h"
#include "link/recovery.h"
#include "link/serial_port.h"
#include "link/wire_protocol.h"
#include "report/halt_report.h"


static const int LABEL_SIZE = 80;

enum Start { STARTED, CANNOT_READ, NO_ANSWER };

// Has the Einstein read from sector n on and takes its drive status and
// flags.  The first time (an empty `disk`) they give the geometry; later
// they must agree with it.
static Start start_reading(DiskRead* disk, int n, bool* heard)
{
    int spc = disk->sides * SECTORS_PER_SIDE;
    const std::uint8_t where[] = {static_cast<std::uint8_t>(n / spc), static_cast<std::uint8_t>(n % spc)};
    if (!send_checked_command(READ_COMMAND, where, sizeof where)) return NO_ANSWER;
    std::uint8_t status = 0, flags = 0;
    if (!recv_byte_within(&status, FORMAT_CHECK_S)) return NO_ANSWER;
    *heard = true;
    if (status == TIMEOUT_NOTICE) return NO_ANSWER;
    if (status != 0) {
        std::printf("\n");
        halt_report("The drive cannot be read: %s", sector_failure_text(status), HALT_EINSTEIN);
        return CANNOT_READ;
    }
    if (!recv_byte_within(&flags, link_answer_s(1))) return NO_ANSWER;
    int tracks = (flags & DRIVE_80_TRACKS) ? 80 : 40, sides = (flags & DRIVE_TWO_SIDES) ? 2 : 1;
    if (disk->sectors.empty()) {
        disk->tracks = tracks;
        disk->sides = sides;
        disk->sectors.resize(static_cast<std::size_t>(tracks * sides * SECTORS_PER_SIDE));
    } else if (tracks != disk->tracks || sides != disk->sides) {
        return NO_ANSWER;  // a flags byte damaged on the line
    }
    return STARTED;
}

// One sector: its position, its status byte, then the block.  A position
// other than n is a stream out of step (a block the Einstein sent again
// after the PC's answer was damaged on the line): the read goes on from n.
static bool read_sector(DiskRead* disk, int n)
{
    int spc = disk->sides * SECTORS_PER_SIDE;
    ReadSector* sector = &disk->sectors[static_cast<std::size_t>(n)];
    std::uint8_t track = 0, index = 0;
    if (!recv_byte_within(&track, link_limits_detail::MONITOR_TRIES * link_limits_detail::NOT_FOUND_S * 1.2)) {
        block_fault = serial_port.failed ? BLOCK_LINK_DEAD : BLOCK_NO_ANSWER;
        return false;
    }
    if (track == TIMEOUT_NOTICE && n / spc != TIMEOUT_NOTICE) {
        block_fault = BLOCK_EINSTEIN_TIMED_OUT;
        return false;
    }
    if (!recv_byte_within(&index, link_answer_s(1)) || !recv_byte_within(&sector->status, link_answer_s(1))) {
        block_fault = serial_port.failed ? BLOCK_LINK_DEAD : BLOCK_NO_ANSWER;
        return false;
    }
    if (track != n / spc || index != n % spc) {
        block_fault = BLOCK_LOST_STEP;
        return false;
    }
    char label[LABEL_SIZE];
    std::snprintf(label, sizeof label, "READ 0: Track %02d Sector %02d", n / spc, n % spc);
    return transfer_block(sector->data, SECTOR_SIZE, label, TRANSFER_RECEIVE) == 1;
}

static const RecoveryTexts READ_RECOVERY = {
    "reading on from",
    "Serial link to the Einstein lost (at track %s)",
    "The Einstein stopped answering at track %s. It may have been reset or switched off, or it shows TIMEOUT. "
    "Check it and the cable, then read again (with -notrans when it shows \"[ Waiting to proceed\")",
    nullptr,
};

int read_disk(DiskRead* disk)
{
    disk->sectors.clear();
    disk->tracks = 0;
    disk->sides = 1;
    if (!send_stage_two()) return 0;  // the read is the second stage's
    RecoveryState state{};
    bool heard = false;
    Start start = start_reading(disk, 0, &heard);
    int n = 0;
    for (;;) {
        if (start == CANNOT_READ) return 0;
        if (start == STARTED) {
            while (n < static_cast<int>(disk->sectors.size()) && read_sector(disk, n)) {
                ++n;
                state = RecoveryState{};
            }
            if (!disk->sectors.empty() && n == static_cast<int>(disk->sectors.size())) return 1;
        } else {
            block_fault = BLOCK_NO_ANSWER;
        }
        // A fault on the line: back to the command loop, and on from sector n.
        int spc = disk->sides * SECTORS_PER_SIDE;
        auto restart = [&](int, BlockFault fault, bool* restart_heard) {
            if (!wait_for_command_loop(fault == BLOCK_EINSTEIN_TIMED_OUT, restart_heard)) return NOT_TAKEN;
            start = start_reading(disk, n, restart_heard);
            return start == STARTED ? RESTARTED : start == CANNOT_READ ? RESTART_FATAL : NOT_TAKEN;
        };
        bool done_after_all = false;
        if (!recover_at(&state, block_fault, heard, n / spc, n % spc, READ_RECOVERY, restart, &done_after_all))
            return 0;
        heard = true;  // the Einstein took up the read again
    }
}
