// fast_line.cpp - the second stage and a faster line (see fast_line.h).
#include "link/fast_line.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "link/block_transfer.h"
#include "link/link_console.h"
#include "link/link_limits.h"
#include "link/recovery.h"
#include "link/serial_port.h"
#include "link/wire_protocol.h"
#include "report/halt_report.h"
#include "target/program_stages.h"

namespace {

struct LineRate {
    int baud;           // what the PC sets
    int time_constant;  // what the Einstein's CTC divides by (+ ONE_STOP_BIT)
    int stop_bits;      // of the frame, at both ends
};
constexpr int ONE_STOP_BIT = target_program_image_labels::ONE_STOP_BIT;
constexpr LineRate MONITOR_RATE = {9600, 13, 2};
// The last is the monitor's rate with one stop bit: a tenth less time a
// byte where the line carries nothing faster.
constexpr LineRate FAST_RATES[] = {{31250, 4, 1}, {20833, 6, 1}, {9600, 13 + ONE_STOP_BIT, 1}};
constexpr double ADAPTER_TOLERANCE = 0.02;   // a rate further off counts as refused
constexpr double ANSWER_S = 1.0;             // the Einstein's "F"
constexpr double PROBE_SIZE = target_program_image_labels::PROBE_SIZE;
// The probe's echo: the line time of the probe and the adapter's slack
// (0.55 s); by its end an Einstein that did not take the probe whole has
// given up on it (0.43 s after its last byte) and is back at the
// monitor's rate, so that the next proposal needs only a margin more.
constexpr double ECHO_S = PROBE_SIZE * LINK_BYTE_S * 1.25 + LINK_ANSWER_SLACK_S;
constexpr double EINSTEIN_GIVES_UP_S = 0.1;
static_assert(ECHO_S > 0.43 + 0.05, "the Einstein's probe limit ends within the echo's wait");
constexpr int STAGE_TWO_TRIES = 3;

void pause_s(double seconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(seconds * 1000)));
}

// The probe as the program has it: the assembled bytes at fast_probe.
std::vector<std::uint8_t> probe()
{
    namespace labels = target_program_image_labels;
    const unsigned char* at = target_stage_two_image + (labels::fast_probe - labels::stage_two_start);
    return std::vector<std::uint8_t>(at, at + labels::PROBE_SIZE);
}

// The PC's port at a rate, with its stop bits.
bool set_pc_rate(const LineRate& rate, int* took)
{
    return serial_set_rate(rate.baud, rate.stop_bits, took);
}

// Can the adapter make the rate?  Empty when it can, else why not.
std::string adapter_refuses(const LineRate& rate)
{
    int took = 0;
    bool set = set_pc_rate(rate, &took);
    int back = 0;
    set_pc_rate(MONITOR_RATE, &back);
    char why[96];
    if (!set) {
        std::snprintf(why, sizeof why, "the adapter does not take %d baud", rate.baud);
        return why;
    }
    if (std::fabs(took - rate.baud) > ADAPTER_TOLERANCE * rate.baud) {
        std::snprintf(why, sizeof why, "the adapter makes %d baud when asked for %d", took, rate.baud);
        return why;
    }
    return "";
}

enum SwitchResult { NOT_HEARD, NOT_CARRIED, GARBLED, AGREED };

// Proposes the rate to the Einstein ("F" and its time constant); once it
// answers, the PC's port goes to the rate too and the probe goes across
// and back.  NOT_HEARD: no answer, the PC's port untouched; NOT_CARRIED:
// both switched but nothing of the echo came (the Einstein, which echoes
// only a probe that came whole, returns to the monitor's rate by itself);
// GARBLED: something came back, but not the probe (the Einstein may have
// taken the probe and stayed at the rate).
SwitchResult switch_line(const LineRate& rate, double quiet_s)
{
    const std::uint8_t n = static_cast<std::uint8_t>(rate.time_constant);
    pause_s(quiet_s);
    serial_discard_input();
    std::uint8_t answer = 0;
    if (!send_checked_command(FAST_COMMAND, &n, 1) || !recv_byte_within(&answer, ANSWER_S) ||
        answer != FAST_COMMAND)
        return NOT_HEARD;
    int took = 0;
    bool agreed = set_pc_rate(rate, &took);
    pause_s(0.02);
    serial_discard_input();
    std::vector<std::uint8_t> sent = probe();
    for (std::size_t i = 0; agreed && i < sent.size(); ++i) agreed = send_byte(sent[i]) == 1;
    if (!agreed) return NOT_CARRIED;
    std::uint8_t b = 0;
    if (!recv_byte_within(&b, ECHO_S)) return NOT_CARRIED;
    agreed = b == sent[0];
    for (std::size_t i = 1; agreed && i < sent.size(); ++i) agreed = recv_byte_within(&b, link_answer_s(1)) && b == sent[i];
    return agreed ? AGREED : GARBLED;
}

