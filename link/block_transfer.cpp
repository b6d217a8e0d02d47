// block_transfer.cpp - the checksummed block exchange, PC side.
#include "link/block_transfer.h"

#include <cstdio>
#include <cstring>

#include "link/serial_port.h"

static const char CHECKSUM_NOTICE[] = " (checksum error)";

static bool all_equal(const std::uint8_t* block, int length)
{
    for (int i = 1; i < length; ++i)
        if (block[i] != block[0]) return false;
    return true;
}

int transfer_block(std::uint8_t* block, int length, const char* label, int send)
{
    if (label != nullptr) {
        std::printf("\r - %s", label);
        std::fflush(stdout);
    }

    if (send != TRANSFER_RECEIVE) {
        if (all_equal(block, length)) {
            send_byte(FILL_MARKER);
            send_byte(block[0]);
            return !serial_port.failed;
        }
        send_byte(FULL_MARKER);
    } else {
        std::uint8_t marker = recv_byte();
        if (serial_port.failed) return 0;
        if (marker == FILL_MARKER) {
            std::uint8_t value = recv_byte();
            if (serial_port.failed) return 0;
            std::memset(block, value, static_cast<std::size_t>(length));
            return 1;
        }
        // any other marker: a full block
    }

    bool notice_shown = false;
    for (int pass = 0;; ++pass) {
        if (pass > 0 && label != nullptr && !notice_shown) {
            std::printf("%s", CHECKSUM_NOTICE);
            std::fflush(stdout);
            notice_shown = true;
        }
        std::uint8_t checksum = 0;
        for (int i = 0; i < length; ++i) {
            if (send != TRANSFER_RECEIVE) send_byte(block[i]);
            else block[i] = recv_byte();
            checksum = static_cast<std::uint8_t>(checksum + block[i]);
        }
        std::uint8_t theirs = recv_byte();  // the Einstein's checksum first
        send_byte(checksum);
        if (serial_port.failed) return 0;
        if (theirs == checksum) break;
    }

    if (label != nullptr && notice_shown) {
        // Spaces as long as the notice blank it out; then the cursor goes back after the label.
        std::printf("\r - %s%*s", label, static_cast<int>(sizeof CHECKSUM_NOTICE - 1), "");
        std::printf("\r - %s", label);
        std::fflush(stdout);
    }
    return 1;
}
