// dsk_codec.cpp - decoding and encoding DSK images.
#include "image/dsk_codec.h"

#include <algorithm>
#include <cstring>

#include "image/dsk_layout.h"

namespace dsk {

static int little16(const std::uint8_t* p)
{
    return p[0] | p[1] << 8;
}

// The sectors of one record at bytes[at], of `size` bytes, of which
// `available` are in the file.
static Track decode_track(const std::uint8_t* bytes, std::size_t at, std::size_t size, std::size_t available,
                          bool extended)
{
    Track track{};
    track.present = true;
    track.damaged = available < size;
    if (available < INFO_BLOCK_SIZE) return track;
    const std::uint8_t* info = bytes + at;
    track.size_code = info[TRACK_SIZE_CODE];
    track.gap3 = info[TRACK_GAP3];
    track.filler = info[TRACK_FILLER];
    int count = std::min<int>(info[TRACK_SECTOR_COUNT], MAX_SECTOR_ROWS);
    std::size_t data = INFO_BLOCK_SIZE;
    std::size_t end = std::min(size, available);
    for (int k = 0; k < count; ++k) {
        const std::uint8_t* row = info + TRACK_SECTOR_LIST + SECTOR_ROW_SIZE * k;
        std::size_t length = extended ? static_cast<std::size_t>(little16(row + ROW_DATA_LENGTH))
                                      : static_cast<std::size_t>(128) << std::min<int>(track.size_code, 6);
        if (data + length > end) break;
        Sector sector{row[ROW_TRACK], row[ROW_SIDE], row[ROW_ID], row[ROW_SIZE_CODE],
                      row[ROW_FDC_STATUS1], row[ROW_FDC_STATUS2],
                      std::vector<std::uint8_t>(info + data, info + data + length)};
        track.sectors.push_back(std::move(sector));
        data += length;
    }
    return track;
}

DecodeResult decode(const std::uint8_t* bytes, std::size_t length, Disk* disk)
{
    static const char STANDARD_SIGNATURE[] = "MV - CPC";
    bool extended = length >= static_cast<std::size_t>(DISC_SIGNATURE_LENGTH) &&
                    std::memcmp(bytes, DISC_SIGNATURE, DISC_SIGNATURE_LENGTH) == 0;
    bool standard = length >= sizeof STANDARD_SIGNATURE - 1 &&
                    std::memcmp(bytes, STANDARD_SIGNATURE, sizeof STANDARD_SIGNATURE - 1) == 0;
    if (!extended && !standard) return NOT_DSK;
    if (length < static_cast<std::size_t>(INFO_BLOCK_SIZE)) return TOO_SMALL;
    *disk = Disk{};
    disk->extended = extended;
    disk->sides = bytes[DISC_SIDES];
    disk->tracks = bytes[DISC_TRACKS];
    if (disk->sides != 1 && disk->sides != 2) return BAD_SIDES;
    if (disk->tracks == 0) return NO_TRACKS;
    if (disk->tracks * disk->sides > DISC_TRACK_SIZE_ENTRIES) disk->tracks = DISC_TRACK_SIZE_ENTRIES / disk->sides;

    std::size_t at = INFO_BLOCK_SIZE;
    for (int r = 0; r < disk->tracks * disk->sides; ++r) {
        std::size_t size = extended ? static_cast<std::size_t>(bytes[DISC_TRACK_SIZES + r]) * RECORD_UNIT
                                    : static_cast<std::size_t>(little16(bytes + DISC_STANDARD_TRACK_SIZE));
        if (size == 0 || at >= length) {
            disk->records.push_back(Track{});  // left out, or past the end of the file
        } else {
            disk->records.push_back(decode_track(bytes, at, size, length - at, extended));
        }
        at += size;
    }
    return DECODED;
}

std::vector<std::uint8_t> encode(const Disk& disk, const char* creator)
{
    std::vector<std::uint8_t> image(INFO_BLOCK_SIZE, 0);
    put_disc_info(image.data(), creator, disk.tracks, disk.sides);
    for (std::size_t r = 0; r < disk.records.size() && r < static_cast<std::size_t>(DISC_TRACK_SIZE_ENTRIES); ++r) {
        const Track& track = disk.records[r];
        if (!track.present) continue;
        std::size_t start = image.size();
        image.resize(start + INFO_BLOCK_SIZE, 0);
        std::uint8_t* info = image.data() + start;
        std::memcpy(info, TRACK_SIGNATURE, TRACK_SIGNATURE_LENGTH);
        info[TRACK_NUMBER] = static_cast<std::uint8_t>(r / static_cast<std::size_t>(disk.sides));
        info[TRACK_SIDE] = static_cast<std::uint8_t>(r % static_cast<std::size_t>(disk.sides));
        info[TRACK_SIZE_CODE] = track.size_code;
        info[TRACK_GAP3] = track.gap3;
        info[TRACK_FILLER] = track.filler;
        int count = std::min<int>(static_cast<int>(track.sectors.size()), MAX_SECTOR_ROWS);
        info[TRACK_SECTOR_COUNT] = static_cast<std::uint8_t>(count);
        for (int k = 0; k < count; ++k) {
            const Sector& s = track.sectors[static_cast<std::size_t>(k)];
            std::uint8_t* row = image.data() + start + TRACK_SECTOR_LIST + SECTOR_ROW_SIZE * k;
            row[ROW_TRACK] = s.c;
            row[ROW_SIDE] = s.h;
            row[ROW_ID] = s.r;
            row[ROW_SIZE_CODE] = s.n;
            row[ROW_FDC_STATUS1] = s.status1;
            row[ROW_FDC_STATUS2] = s.status2;
            row[ROW_DATA_LENGTH] = static_cast<std::uint8_t>(s.data.size() & 0xFF);
            row[ROW_DATA_LENGTH + 1] = static_cast<std::uint8_t>(s.data.size() >> 8);
        }
        for (int k = 0; k < count; ++k) {
            const std::vector<std::uint8_t>& data = track.sectors[static_cast<std::size_t>(k)].data;
            image.insert(image.end(), data.begin(), data.end());
        }
        std::size_t size = (image.size() - start + RECORD_UNIT - 1) / RECORD_UNIT * RECORD_UNIT;
        image.resize(start + size, 0);
        image[DISC_TRACK_SIZES + r] = static_cast<std::uint8_t>(std::min<std::size_t>(size / RECORD_UNIT, 255));
    }
    return image;
}

}  // namespace dsk
