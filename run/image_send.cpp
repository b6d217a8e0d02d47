// image_send.cpp - the image write on the console.
#include "run/image_send.h"

#include <cstdio>

#include "image/default_image.h"
#include "link/image_transfer.h"
#include "report/halt_report.h"
#include "run/link_lines.h"

// The write, then what it came to: the faults recovered, the compression,
// the read back, and the sectors that could not be written.
static int send_and_report(DiscImage* loaded, const char* name, int verify, bool fast, ProgramState* program)
{
    print_link_events();
    DiscImageOwner builtin;
    DiscImage* image = loaded;
    if (name == nullptr) {
        std::printf("2) Sending standard disk image, please wait\n");
        std::fflush(stdout);
        builtin.reset(image_open_memory(default_image, default_image_length));
        image = builtin.get();
        if (image == nullptr) return 0;
    }
    TransferReport report = send_image(image, name == nullptr, verify != 0, fast, program);
    if (!report.sent) return 0;
    if (report.recoveries > 0) {
        std::printf("\n  + %d line fault%s recovered (%.0f s)", report.recoveries, report.recoveries == 1 ? "" : "s",
                    report.recovery_seconds);
        std::fflush(stdout);
    }
    if (report.packed && report.packing.sector_bytes > 0) {
        std::printf("\n  + %llu bytes of sectors went as %llu compressed (%.2f to 1)",
                    static_cast<unsigned long long>(report.packing.sector_bytes),
                    static_cast<unsigned long long>(report.packing.packed_bytes),
                    static_cast<double>(report.packing.sector_bytes) / static_cast<double>(report.packing.packed_bytes));
        std::fflush(stdout);
    }
    if (report.verified) {
        std::printf("\n  + %d sectors verified, %d needed a rewrite", static_cast<int>(report.status.size()) - report.failed,
                    report.rewritten);
        std::fflush(stdout);
    }
    if (report.failed > 0) {
        std::printf("\n");
        print_sector_failures(report.status, report.sectors_per_cylinder);
        char count[16];
        std::snprintf(count, sizeof count, "%d", report.failed);
        halt_report("%s sector(s) could not be written", count, HALT_EINSTEIN);
        return 0;
    }
    return 1;
}

int transfer_image(const char* name)
{
    DiscImageOwner image;
    if (name != nullptr) {
        std::printf("2) Sending disk image %s, please wait.\n", name);
        std::fflush(stdout);
        image.reset(image_load_file(name));
        if (!image) return 0;
        image_describe(image.get());
    }
    ProgramState program;
    return send_and_report(image.get(), name, 0, false, &program);
}

int transfer_loaded_image(DiscImage* image, const char* name, int verify, bool fast, ProgramState* program)
{
    if (name != nullptr && image == nullptr) return 0;  // nothing was loaded under that name
    if (name != nullptr) {
        std::printf("2) Sending disk image %s, please wait.\n", name);
        image_describe(image);
    }
    return send_and_report(image, name, verify, fast, program);
}