// Tries a faster rate: true when both ends are at it.  On false both are
// back at the monitor's rate (as far as the line lets the PC find out).
bool try_rate(const LineRate& rate, double quiet_s, ProgramState* program)
{
    SwitchResult result = switch_line(rate, quiet_s);
    if (result == AGREED) {
        program->line_baud = rate.baud;
        program->line_stop_bits = rate.stop_bits;
        return true;
    }
    int took = 0;
    if (result != NOT_HEARD) set_pc_rate(MONITOR_RATE, &took);
    pause_s(result == NOT_HEARD ? ECHO_S : EINSTEIN_GIVES_UP_S);  // unheard, it may have switched all the same
    serial_discard_input();
    if (result == GARBLED) {
        // The probe may have reached the Einstein whole and only its echo
        // failed: then the Einstein stays at the rate.  A switch to the
        // monitor's rate finds it, proposed at 9600 and else at the rate.
        if (switch_line(MONITOR_RATE, COMMAND_QUIET_S) != AGREED) {
            set_pc_rate(rate, &took);
            switch_line(MONITOR_RATE, COMMAND_QUIET_S);
            set_pc_rate(MONITOR_RATE, &took);
        }
    }
    return false;
}

// Sends one part of the second stage with its command until the Einstein
// says it took it: as one block, or in blocks of `piece` bytes (the last
// one shorter), each checked and sent again by itself.  A try that fails (the program's last bytes still on
// their way through an adapter's buffer, a line fault) leaves the Einstein
// to its poll limit: once it is back in its command loop the block goes
// again.  A block whose last checksum came damaged to the Einstein leaves
// it waiting for another pass, unanswered: a part counts only when the
// Einstein says it took it.
bool send_stage_part(std::uint8_t command, const unsigned char* bytes, int size, int piece)
{
    std::vector<std::uint8_t> code(bytes, bytes + size);
    BlockFault fault = BLOCK_OK;
    for (int tries = 0; tries < STAGE_TWO_TRIES; ++tries) {
        if (tries > 0 && !wait_for_command_loop(fault == BLOCK_EINSTEIN_TIMED_OUT).back) break;
        if (!send_byte(command)) break;
        fault = BLOCK_OK;
        for (int at = 0; at < size && fault == BLOCK_OK; at += piece)
            fault = exchange_block(code.data() + at, std::min(piece, size - at), nullptr, TRANSFER_SEND);
        std::uint8_t answer = 0;
        if (fault == BLOCK_OK && recv_byte_within(&answer, link_answer_s(1))) {
            if (answer == STAGE_TWO_TAKEN) return true;
            if (answer == TIMEOUT_NOTICE) fault = BLOCK_EINSTEIN_TIMED_OUT;
        }
    }
    return false;
}

}  // namespace

void wait_for_quiet_line()
{
    pause_s(COMMAND_AFTER_ANSWER_S);
}

bool resend_stage_two(ProgramState* program, bool whole)
{
    if (!program->stage_two_in_place) {
        program->stage_two_whole = false;
        program->stage_two_in_place =
            send_stage_part(STAGE_TWO_COMMAND, target_stage_two_image, target_stage_two_first_size,
                            target_stage_two_first_size);
        if (!program->stage_two_in_place) return false;
        if (whole) wait_for_quiet_line();
    }
    if (whole && !program->stage_two_whole)
        program->stage_two_whole =
            send_stage_part(STAGE_REST_COMMAND, target_stage_two_rest_image, target_stage_two_rest_size, STAGE_REST_PIECE);
    return !whole || program->stage_two_whole;
}

bool send_stage_two(ProgramState* program, bool whole)
{
    if (resend_stage_two(program, whole)) return true;
    link_console().progress_ends();
    halt_report("The second stage of the program did not get across to the Einstein. Check the cable, then "
                "run TOBRIN again (with -notrans when the Einstein shows \"[ Waiting to proceed\")",
                nullptr, HALT_EINSTEIN);
    return false;
}

LineAgreed agree_fast_line(ProgramState* program)
{
    std::string why;
    double quiet_s = COMMAND_AFTER_ANSWER_S;  // the first proposal follows the second stage's answer
    for (const LineRate& rate : FAST_RATES) {
        bool faster = rate.baud != MONITOR_RATE.baud;
        std::string refused = adapter_refuses(rate);
        bool tried = refused.empty();
        if (tried && try_rate(rate, quiet_s, program)) return {rate.baud, faster ? "" : why};
        if (tried) {
            quiet_s = COMMAND_QUIET_S;  // after a failed try the Einstein's state is less sure
            char text[64];
            std::snprintf(text, sizeof text, "the line did not carry %d baud%s", rate.baud,
                          faster ? "" : " with one stop bit");
            refused = text;
        }
        why += (why.empty() ? "" : "; ") + refused;
    }
    return {0, why};
}

void return_to_monitor_rate(ProgramState* program)
{
    if (program->line_baud == MONITOR_RATE.baud && program->line_stop_bits == MONITOR_RATE.stop_bits) return;
    // Unheard, the program is gone (it restarted the machine) or does not
    // listen: the PC's port goes back all the same.
    switch_line(MONITOR_RATE, COMMAND_QUIET_S);
    int took = 0;
    set_pc_rate(MONITOR_RATE, &took);
    program->line_baud = MONITOR_RATE.baud;
    program->line_stop_bits = MONITOR_RATE.stop_bits;
}
