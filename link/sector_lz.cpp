// sector_lz.cpp - the sector's compressed form (see sector_lz.h).
#include "link/sector_lz.h"

#include <algorithm>

std::vector<std::uint8_t> lz_compress_sector(const std::uint8_t* sector)
{
    std::vector<std::uint8_t> form;
    std::vector<std::uint8_t> literals;
    auto flush_literals = [&] {
        for (std::size_t at = 0; at < literals.size(); at += LZ_MAX_LITERALS) {
            std::size_t n = std::min<std::size_t>(LZ_MAX_LITERALS, literals.size() - at);
            form.push_back(static_cast<std::uint8_t>(n - 1));
            form.insert(form.end(), literals.begin() + static_cast<long>(at),
                        literals.begin() + static_cast<long>(at + n));
        }
        literals.clear();
    };
    int i = 0;
    while (i < LZ_SECTOR_SIZE) {
        // The longest copy from up to 256 bytes back (overlapping allowed).
        int best_length = 0, best_distance = 0;
        int limit = std::min(LZ_MAX_COPY, LZ_SECTOR_SIZE - i);
        for (int d = 1; d <= std::min(LZ_MAX_DISTANCE, i); ++d) {
            int n = 0;
            while (n < limit && sector[i + n] == sector[i + n - d]) ++n;
            if (n > best_length) {
                best_length = n;
                best_distance = d;
                if (n == limit) break;
            }
        }
        if (best_length >= LZ_MIN_COPY) {
            flush_literals();
            form.push_back(static_cast<std::uint8_t>(0x80 + best_length - LZ_MIN_COPY));
            form.push_back(static_cast<std::uint8_t>(best_distance - 1));
            i += best_length;
        } else {
            literals.push_back(sector[i++]);
        }
    }
    flush_literals();
    return form;
}

bool lz_expand_sector(const std::uint8_t* form, std::size_t length, std::uint8_t* sector)
{
    std::size_t at = 0;
    int out = 0;
    while (out < LZ_SECTOR_SIZE) {
        if (at >= length) return false;
        std::uint8_t token = form[at++];
        if (token < 0x80) {
            int n = token + 1;
            if (out + n > LZ_SECTOR_SIZE || at + static_cast<std::size_t>(n) > length) return false;
            std::copy(form + at, form + at + n, sector + out);
            at += static_cast<std::size_t>(n);
            out += n;
        } else {
            if (at >= length) return false;
            int n = token - 0x80 + LZ_MIN_COPY, d = form[at++] + 1;
            if (d > out || out + n > LZ_SECTOR_SIZE) return false;
            for (int k = 0; k < n; ++k, ++out) sector[out] = sector[out - d];
        }
    }
    return at == length;
}
