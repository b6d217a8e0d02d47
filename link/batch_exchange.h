// batch_exchange.h - one batch of the image write on the line, and the
// way back after a fault (the exchanges are in docs/protocol.md).
//
// Recovery: when a batch does not get across (the Einstein stopped
// answering, timed out, or the exchange lost step), TOBRIN falls silent
// until the Einstein is back in its command loop, has it resume writing at
// the batch's first sector ("W" with the position, acknowledged with "W"
// and the drive flags) and sends the batch again from the copy it kept.
// A batch that takes long to write is a bad area, not a fault: TOBRIN asks
// whether the Einstein still works and waits as long as it says so.
// Nothing of this happens, and no byte of it goes on the line, in a run
// without faults.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "link/block_transfer.h"
#include "link/fast_line.h"
#include "link/packed_stream.h"
#include "link/recovery.h"
#include "link/transfer_plan.h"

// -fast's progress: the sectors written, as the Einstein tells of its work.
struct FastProgress {
    int sectors_before;   // sectors of the batches that went before this one
    int sides_heard;      // the Einstein's notices since the batch byte (one at each side it begins)
    int sectors_shown;    // the most sectors the progress line has shown written
    std::chrono::steady_clock::time_point started;  // when the first batch began
};

// One image write: what goes, where it stands, and what it came to.
struct Transfer {
    TransferPlan plan;
    ImageCursor cursor;
    SectorBatch batch;           // the batch being sent
    SectorBatch next;            // -fast: the next, fetched ahead: its first blocks stream while this one is written
    PackedStream stream;         // -fast
    PackStats packing;           // -fast
    FastProgress fast;           // -fast
    int label_width;             // the longest progress label written so far
    int following;               // the first sector of the batch after this one (plan.total: none)
    bool verify;                 // every sector is read back on the Einstein
    bool packed;                 // the sectors go compressed (-fast)
    ProgramState* program;       // the second stage: verified and compressed batches are its
    int mismatch_resends;        // times the batch went again for a verify mismatch
    std::vector<std::uint8_t> status;  // one status byte per sector sent
    int recoveries;              // recoveries in the whole transfer ...
    double recovery_seconds;     // ... and the time they took
};

// What one try at a batch came to.
struct BatchResult {
    BlockFault fault;         // BLOCK_OK: across, its status block in
    bool waited_for_status;   // the batch went out whole, only its status block did not come
};
// Sends the batch from sector `first` and takes its status block.
BatchResult send_batch(Transfer* t, int first);

// The status block of the batch from `first` whose work the Einstein is
// still at, telling after each sector call (the resume's answer, or a
// late status block, said so).
BlockFault receive_status_told(Transfer* t, int first);

// Recovers from `fault` at the batch from `first`: the Einstein resumes at
// its first sector, or - the first time the PC gave up waiting for the
// status block - its late status block completes the batch
// (RECOVERY_DONE_AFTER_ALL).
RecoveryEnd recover_batch(Transfer* t, int first, BlockFault fault, RecoveryState* state, bool waited_for_status);

// Takes the drive flags: the image fitted to the drive (what is left out
// is told), the status table grown to the sectors to send.
void take_flags(Transfer* t, std::uint8_t flags);

// Written (and, with -verify, shown right, at once or after rewrites)?
bool sector_written(std::uint8_t status);
// -fast: the sectors written so far - the batches done, and the track
// sides of the one at work that the Einstein has gone past.  A resumed
// batch's sectors were written all the same: the count never falls.
int fast_sectors_done(Transfer* t);
// -fast: the progress line again as the Einstein's work goes on, with
// `done` sectors written.
void show_fast_progress(Transfer* t, int done);
