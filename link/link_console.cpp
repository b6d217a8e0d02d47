// link_console.cpp - the console the link tells its events.
#include "link/link_console.h"

static void no_label(const char*) {}
static void nothing() {}
static void no_fit(const DriveFit&) {}
static void no_fault(const LineFault&) {}

static const LinkConsole SILENT = {no_label, nothing, no_label, nothing, no_fit, nothing, no_fault};
static LinkConsole installed = SILENT;

void link_console_install(const LinkConsole* console)
{
    installed = console != nullptr ? *console : SILENT;
    if (installed.progress == nullptr) installed.progress = SILENT.progress;
    if (installed.checksum_retry == nullptr) installed.checksum_retry = SILENT.checksum_retry;
    if (installed.checksum_cleared == nullptr) installed.checksum_cleared = SILENT.checksum_cleared;
    if (installed.progress_ends == nullptr) installed.progress_ends = SILENT.progress_ends;
    if (installed.drive_fit == nullptr) installed.drive_fit = SILENT.drive_fit;
    if (installed.still_writing == nullptr) installed.still_writing = SILENT.still_writing;
    if (installed.line_fault == nullptr) installed.line_fault = SILENT.line_fault;
}

const LinkConsole& link_console()
{
    return installed;
}
