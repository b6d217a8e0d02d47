// sector_lz.cpp - the sector's compressed form (see sector_lz.h).
#include "link/sector_lz.h"

#include <algorithm>

namespace {

// Earlier places with the same three bytes, newest first, through a hash
// of them: the places a copy can come from.
struct MatchFinder {
    static constexpr int HASH_BITS = 13;
    static constexpr int MAX_TRIES = 256;  // places looked at for one copy
    const std::uint8_t* bytes;
    std::vector<int> head;  // per hash: the newest place, or -1
    std::vector<int> prev;  // per place: the one before with the same hash

    MatchFinder(const std::uint8_t* b, std::size_t end)
        : bytes(b), head(std::size_t{1} << HASH_BITS, -1), prev(end, -1) {}

    int hash(std::size_t at) const
    {
        unsigned v = (bytes[at] << 16) ^ (bytes[at + 1] << 8) ^ bytes[at + 2];
        return static_cast<int>((v * 2654435761u) >> (32 - HASH_BITS));
    }
    void insert(std::size_t at)
    {
        int h = hash(at);
        prev[at] = head[static_cast<std::size_t>(h)];
        head[static_cast<std::size_t>(h)] = static_cast<int>(at);
    }
};

}  // namespace

std::vector<std::uint8_t> lz_compress_sector(const std::uint8_t* base, std::size_t offset)
{
    const std::size_t end = offset + LZ_SECTOR_SIZE;
    const std::size_t from = offset > static_cast<std::size_t>(LZ_MAX_DISTANCE) ? offset - LZ_MAX_DISTANCE : 0;
    MatchFinder finder(base, end);

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
    std::size_t i = offset;
    std::size_t inserted = from;  // the places below it are in the finder
    while (i < end) {
        for (; inserted < i && inserted + 2 < end; ++inserted) finder.insert(inserted);
        // The copy that saves the most: its length less its own bytes.
        int best_length = 0, best_distance = 0, best_saving = 0;
        std::size_t room = end - i;
        auto consider = [&](std::size_t source) {
            std::size_t d = i - source;
            bool near = d <= static_cast<std::size_t>(LZ_MAX_NEAR);
            std::size_t limit = std::min<std::size_t>(near ? LZ_MAX_COPY : LZ_MAX_FAR_COPY, room);
            std::size_t n = 0;
            while (n < limit && base[i + n] == base[source + n]) ++n;
            int saving = static_cast<int>(n) - (near ? 2 : 3);
            if (n >= static_cast<std::size_t>(near ? LZ_MIN_COPY : LZ_MIN_FAR_COPY) && saving > best_saving) {
                best_saving = saving;
                best_length = static_cast<int>(n);
                best_distance = static_cast<int>(d);
            }
        };
        if (i > from) consider(i - 1);  // a run of one byte
        if (i + 2 < end) {
            int tries = 0;
            for (int at = finder.head[static_cast<std::size_t>(finder.hash(i))];
                 at >= static_cast<int>(from) && tries < MatchFinder::MAX_TRIES &&
                 static_cast<std::size_t>(best_length) < std::min<std::size_t>(LZ_MAX_FAR_COPY, room);
                 at = finder.prev[static_cast<std::size_t>(at)], ++tries)
                consider(static_cast<std::size_t>(at));
        }
        if (best_length > 0) {
            flush_literals();
            std::size_t d = static_cast<std::size_t>(best_distance) - 1;
            if (best_distance <= LZ_MAX_NEAR) {
                form.push_back(static_cast<std::uint8_t>(0x80 + best_length - LZ_MIN_COPY));
                form.push_back(static_cast<std::uint8_t>(d));
            } else {
                form.push_back(static_cast<std::uint8_t>(0xC0 + best_length - LZ_MIN_FAR_COPY));
                form.push_back(static_cast<std::uint8_t>(d & 0xFF));
                form.push_back(static_cast<std::uint8_t>(d >> 8));
            }
            i += static_cast<std::size_t>(best_length);
        } else {
            literals.push_back(base[i++]);
        }
    }
    flush_literals();
    return form;
}

bool lz_expand_sector(const std::uint8_t* form, std::size_t length, std::uint8_t* base, std::size_t offset)
{
    std::size_t at = 0;
    const std::size_t end = offset + LZ_SECTOR_SIZE;
    std::size_t out = offset;
    while (out < end) {
        if (at >= length) return false;
        std::uint8_t token = form[at++];
        if (token < 0x80) {
            std::size_t n = token + 1u;
            if (out + n > end || at + n > length) return false;
            std::copy(form + at, form + at + n, base + out);
            at += n;
            out += n;
            continue;
        }
        bool far = token >= 0xC0;
        std::size_t n = far ? token - 0xC0u + LZ_MIN_FAR_COPY : token - 0x80u + LZ_MIN_COPY;
        if (at + (far ? 2 : 1) > length) return false;
        std::size_t d = form[at++] + 1u;
        if (far) d += static_cast<std::size_t>(form[at++]) << 8;
        if (d > out || out + n > end) return false;
        for (std::size_t k = 0; k < n; ++k, ++out) base[out] = base[out - d];
    }
    return at == length;
}
