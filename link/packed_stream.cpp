// packed_stream.cpp - packed blocks and their streams, PC side.
#include "link/packed_stream.h"

#include <algorithm>
#include <cstdint>

PackedStream stream_with_room(int most)
{
    PackedStream stream{};
    stream.streamed_first = -1;
    stream.room = stream.most = most;
    return stream;
}

bool take_grant(PackedStream* stream, std::uint8_t byte)
{
    if (byte < GRANT_UNITS) return false;
    if (byte == GRANT_REST) stream->granted = SIZE_MAX;
    else if (stream->granted != SIZE_MAX) stream->granted += static_cast<std::size_t>(byte - GRANT_UNITS) * GRANT_UNIT;
    return true;
}

void fit_stream_room(PackedStream* stream, int first, int taken)
{
    if (stream->streamed_first != first) return;
    if (taken < stream->streamed_blocks) stream->room = std::max(stream->room / 2, STREAM_ROOM_LEAST);
    else stream->room = std::min(stream->room * 2, stream->most);
}

void build_stream(PackedStream* stream, const TransferPlan& plan, ImageCursor* cursor, SectorBatch* batch, int from,
                  PackStats* stats)
{
    const int next = batch->first;
    stream->bytes.assign(STREAM_HEADER, 0);
    stream->sent = 0;
    stream->streamed_first = next;
    stream->streamed_blocks = from;
    if (next < plan.total) {
        for (int k = from; k < plan.batch_sectors; ++k) {
            bool first_time = batch_sector(plan, cursor, batch, k).first_time;
            WireBytes block = packed_block(pack_sector(batch->sectors, k));
            if (first_time) {
                stats->sector_bytes += SECTOR_SIZE;
                stats->packed_bytes += block.size();
            }
            if (stream->bytes.size() + block.size() > static_cast<std::size_t>(stream->room)) break;
            stream->bytes.insert(stream->bytes.end(), block.begin(), block.end());
            ++stream->streamed_blocks;
        }
    }
    auto header = stream_header(stream->bytes.size() - STREAM_HEADER, next / plan.sectors_per_cylinder,
                                next % plan.sectors_per_cylinder);
    std::copy(header.begin(), header.end(), stream->bytes.begin());
}

void end_stream(PackedStream* stream)
{
    stream->bytes.clear();
    stream->sent = 0;
}
