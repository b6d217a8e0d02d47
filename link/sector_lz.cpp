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

    // For each place of the sector, the longest copy that one distance
    // byte reaches (near) and the longest of all (far), with a distance
    // each: a copy of any shorter length comes from the same place.
    struct Reach {
        int near_length = 0, near_distance = 0, far_length = 0, far_distance = 0;
    };
    std::vector<Reach> reach(LZ_SECTOR_SIZE);
    std::size_t inserted = from;  // the places below it are in the finder
    for (std::size_t i = offset; i < end; ++i) {
        for (; inserted < i && inserted + 2 < end; ++inserted) finder.insert(inserted);
        Reach& r = reach[i - offset];
        std::size_t room = end - i;
        auto consider = [&](std::size_t source) {
            std::size_t d = i - source;
            bool near = d <= static_cast<std::size_t>(LZ_MAX_NEAR);
            std::size_t limit = std::min<std::size_t>(near ? LZ_MAX_COPY : LZ_MAX_FAR_COPY, room);
            std::size_t n = 0;
            while (n < limit && base[i + n] == base[source + n]) ++n;
            int length = static_cast<int>(n);
            if (near && length >= LZ_MIN_COPY && length > r.near_length) {
                r.near_length = length;
                r.near_distance = static_cast<int>(d);
            }
            if (length >= LZ_MIN_FAR_COPY && length > r.far_length) {
                r.far_length = length;
                r.far_distance = static_cast<int>(d);
            }
        };
        if (i > from) consider(i - 1);  // a run of one byte
        if (i + 2 < end) {
            int tries = 0;
            for (int at = finder.head[static_cast<std::size_t>(finder.hash(i))];
                 at >= static_cast<int>(from) && tries < MatchFinder::MAX_TRIES &&
                 static_cast<std::size_t>(r.far_length) < std::min<std::size_t>(LZ_MAX_FAR_COPY, room);
                 at = finder.prev[static_cast<std::size_t>(at)], ++tries)
                consider(static_cast<std::size_t>(at));
        }
    }

    // The shortest form, from the sector's end back: cost[k] is the fewest
    // bytes that bring the sector from its place k to the end, and step[k]
    // the first thing they do - a run of that many literals (positive), or
    // a copy of that many bytes (negative; near when the near copy reaches).
    constexpr int N = LZ_SECTOR_SIZE;
    std::vector<int> cost(N + 1, 0), step(N, 0);
    for (int k = N - 1; k >= 0; --k) {
        int best = 1 + 1 + cost[static_cast<std::size_t>(k + 1)], best_step = 1;
        for (int n = 2; n <= LZ_MAX_LITERALS && k + n <= N; ++n)
            if (1 + n + cost[static_cast<std::size_t>(k + n)] < best) {
                best = 1 + n + cost[static_cast<std::size_t>(k + n)];
                best_step = n;
            }
        const Reach& r = reach[static_cast<std::size_t>(k)];
        for (int n = LZ_MIN_COPY; n <= std::max(r.near_length, r.far_length); ++n) {
            int c = (n <= r.near_length ? 2 : 3) + cost[static_cast<std::size_t>(k + n)];
            if (c < best && (n <= r.near_length || n >= LZ_MIN_FAR_COPY)) {
                best = c;
                best_step = -n;
            }
        }
        cost[static_cast<std::size_t>(k)] = best;
        step[static_cast<std::size_t>(k)] = best_step;
    }

    std::vector<std::uint8_t> form;
    form.reserve(static_cast<std::size_t>(cost[0]));
    for (int k = 0; k < N;) {
        int s = step[static_cast<std::size_t>(k)];
        if (s > 0) {
            form.push_back(static_cast<std::uint8_t>(s - 1));
            form.insert(form.end(), base + offset + static_cast<std::size_t>(k),
                        base + offset + static_cast<std::size_t>(k + s));
            k += s;
            continue;
        }
        const Reach& r = reach[static_cast<std::size_t>(k)];
        int n = -s;
        if (n <= r.near_length) {
            form.push_back(static_cast<std::uint8_t>(0x80 + n - LZ_MIN_COPY));
            form.push_back(static_cast<std::uint8_t>(r.near_distance - 1));
        } else {
            std::size_t d = static_cast<std::size_t>(r.far_distance) - 1;
            form.push_back(static_cast<std::uint8_t>(0xC0 + n - LZ_MIN_FAR_COPY));
            form.push_back(static_cast<std::uint8_t>(d & 0xFF));
            form.push_back(static_cast<std::uint8_t>(d >> 8));
        }
        k += n;
    }
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
