// halt_report.cpp - the halt report.
#include "report/halt_report.h"

#include <cstdio>

// The formatted message is cut to fit this buffer (a long file name in
// "Cannot open disc image '%s'" cannot overrun it).
static const int HALT_MESSAGE_SIZE = 1024;

static const char* category_name(int category)
{
    switch (category) {
    case HALT_RESOURCE: return "Resource";
    case HALT_FILE: return "File";
    case HALT_EINSTEIN:
    case HALT_EINSTEIN_RUN: return "Einstein";
    default: return "Syntax";
    }
}

void halt_report(const char* message, const char* parameter, int category)
{
    char text[HALT_MESSAGE_SIZE];
    std::printf("*** TOBRIN HALTED ***\n");
    if (parameter != nullptr)
        std::snprintf(text, sizeof text, message, parameter);
    else
        std::snprintf(text, sizeof text, "%s", message);
    std::printf("%s Error -> %s\n", category_name(category), text);
    std::fflush(stdout);
}

void halt_hint(const char* text)
{
    std::printf("  + %s\n", text);
    std::fflush(stdout);
}
