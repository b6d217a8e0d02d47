// A libFuzzer target for the disc image reader: arbitrary bytes opened as
// an image, then every cylinder loaded and every sector found, as the
// image transfer reads them.  Built by the "fuzz" preset (clang, with
// AddressSanitizer and UBSan); scripts/fuzz.sh runs it.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "image/disc_image.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The reader tells the console about every bad track: not wanted here.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) return 1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 0x7FFFFFFF) return 0;
    DiscImageOwner image(image_open_memory(data, static_cast<std::int32_t>(size)));
    if (!image) return 0;
    int cylinders = image_track_count(image.get());
    int per_cylinder = image_side_count(image.get()) * SECTORS_PER_SIDE;
    unsigned sum = 0;
    for (int c = 0; c < cylinders; ++c) {
        image_load_track(image.get());
        for (int i = 0; i < per_cylinder; ++i) {
            const std::uint8_t* sector = image_find_sector(image.get(), c, i);
            for (int b = 0; b < SECTOR_SIZE; b += 64) sum += sector[b];  // every sector is readable
        }
    }
    return sum == 0xFFFFFFFFu ? 1 : 0;
}
