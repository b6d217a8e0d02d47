#include "tests/support/disc_builder.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

Bytes sector_pattern(int track, int side, int id)
{
    Bytes s(512);
    s[0] = static_cast<std::uint8_t>(track);
    s[1] = static_cast<std::uint8_t>(side);
    s[2] = static_cast<std::uint8_t>(id);
    for (int i = 3; i < 512; ++i) s[i] = static_cast<std::uint8_t>(track * 7 + side * 53 + id * 11 + i);
    return s;
}

Bytes track_record(int track, int side, const std::array<int, 10>& ids)
{
    Bytes r(256, 0);
    std::memcpy(r.data(), "Track-Info\r\n", 12);
    r[16] = static_cast<std::uint8_t>(track);
    r[17] = static_cast<std::uint8_t>(side);
    r[20] = 2;
    r[21] = 10;
    r[22] = 0x4E;
    for (int k = 0; k < 10; ++k) {
        std::uint8_t* row = r.data() + 24 + 8 * k;
        row[0] = static_cast<std::uint8_t>(track);
        row[1] = static_cast<std::uint8_t>(side);
        row[2] = static_cast<std::uint8_t>(ids[k]);
        row[3] = 2;
        row[7] = 2;
    }
    for (int k = 0; k < 10; ++k) {
        Bytes s = sector_pattern(track, side, ids[k]);
        r.insert(r.end(), s.begin(), s.end());
    }
    return r;
}

std::array<int, 10> ids_from(int first)
{
    std::array<int, 10> ids{};
    for (int k = 0; k < 10; ++k) ids[k] = first + k;
    return ids;
}

Bytes disc_info(int tracks, int sides, const Bytes& size_table)
{
    Bytes d(256, 0);
    std::memcpy(d.data(), "EXTENDED CPC DSK File\r\nDisk-Info\r\n", 34);
    std::memcpy(d.data() + 34, "TESTS", 5);
    d[48] = static_cast<std::uint8_t>(tracks);
    d[49] = static_cast<std::uint8_t>(sides);
    for (std::size_t i = 0; i < size_table.size() && i < 204; ++i) d[52 + i] = size_table[i];
    return d;
}

Bytes extended_image(int tracks, int sides, int side1_first)
{
    Bytes image = disc_info(tracks, sides, Bytes(static_cast<std::size_t>(tracks * sides), 21));
    for (int t = 0; t < tracks; ++t)
        for (int s = 0; s < sides; ++s) {
            Bytes r = track_record(t, s, ids_from(s == 0 ? 0 : side1_first));
            image.insert(image.end(), r.begin(), r.end());
        }
    return image;
}

Bytes standard_image(int tracks, int sides, const std::array<int, 10>& ids, int side1_first)
{
    Bytes image(256, 0);
    std::memcpy(image.data(), "MV - CPCEMU Disk-File\r\nDisk-Info\r\n", 34);
    image[48] = static_cast<std::uint8_t>(tracks);
    image[49] = static_cast<std::uint8_t>(sides);
    image[50] = 0x00;  // 256 + 10 x 512 = 1500h bytes a record
    image[51] = 0x15;
    for (int t = 0; t < tracks; ++t)
        for (int s = 0; s < sides; ++s) {
            std::array<int, 10> side_ids = ids;
            for (int& id : side_ids) id += s == 0 ? 0 : side1_first;
            Bytes r = track_record(t, s, side_ids);
            for (int k = 0; k < 10; ++k) r[24 + 8 * k + 6] = r[24 + 8 * k + 7] = 0;  // no lengths in this form
            image.insert(image.end(), r.begin(), r.end());
        }
    return image;
}

Bytes raw_dump(int track_sides)
{
    Bytes image;
    for (int r = 0; r < track_sides; ++r)
        for (int id = 0; id < 10; ++id) {
            Bytes s = sector_pattern(r, 0, id);
            image.insert(image.end(), s.begin(), s.end());
        }
    return image;
}

std::string write_temp_file(const Bytes& bytes, const std::string& name)
{
    namespace fs = std::filesystem;
    static fs::path folder;
    if (folder.empty()) {
        std::random_device random;
        folder = fs::temp_directory_path() / ("tobrin-test-" + std::to_string(random()));
        fs::create_directories(folder);
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(folder, ignored);
        });
    }
    static int serial = 0;
    fs::path path = folder / (std::to_string(serial++) + "-" + name);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path.string();
}
