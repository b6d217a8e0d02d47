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
//
// Every wait is bounded (link/link_limits.h).  When the Einstein's checksum
// does not come after a block the PC sent, a byte was lost on the way: the
// PC sends pad bytes one at a time until the Einstein, its count complete,
// answers, and then answers with a checksum that cannot agree, so that both
// ends start the block again, in step.  A block that still does not get
// through - no answer, more than LINK_MAX_PASSES passes, the Einstein's
// time-out notice in place of a marker - ends the exchange with its fault:
// the caller recovers (link/recovery.h).
#pragma once
#include <cstdint>

#include "link/wire_protocol.h"  // the markers and the time-out notice

// The direction flag of transfer_block.
constexpr int TRANSFER_SEND = 1;     // the PC sends the block
constexpr int TRANSFER_RECEIVE = 0;  // the PC receives it
// The PC sends the bytes without a marker and never in the fill form: a
// compressed sector's block, which says its own length (target/packed.asm).
constexpr int TRANSFER_SEND_UNMARKED = 2;

// Why the last transfer_block did not get its block across.
enum BlockFault {
    BLOCK_OK = 0,
    BLOCK_NO_ANSWER,      // the Einstein stopped answering
    BLOCK_TOO_MANY_PASSES,// the checksums disagreed LINK_MAX_PASSES times
    BLOCK_LOST_STEP,      // a byte that cannot be there: the two ends disagree on where they are
    BLOCK_EINSTEIN_TIMED_OUT, // the Einstein's time-out notice came
    BLOCK_LINK_DEAD,      // the port failed or took no byte
    BLOCK_VERIFY_MISMATCH,// -verify: a sector read back different from what the PC sent
};
// The fault in words, for the console.
const char* block_fault_text(BlockFault fault);

// Sends (TRANSFER_SEND, TRANSFER_SEND_UNMARKED) or receives (TRANSFER_RECEIVE) the block of length
// bytes.  Returns BLOCK_OK once the block is across, else why it could not
// be.  Every byte is waited for as long as the line takes.
BlockFault exchange_block(std::uint8_t* block, int length, const char* label, int send);
// The same as 1 when the block is across, 0 when it is not.
int transfer_block(std::uint8_t* block, int length, const char* label, int send);
// The receiving half after the marker, which the caller has read (and
// waited for as long as it knew the Einstein might take).
BlockFault receive_block_marked(std::uint8_t marker, std::uint8_t* block, int length);
// The fault of a wait for the Einstein that ran out: the port failed, or
// the Einstein said nothing.
BlockFault silence_fault();
