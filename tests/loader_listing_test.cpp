// The monitor loader: the assembled bytes are the documented 48, and the
// listing the user types from shows exactly those bytes.
#include <gtest/gtest.h>

#include <cstdio>
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

TEST(LoaderListing, PrintedLinesShowThePublishedBytes)
{
    // Without addresses (what to type), then with them (what the MOS
    // shows), spelled out.
    StdoutCapture capture;
    print_loader_lines("   ", 0);
    print_loader_lines("   ", 1);
    std::string expected;
    for (const char* line : PUBLISHED_LINES) expected += std::string("   ") + line + "\n";
    const char* const addresses[] = {"1000 ", "1008 ", "1010 ", "1018 ", "1020 ", "1028 "};
    for (int row = 0; row < 6; ++row) expected += std::string("   ") + addresses[row] + PUBLISHED_LINES[row] + "\n";
    EXPECT_EQ(capture.finish(), expected);
}

}  // namespace
