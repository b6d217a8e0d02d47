// Writes the fuzz target's seeds into a folder: valid one- and two-sided
// extended images (side 1 numbered 0-9 and 10-19), one with a record left
// out and one with an oversized record, a standard image with interleaved
// sectors, the built-in image's first tracks, and raw dumps.
#include <cstdio>
#include <string>

#include "image/default_image.h"
#include "tests/support/disc_builder.h"

static bool write(const std::string& folder, const char* name, const Bytes& bytes)
{
    std::FILE* f = std::fopen((folder + "/" + name).c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds FOLDER\n");
        return 2;
    }
    std::string folder = argv[1];
    Bytes gapped = disc_info(3, 1, {21, 0, 22});
    for (Bytes r : {track_record(0, 0, ids_from(0)), track_record(2, 0, ids_from(0))}) gapped.insert(gapped.end(), r.begin(), r.end());
    gapped.resize(gapped.size() + 256, 0);
    Bytes builtin(default_image, default_image + 256 + 3 * 5376);
    bool ok = write(folder, "one-sided.dsk", extended_image(3, 1)) &&
              write(folder, "two-sided.dsk", extended_image(2, 2)) &&
              write(folder, "two-sided-10-19.dsk", extended_image(2, 2, 10)) &&
              write(folder, "gapped.dsk", gapped) &&
              write(folder, "standard.dsk", standard_image(2, 2, {0, 5, 1, 6, 2, 7, 3, 8, 4, 9}, 10)) && write(folder, "builtin-start.dsk", builtin) &&
              write(folder, "raw-40.img", raw_dump(40)) && write(folder, "raw-160.img", raw_dump(160));
    return ok ? 0 : 1;
}
