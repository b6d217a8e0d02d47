// wire_forms.cpp - the extensions' messages, made and read.
#include "link/wire_forms.h"

#include <algorithm>
#include <cstring>

#include "image/disc_image.h"
#include "image/dsk_codec.h"
#include "link/sector_lz.h"

std::uint8_t check_byte(const std::uint8_t* bytes, std::size_t count)
{
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum = static_cast<std::uint8_t>(sum + bytes[i]);
    return static_cast<std::uint8_t>(0xFF - sum);
}

WireBytes checked_command(std::uint8_t command, const std::uint8_t* parameters, std::size_t count)
{
    WireBytes bytes(count + 2);
    bytes[0] = command;
    for (std::size_t i = 0; i < count; ++i) bytes[i + 1] = parameters[i];
    bytes[count + 1] = check_byte(parameters, count);
    return bytes;
}

WireBytes checked_command(std::uint8_t command, std::initializer_list<std::uint8_t> parameters)
{
    return checked_command(command, parameters.begin(), parameters.size());
}

std::array<std::uint8_t, 2> with_complement(std::uint8_t value)
{
    return {value, static_cast<std::uint8_t>(value ^ 0xFF)};
}

std::optional<int> checked_value(std::uint8_t value, std::uint8_t complement, int most)
{
    if ((value ^ complement) != 0xFF || value > most) return std::nullopt;
    return value;
}

static_assert(BLANK_BYTE == target_program_image_labels::BLANK_BYTE, "the filler the Einstein lays down");

PackedSector pack_sector(const std::vector<std::uint8_t>& batch, int k)
{
    const std::size_t offset = static_cast<std::size_t>(k) * SECTOR_SIZE;
    const std::uint8_t* sector = &batch[offset];
    PackedSector packed{};
    packed.number = k;
    packed.filler = std::memcmp(sector, blank_sector(), SECTOR_SIZE) == 0;
    packed.layable = std::none_of(sector, sector + SECTOR_SIZE, [](std::uint8_t b) { return b >= 0xF5 && b <= 0xF7; });
    packed.crc = dsk::crc16(sector, SECTOR_SIZE);
    if (!packed.filler) packed.form = lz_compress_sector(batch.data(), offset);
    return packed;
}

WireBytes packed_block(const PackedSector& sector)
{
    std::size_t length = (sector.filler ? 1 : PACKED_HEADER - 3 + sector.form.size()) + PACKED_TRAILER;
    std::uint8_t low = static_cast<std::uint8_t>(length & 0xFF);
    std::uint8_t high = static_cast<std::uint8_t>((length >> 8) | (sector.layable ? LAYABLE_FLAG : 0));
    std::uint8_t number = static_cast<std::uint8_t>(sector.number | (sector.filler ? FILLER_FLAG : 0));
    WireBytes block = {low, high, static_cast<std::uint8_t>(0xFF - low - high), number};
    if (!sector.filler) {
        block.push_back(static_cast<std::uint8_t>(sector.crc >> 8));
        block.push_back(static_cast<std::uint8_t>(sector.crc & 0xFF));
        block.insert(block.end(), sector.form.begin(), sector.form.end());
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
    header[4] = check_byte(header.data(), 4);
    return header;
}

WireBytes stream_of(const std::vector<WireBytes>& blocks, int track, int sector)
{
    std::size_t length = 0;
    for (const WireBytes& b : blocks) length += b.size();
    auto header = stream_header(length, track, sector);
    WireBytes stream(STREAM_HEADER + length);
    auto at = std::copy(header.begin(), header.end(), stream.begin());
    for (const WireBytes& b : blocks) at = std::copy(b.begin(), b.end(), at);
    return stream;
}

WireBytes sector_crcs(const std::uint8_t* sectors, int count)
{
    WireBytes crcs;
    for (int k = 0; k < count; ++k) {
        std::uint16_t crc = dsk::crc16(sectors + static_cast<std::size_t>(k) * SECTOR_SIZE, SECTOR_SIZE);
        crcs.push_back(static_cast<std::uint8_t>(crc >> 8));
        crcs.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    }
    return crcs;
}

RecordHead record_head(const std::uint8_t (&head)[5])
{
    return {head[0], head[1], head[2], static_cast<std::uint16_t>(head[3] << 8 | head[4])};
}

std::array<std::uint8_t, 5> record_head_bytes(const RecordHead& head)
{
    return {static_cast<std::uint8_t>(head.track), static_cast<std::uint8_t>(head.sector), head.status,
            static_cast<std::uint8_t>(head.crc >> 8), static_cast<std::uint8_t>(head.crc & 0xFF)};
}

std::uint16_t record_crc(const std::uint8_t* sector, int track, int index, std::uint8_t status)
{
    const std::uint8_t tail[] = {static_cast<std::uint8_t>(track), static_cast<std::uint8_t>(index), status};
    return dsk::crc16(tail, sizeof tail, dsk::crc16(sector, SECTOR_SIZE));
}
