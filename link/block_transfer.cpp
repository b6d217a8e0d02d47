// block_transfer.cpp - the checksummed block exchange, PC side.
#include "link/block_transfer.h"

#include <cstring>

#include "link/link_console.h"
#include "link/link_limits.h"
#include "link/serial_port.h"

const char* block_fault_text(BlockFault fault)
{
    switch (fault) {
    case BLOCK_OK: return "no fault";
    case BLOCK_NO_ANSWER: return "the Einstein stopped answering";
    case BLOCK_TOO_MANY_PASSES: return "the checksums kept disagreeing";
    case BLOCK_LOST_STEP: return "the exchange lost step";
    case BLOCK_EINSTEIN_TIMED_OUT: return "the Einstein timed out";
    case BLOCK_LINK_DEAD: return "the serial port stopped working";
    case BLOCK_VERIFY_MISMATCH: return "a sector read back different from the image";
    }
    return "unknown";
}

static BlockFault fail(BlockFault fault)
{
    return serial_port.failed ? BLOCK_LINK_DEAD : fault;
}

BlockFault silence_fault()
{
    return fail(BLOCK_NO_ANSWER);
}

static bool all_equal(const std::uint8_t* block, int length)
{
    for (int i = 1; i < length; ++i)
        if (block[i] != block[0]) return false;
    return true;
}

// The Einstein's checksum after the PC's pass of `written` bytes, whose
// own sum is `mine`.  When it does not come, bytes were lost on the way and
// the Einstein still counts: pad bytes, one at a time, complete its count.
// The first pad is the PC's checksum itself, so that an answer that was
// only late (the pad then ends the Einstein's pass as the PC's checksum)
// still leaves both ends in step.  *padded tells that pads went out.
//
// Every wait covers the line time of what is in flight and the adapter's
// slack, however fast the line answered before: a real line is never
// faster than its bytes.  A pad sent to an answer that was merely late
// would be taken, after the first, as the next block's marker (pads are
// 00h, the full-block marker), and the exchange would lose step.
static bool einstein_checksum(int written, std::uint8_t mine, std::uint8_t* theirs, bool* padded)
{
    *padded = false;
    if (recv_byte_within(theirs, link_answer_s(written))) return true;
    for (int pad = 0; pad < LINK_MAX_PADS && !serial_port.failed; ++pad) {
        if (!send_byte(pad == 0 ? mine : LINK_PAD_BYTE)) return false;
        *padded = true;
        if (recv_byte_within(theirs, LINK_PAD_WAIT_S)) return true;
    }
    return false;
}

// The full-block loop of a block the PC sends.
static BlockFault send_passes(const std::uint8_t* block, int length, bool* notice_shown, const char* label, int marker)
{
    int unanswered = marker;  // bytes sent before the block: its marker
    for (int pass = 0;; ++pass) {
        if (pass >= LINK_MAX_PASSES) return fail(BLOCK_TOO_MANY_PASSES);
        if (pass > 0 && label != nullptr && !*notice_shown) {
            link_console().checksum_retry();
            *notice_shown = true;
        }
        std::uint8_t checksum = 0;
        for (int i = 0; i < length; ++i) {
            if (!send_byte(block[i])) return fail(BLOCK_LINK_DEAD);
            checksum = static_cast<std::uint8_t>(checksum + block[i]);
        }
        std::uint8_t theirs = 0;
        bool padded = false;
        if (!einstein_checksum(unanswered + length, checksum, &theirs, &padded)) return fail(BLOCK_NO_ANSWER);
        unanswered = 0;
        if (padded) {
            // The checksum of the PC's own bytes: the answer was late, the
            // first pad has ended the pass as agreed.  Anything else: the
            // Einstein summed pads the PC never meant as data - answer with
            // a checksum that cannot agree, so that both ends go round again.
            if (theirs == checksum) return BLOCK_OK;
            if (!send_byte(static_cast<std::uint8_t>(theirs ^ 0xFF))) return fail(BLOCK_LINK_DEAD);
            continue;
        }
        if (!send_byte(checksum)) return fail(BLOCK_LINK_DEAD);
        if (theirs == checksum) return BLOCK_OK;
    }
}

// The full-block loop of a block the PC receives.  A byte that does not
// come was lost on the way: the PC answers at once with a checksum that
// cannot agree, and the Einstein sends the block again.
static BlockFault receive_passes(std::uint8_t* block, int length)
{
    for (int pass = 0;; ++pass) {
        if (pass >= LINK_MAX_PASSES) return fail(BLOCK_TOO_MANY_PASSES);
        std::uint8_t checksum = 0, last = 0;
        int got = 0;
        for (; got < length; ++got) {
            if (!recv_byte_within(&block[got], link_answer_s(1))) break;
            last = block[got];
            checksum = static_cast<std::uint8_t>(checksum + block[got]);
        }
        std::uint8_t theirs = 0;
        bool complete = got == length && recv_byte_within(&theirs, link_answer_s(1));
        if (serial_port.failed) return fail(BLOCK_LINK_DEAD);
        if (!complete && got == 0 && pass > 0) return fail(BLOCK_NO_ANSWER);
        std::uint8_t answer = checksum;
        if (!complete) answer = static_cast<std::uint8_t>((got == length ? checksum : last) ^ 0xFF);
        if (!send_byte(answer)) return fail(BLOCK_LINK_DEAD);
        if (complete && theirs == checksum) return BLOCK_OK;
    }
}

int transfer_block(std::uint8_t* block, int length, const char* label, int send)
{
    return exchange_block(block, length, label, send) == BLOCK_OK;
}

BlockFault exchange_block(std::uint8_t* block, int length, const char* label, int send)
{
    if (label != nullptr) link_console().progress(label);

    bool notice_shown = false;
    BlockFault result;
    if (send == TRANSFER_SEND_UNMARKED) {
        result = send_passes(block, length, &notice_shown, label, 0);
    } else if (send != TRANSFER_RECEIVE) {
        if (all_equal(block, length)) {
            send_byte(FILL_MARKER);
            if (!send_byte(block[0])) return fail(BLOCK_LINK_DEAD);
            return BLOCK_OK;
        }
        if (!send_byte(FULL_MARKER)) return fail(BLOCK_LINK_DEAD);
        result = send_passes(block, length, &notice_shown, label, 1);
    } else {
        std::uint8_t marker = 0;
        if (!recv_byte_within(&marker, link_answer_s(1))) return fail(BLOCK_NO_ANSWER);
        result = receive_block_marked(marker, block, length);
    }

    if (result == BLOCK_OK && label != nullptr && notice_shown) link_console().checksum_cleared(label);
    return result;
}

BlockFault receive_block_marked(std::uint8_t marker, std::uint8_t* block, int length)
{
    if (marker == TIMEOUT_NOTICE) return fail(BLOCK_EINSTEIN_TIMED_OUT);
    if (marker == FILL_MARKER) {
        std::uint8_t value = 0;
        if (!recv_byte_within(&value, link_answer_s(1))) return fail(BLOCK_NO_ANSWER);
        std::memset(block, value, static_cast<std::size_t>(length));
        return BLOCK_OK;
    }
    // any other marker: a full block
    return receive_passes(block, length);
}
