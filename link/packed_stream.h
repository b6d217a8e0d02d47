// packed_stream.h - -fast's compressed sectors on the line: the stream of
// packed blocks (link/wire_forms.h) that goes out while the Einstein
// works, and the grants that meter it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/transfer_plan.h"
#include "link/wire_forms.h"

// The bytes of sectors sent and of the blocks they went as (each once).
struct PackStats {
    std::uint64_t sector_bytes;
    std::uint64_t packed_bytes;
};

// The stream going out, and what the next may hold.
struct PackedStream {
    std::vector<std::uint8_t> bytes;  // the stream going out meanwhile ...
    std::size_t sent;                 // ... the bytes of it written so far ...
    bool granted_only;                // ... which go only as the Einstein grants them (the
                                      // next batch's, while it works), or at once (a follow)
    std::size_t granted;              // bytes of the next batch's stream the Einstein granted
    int streamed_first;               // the batch (first sector) whose first blocks ...
    int streamed_blocks;              // ... went out whole in the last stream
    int room;                         // the most the next stream may hold (bytes) ...
    int most;                         // ... and the Einstein's room for one
};

// A stream holds two blocks at least.
constexpr int STREAM_ROOM_LEAST = 1024;

// An empty stream with the Einstein's room for one.
PackedStream stream_with_room(int most);
// A byte from the Einstein while it works on a batch that grants more of
// the next batch's stream (target/grant.asm) is added to what it granted;
// true when `byte` was one.
bool take_grant(PackedStream* stream, std::uint8_t byte);
// A stream is taken up to the first block the line damaged, and what came
// after it went for nothing: after a stream of the batch at `first` cut
// short (`taken` blocks) the next one is half as long, after a whole one
// twice as long (up to the room), so that a noisy line spends little on
// streams and a clean one fills them.
void fit_stream_room(PackedStream* stream, int first, int taken);
// Builds the stream of the batch from sector `next`: its header and as
// many blocks as the stream's room takes, from block `from` on, the
// batch's sectors fetched as they are needed; only the header when no
// batch follows (`next` at the plan's total).
void build_stream(PackedStream* stream, const TransferPlan& plan, ImageCursor* cursor, SectorBatch* batch, int from,
                  PackStats* stats);
// The stream is done with: nothing more of it goes.
void end_stream(PackedStream* stream);
