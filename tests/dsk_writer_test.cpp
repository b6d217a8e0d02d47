// The file -read writes: the partial file beside the name is always new
// (never through a link, never over a file), the name is replaced and
// never followed, a read that fails leaves nothing, and a rename that
// fails keeps the data and says where.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "image/dsk_writer.h"
#include "tests/support/disc_builder.h"
#include "tests/support/stdout_capture.h"

namespace {

namespace fs = std::filesystem;

Bytes contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(NewImageFile, ThePartialFileIsNewAndNoLinkIsFollowed)
{
    const Bytes image(3000, 0x5A), victim_bytes(10, 0x11);
    struct Case {
        const char* what;
        bool link_at_name;     // the name is a link to the victim
        bool link_at_partial;  // <name>.part is a link to the victim
        bool finished;         // the read completed
    } cases[] = {
        {"a new name", false, false, true},
        {"a link at the name", true, false, true},
        {"a link at the partial name", false, true, true},
        {"a failed read", false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string victim = write_temp_file(victim_bytes, "victim");
        std::string folder = write_temp_file({}, "folder");
        fs::remove(folder);
        fs::create_directory(folder);
        std::string name = folder + "/out.dsk";
        if (c.link_at_name) fs::create_symlink(victim, name);
        if (c.link_at_partial) fs::create_symlink(victim, name + ".part");
        ASSERT_NE(new_image_check(name.c_str()), NEW_IMAGE_REFUSED);
        {
            NewImageFile file;
            ASSERT_EQ(new_image_begin(&file, name.c_str()), 1);
            EXPECT_EQ(file.temporary, c.link_at_partial ? name + ".2.part" : name + ".part");
            if (c.finished) {
                EXPECT_EQ(new_image_finish(&file, image), 1);
            }
        }
        EXPECT_EQ(contents(victim), victim_bytes) << "a link was followed";
        EXPECT_EQ(fs::is_symlink(name + ".part"), c.link_at_partial);
        EXPECT_FALSE(fs::exists(name + ".2.part")) << "the partial file is left";
        if (c.finished) {
            EXPECT_FALSE(fs::is_symlink(name));
            EXPECT_EQ(contents(name), image);
        } else {
            EXPECT_FALSE(fs::exists(name));
        }
    }
}

TEST(NewImageFile, TheNameIsJudgedFirstAndAFailedRenameKeepsTheData)
{
    std::string folder = write_temp_file({}, "judged");
    fs::remove(folder);
    fs::create_directory(folder);
    std::string existing = write_temp_file(Bytes(1, 0), "existing.dsk");
    StdoutCapture capture;
    EXPECT_EQ(new_image_check((folder + "/new.dsk").c_str()), NEW_IMAGE_NEW);
    EXPECT_EQ(new_image_check(existing.c_str()), NEW_IMAGE_REPLACES);
    EXPECT_EQ(new_image_check(folder.c_str()), NEW_IMAGE_REFUSED);
    EXPECT_EQ(new_image_check("/dev/null"), NEW_IMAGE_REFUSED);
    EXPECT_EQ(capture.finish(), "*** TOBRIN HALTED ***\nFile Error -> '" + folder +
                                    "' is a folder or a device, not a file: name a new file, or a file to replace\n"
                                    "*** TOBRIN HALTED ***\nFile Error -> '/dev/null' is a folder or a device, not a "
                                    "file: name a new file, or a file to replace\n");

    // A folder appears at the name while the disk is read: the data stays
    // in the partial file, and the report says where.
    std::string name = folder + "/late.dsk";
    NewImageFile file;
    ASSERT_EQ(new_image_begin(&file, name.c_str()), 1);
    fs::create_directory(name);
    fs::create_directory(name + "/inside");  // not empty: no rename replaces it
    StdoutCapture report;
    EXPECT_EQ(new_image_finish(&file, Bytes(700, 0x33)), 0);
    std::string text = report.finish();
    EXPECT_NE(text.find("the image is kept as '" + name + ".part'"), std::string::npos) << text;
    EXPECT_EQ(contents(name + ".part"), Bytes(700, 0x33));
}

}  // namespace
