// The halt report: its two lines, the category names, and a message that
// cannot overrun the report's buffer.
#include <gtest/gtest.h>

#include <string>

#include "report/halt_report.h"
#include "tests/support/stdout_capture.h"

namespace {

std::string report(const char* message, const char* parameter, int category)
{
    StdoutCapture capture;
    halt_report(message, parameter, category);
    return capture.finish();
}

TEST(HaltReport, NamesEachCategory)
{
    EXPECT_EQ(report("Unknown port number", nullptr, 1),
              "*** TOBRIN HALTED ***\nResource Error -> Unknown port number\n");
    EXPECT_EQ(report("m", nullptr, 2), "*** TOBRIN HALTED ***\nFile Error -> m\n");
    EXPECT_EQ(report("m", nullptr, 3), "*** TOBRIN HALTED ***\nEinstein Error -> m\n");
    EXPECT_EQ(report("m", nullptr, 4), "*** TOBRIN HALTED ***\nEinstein Error -> m\n");
    EXPECT_EQ(report("m", nullptr, 0), "*** TOBRIN HALTED ***\nSyntax Error -> m\n");
    EXPECT_EQ(report("m", nullptr, -7), "*** TOBRIN HALTED ***\nSyntax Error -> m\n");
}

TEST(HaltReport, FormatsTheParameterIntoTheMessage)
{
    EXPECT_EQ(report("Cannot open disc image '%s'", "a.dsk", 2),
              "*** TOBRIN HALTED ***\nFile Error -> Cannot open disc image 'a.dsk'\n");
}

TEST(HaltReport, AMessageWithoutParameterIsPrintedAsItStands)
{
    EXPECT_EQ(report("100%s done %d", nullptr, 1), "*** TOBRIN HALTED ***\nResource Error -> 100%s done %d\n");
}

TEST(HaltReport, ALongParameterIsCutToTheReportBuffer)
{
    std::string name(5000, 'n');
    std::string text = report("Cannot open disc image '%s'", name.c_str(), 2);
    std::string prefix = "*** TOBRIN HALTED ***\nFile Error -> ";
    ASSERT_EQ(text.compare(0, prefix.size(), prefix), 0);
    std::string message = text.substr(prefix.size());
    ASSERT_FALSE(message.empty());
    EXPECT_EQ(message.back(), '\n');
    EXPECT_EQ(message.size(), 1023u + 1u);  // 1023 characters and the newline
    EXPECT_EQ(message.substr(0, 24), "Cannot open disc image '");
}

}  // namespace
