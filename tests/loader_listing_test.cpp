// The monitor loader: the assembled bytes are the documented 48, and the
// listing the user types from shows exactly those bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "target/loader_listing.h"
#include "target/monitor_loader.h"
#include "tests/support/stdout_capture.h"

namespace {

// The loader as it is published for users to type, eight bytes a line.
const char* const PUBLISHED_LINES[] = {"3E27D311DB10DB11", "CB4F20F83E07D311", "2100011100083E27",
                                       "D311DB11CB4F28FA", "DB10773E07D31123", "1B7BB220E9C30001"};

TEST(LoaderListing, TheAssembledLoaderIsThePublishedOne)
{
    ASSERT_EQ(monitor_loader_length, 48);
    std::string hex;
    char two[3];
    for (int i = 0; i < monitor_loader_length; ++i) {
        std::snprintf(two, sizeof two, "%02X", monitor_loader_image[i]);
        hex += two;
    }
    std::string published;
    for (const char* line : PUBLISHED_LINES) published += line;
    EXPECT_EQ(hex, published);
    EXPECT_EQ(loader_address(), 0x1000);
}

TEST(LoaderListing, PrintedLinesShowTheAssembledBytes)
{
    StdoutCapture capture;
    print_loader_lines("   ", 0);
    print_loader_lines("   ", 1);
    std::istringstream lines(capture.finish());
    std::string line;
    for (int pass = 0; pass < 2; ++pass) {
        for (int row = 0; row < 6; ++row) {
            ASSERT_TRUE(std::getline(lines, line));
            std::string expected = "   ";
            char field[8];
            if (pass == 1) {
                std::snprintf(field, sizeof field, "%04X ", 0x1000 + 8 * row);
                expected += field;
            }
            for (int i = 0; i < 8; ++i) {
                std::snprintf(field, sizeof field, "%02X", monitor_loader_image[8 * row + i]);
                expected += field;
            }
            EXPECT_EQ(line, expected);
        }
    }
    EXPECT_FALSE(std::getline(lines, line));
}

}  // namespace
