// loader_listing.cpp - hex lines of the assembled monitor loader.
#include "target/loader_listing.h"

#include <cstdio>

#include "target/monitor_loader.h"

static const int BYTES_PER_LINE = 8;

int loader_address()
{
    return monitor_loader_image_labels::loader_start;
}

void print_loader_lines(const char* indent, int with_addresses)
{
    for (int line = 0; line < monitor_loader_length; line += BYTES_PER_LINE) {
        std::printf("%s", indent);
        if (with_addresses) std::printf("%04X ", loader_address() + line);
        for (int i = line; i < line + BYTES_PER_LINE && i < monitor_loader_length; ++i)
            std::printf("%02X", monitor_loader_image[i]);
        std::printf("\n");
    }
}

int loader_length()
{
    return monitor_loader_length;
}
