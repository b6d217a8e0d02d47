// crc16.h - the CRC-16 that -verify compares: CCITT, polynomial 1021h,
// preset FFFFh, most significant bit first - the floppy controller's own,
// and what the Einstein computes of each sector it reads back.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr std::uint16_t crc16_ccitt(const std::uint8_t* bytes, std::size_t count)
{
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < count; ++i) {
        crc = static_cast<std::uint16_t>(crc ^ (bytes[i] << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}
