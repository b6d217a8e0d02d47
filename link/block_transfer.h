// block_transfer.h - one block of bytes over the serial link, either way,
// with one framing for both:
//
//   03h v            every byte of the block is v (fill form, no checksum)
//   00h b0..bN-1 E P the bytes, then the Einstein's checksum E and the PC's
//                    P (sums modulo 256); while E != P both ends repeat the
//                    bytes and the two checksums, without a new marker.
//
// The Einstein always sends its checksum first and the PC answers, whichever
// way the data go.  With a label, the progress line "\r - label" is kept up
// to date, with " (checksum error)" once when a block needed another pass.
#pragma once
#include <cstdint>

constexpr std::uint8_t FILL_MARKER = 0x03;
constexpr std::uint8_t FULL_MARKER = 0x00;

// The direction flag of transfer_block.
constexpr int TRANSFER_SEND = 1;     // the PC sends the block
constexpr int TRANSFER_RECEIVE = 0;  // the PC receives it

// Sends (TRANSFER_SEND) or receives (TRANSFER_RECEIVE) the block of length bytes.
// Returns 1 once the block is across, 0 when the serial link has failed
// (the device refuses every byte): a dead link is not repeated for ever.
// A live but silent Einstein is waited for without limit.
int transfer_block(std::uint8_t* block, int length, const char* label, int send);
