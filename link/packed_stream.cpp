// packed_stream.cpp - packed blocks and their streams, PC side.
#include "link/packed_stream.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "image/dsk_codec.h"
#include "link/sector_lz.h"

static_assert(BLANK_BYTE == target_program_image_labels::BLANK_BYTE, "the filler the Einstein lays down");

std::vector<std::uint8_t> packed_block(const std::vector<std::uint8_t>& batch, int k)
{
    const std::size_t offset = static_cast<std::size_t>(k) * SECTOR_SIZE;
    const std::uint8_t* sector = &batch[offset];
    bool filler = std::memcmp(sector, blank_sector(), SECTOR_SIZE) == 0;
    bool layable = std::none_of(sector, sector + SECTOR_SIZE, [](std::uint8_t b) { return b >= 0xF5 && b <= 0xF7; });
    std::vector<std::uint8_t> form;
    if (!filler) form = lz_compress_sector(batch.data(), offset);
    std::uint8_t number = static_cast<std::uint8_t>(k | (filler ? FILLER_FLAG : 0));
    std::uint16_t crc = dsk::crc16(sector, SECTOR_SIZE);
    std::size_t length = (filler ? 1 : PACKED_HEADER - 3 + form.size()) + PACKED_TRAILER;
    std::uint8_t low = static_cast<std::uint8_t>(length & 0xFF);
    std::uint8_t high = static_cast<std::uint8_t>((length >> 8) | (layable ? LAYABLE_FLAG : 0));
    std::vector<std::uint8_t> block = {low, high, static_cast<std::uint8_t>(0xFF - low - high), number};
    if (!filler) {
        block.push_back(static_cast<std::uint8_t>(crc >> 8));
        block.push_back(static_cast<std::uint8_t>(crc & 0xFF));
        block.insert(block.end(), form.begin(), form.end());
    }
    std::uint16_t block_crc = dsk::crc16(block.data(), block.size());
    block.push_back(static_cast<std::uint8_t>(block_crc >> 8));
    block.push_back(static_cast<std::uint8_t>(block_crc & 0xFF));
    return block;
}

std::array<std::uint8_t, STREAM_HEADER> stream_header(std::size_t length, int track, int sector)
{
    std::array<std::uint8_t, STREAM_HEADER> header = {
        static_cast<std::uint8_t>(length & 0xFF), static_cast<std::uint8_t>(length >> 8),
        static_cast<std::uint8_t>(track), static_cast<std::uint8_t>(sector), 0};
    header[4] = static_cast<std::uint8_t>(0xFF - header[0] - header[1] - header[2] - header[3]);
    return header;
}

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
            std::vector<std::uint8_t> block = packed_block(batch->sectors, k);
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
