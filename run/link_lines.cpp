// link_lines.cpp - the link's events on the console.
#include "run/link_lines.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "link/batch_exchange.h"
#include "link/link_console.h"
#include "link/wire_protocol.h"

static const char CHECKSUM_NOTICE[] = " (checksum error)";

static void show_progress(const char* label)
{
    std::printf("\r - %s", label);
    std::fflush(stdout);
}

static void show_checksum_retry()
{
    std::printf("%s", CHECKSUM_NOTICE);
    std::fflush(stdout);
}

// Spaces as long as the notice blank it out; then the cursor goes back
// after the label.
static void clear_checksum_retry(const char* label)
{
    std::printf("\r - %s%*s", label, static_cast<int>(sizeof CHECKSUM_NOTICE - 1), "");
    std::printf("\r - %s", label);
    std::fflush(stdout);
}

static void end_progress_line()
{
    std::printf("\n");
}

static void show_drive_fit(const DriveFit& fit)
{
    const char* s = fit.tracks_left_out == 1 ? "" : "s";
    if (fit.tracks_left_out > 0 && fit.side_left_out)
        std::printf("  + The image is larger than the drive (%d tracks, one side): %d track%s and side 1 left out\n",
                    fit.drive_tracks, fit.tracks_left_out, s);
    else if (fit.tracks_left_out > 0)
        std::printf("  + The image is larger than the drive (%d tracks): %d track%s left out\n", fit.drive_tracks,
                    fit.tracks_left_out, s);
    else
        std::printf("  + The image is larger than the drive (one side): side 1 left out\n");
    std::fflush(stdout);
}

static void show_still_writing()
{
    std::printf("\n  + The Einstein is still writing this batch (a sector is being tried again; its screen "
                "shows which): waiting while it works\n");
    std::fflush(stdout);
}

static void show_line_fault(const LineFault& fault)
{
    std::printf("\n  + Line fault (%s): %s track %02d sector %02d, try %d of %d\n", fault.cause, fault.restarting,
                fault.track, fault.sector, fault.attempt, fault.attempts);
    std::fflush(stdout);
}

static const LinkConsole PRINTED = {show_progress,  show_checksum_retry, clear_checksum_retry, end_progress_line,
                                    show_drive_fit, show_still_writing,  show_line_fault};

void print_link_events()
{
    link_console_install(&PRINTED);
}

int print_line_agreed(const LineAgreed& agreed)
{
    if (agreed.baud > 9600) std::printf(" * The line runs at %d baud\n", agreed.baud);
    else if (agreed.baud > 0) std::printf(" * The line stays at 9600 baud, with one stop bit: %s\n", agreed.why_not_faster.c_str());
    else std::printf(" * The line stays at 9600 baud: %s\n", agreed.why_not_faster.c_str());
    std::fflush(stdout);
    return agreed.baud;
}

void print_sector_failures(const std::vector<std::uint8_t>& status, int spc)
{
    int tracks = static_cast<int>(status.size()) / spc;
    for (int track = 0; track < tracks; ++track)
        for (int first_id = 0; first_id < spc; first_id += SECTORS_PER_SIDE) {
            const std::uint8_t* side = &status[static_cast<std::size_t>(track * spc + first_id)];
            std::vector<const char*> causes;  // in the order they first appear
            for (int k = 0; k < SECTORS_PER_SIDE; ++k) {
                if (sector_written(side[k])) continue;
                const char* cause = sector_failure_text(side[k]);
                bool known = false;
                for (const char* c : causes) known = known || std::strcmp(c, cause) == 0;
                if (!known) causes.push_back(cause);
            }
            for (const char* cause : causes) {
                auto fails = [&](int k) {
                    return k < SECTORS_PER_SIDE && !sector_written(side[k]) &&
                           std::strcmp(sector_failure_text(side[k]), cause) == 0;
                };
                std::string ids;
                int count = 0;
                for (int k = 0; k < SECTORS_PER_SIDE; ++k) {
                    if (!fails(k)) continue;
                    int from = k;
                    while (fails(k + 1)) ++k;
                    char part[32];
                    if (from == k) std::snprintf(part, sizeof part, "%s%02d", ids.empty() ? "" : ", ", first_id + from);
                    else std::snprintf(part, sizeof part, "%s%02d-%02d", ids.empty() ? "" : ", ", first_id + from, first_id + k);
                    ids += part;
                    count += k - from + 1;
                }
                std::printf("  + Track %02d side %d: sector%s %s: %s\n", track, first_id / SECTORS_PER_SIDE,
                            count == 1 ? "" : "s", ids.c_str(), cause);
            }
        }
}
