#include "tests/support/sim_rig.h"

#include <z80ex/z80ex.h>

#include <algorithm>

#include "image/dsk_codec.h"
#include "target/program_stages.h"
#include "target/target_program.h"
#include "tests/support/scripted_peer.h"

namespace {
constexpr std::uint16_t RETURN_TRAP = 0xF000;  // a HALT the called routines return into
}

SimRig::SimRig(const EinsteinConfig& config) : machine_(new Einstein())
{
    einstein_init(machine_.get(), config);
}

SimRig::~SimRig()
{
    einstein_destroy(machine_.get());
}

void SimRig::start_program()
{
    program_loaded_ = true;
    einstein_load(machine_.get(), 0x0100, target_program_image, target_program_size);
    einstein_start(machine_.get(), 0x0100, 0xFCFF);
}

void SimRig::call(std::uint16_t address, std::uint16_t hl, std::uint16_t bc, std::uint16_t de)
{
    Einstein* e = machine_.get();
    if (!program_loaded_) {
        program_loaded_ = true;
        einstein_load(e, 0x0100, target_program_image, target_program_size);
        // As the program's start leaves it: no second stage yet.
        e->ram[target_program_image_labels::stage_two_loaded] = target_program_image_labels::STAGE_TWO_ABSENT;
    }
    e->ram[RETURN_TRAP] = 0x76;  // HALT
    // The routine's return address on the program's own stack.
    std::uint16_t sp = target_program_image_labels::stack_top - 2;
    einstein_start(e, address, sp);
    e->ram[sp] = RETURN_TRAP & 0xFF;
    e->ram[sp + 1] = RETURN_TRAP >> 8;
    auto* cpu = static_cast<Z80EX_CONTEXT*>(e->cpu);
    z80ex_set_reg(cpu, regHL, hl);
    z80ex_set_reg(cpu, regBC, bc);
    z80ex_set_reg(cpu, regDE, de);
}

StopReason SimRig::run_to_halt(std::uint64_t max_tstates)
{
    return einstein_run(machine_.get(), max_tstates, false);
}

StopReason SimRig::run_until_starved(std::uint64_t max_tstates)
{
    return einstein_run(machine_.get(), max_tstates, true);
}

void SimRig::pause(double seconds)
{
    einstein_run(machine_.get(), static_cast<std::uint64_t>(seconds * CPU_HZ), false);
}

std::uint16_t SimRig::reg(int r) const
{
    return z80ex_get_reg(static_cast<Z80EX_CONTEXT*>(machine_->cpu), static_cast<Z80_REG_T>(r));
}

void SimRig::send(const Bytes& bytes)
{
    for (auto b : bytes) machine_->host.to_einstein.push_back(b);
}

Bytes SimRig::receive(std::size_t n, std::uint64_t max_tstates)
{
    Einstein* e = machine_.get();
    std::uint64_t limit = e->clock + max_tstates;
    while (e->host.from_einstein.size() < n) {
        if (e->clock >= limit) throw std::runtime_error("the Einstein sent nothing in time");
        StopReason why = einstein_run(e, 20000, true);
        if (why == StopReason::Starved && e->host.from_einstein.size() < n)
            throw std::runtime_error("the Einstein waits for the PC instead of answering");
        if (why == StopReason::Monitor || why == StopReason::Halted) {
            // Stopped: what is still on the line reaches the PC all the same.
            while (e->host.from_einstein.size() < n && usart_next_event(&e->usart) != UINT64_MAX)
                usart_advance(&e->usart, usart_next_event(&e->usart));
            if (e->host.from_einstein.size() < n) throw std::runtime_error("the Einstein stopped");
        }
    }
    Bytes out(e->host.from_einstein.begin(), e->host.from_einstein.begin() + static_cast<long>(n));
    e->host.from_einstein.erase(e->host.from_einstein.begin(), e->host.from_einstein.begin() + static_cast<long>(n));
    return out;
}

void SimRig::send_block(const Bytes& block, int bad_passes)
{
    bool uniform = true;
    for (auto b : block) uniform = uniform && b == block[0];
    if (uniform) {
        send({0x03, block[0]});
        return;
    }
    send_byte(0x00);
    for (int pass = 0;; ++pass) {
        send(block);
        std::uint8_t theirs = receive_byte();  // the Einstein's checksum comes first
        std::uint8_t mine = block_checksum(block);
        if (pass < bad_passes) mine = static_cast<std::uint8_t>(mine ^ 0xFF);
        send_byte(mine);
        if (theirs == mine) return;
    }
}

Bytes SimRig::receive_block(std::size_t length, int bad_passes, bool* fill)
{
    std::uint8_t marker = receive_byte();
    while (marker == target_program_image_labels::WORKING_NOTICE) marker = receive_byte();  // the Einstein's word that it still works
    if (fill) *fill = marker == 0x03;
    if (marker == 0x03) return Bytes(length, receive_byte());
    for (int pass = 0;; ++pass) {
        Bytes block = receive(length);
        std::uint8_t theirs = receive_byte();
        std::uint8_t mine = block_checksum(block);
        if (pass < bad_passes) mine = static_cast<std::uint8_t>(mine ^ 0xFF);
        send_byte(mine);
        if (theirs == mine) return block;
    }
}

Bytes SimRig::receive_block_granting(std::size_t length, const Bytes& stream)
{
    namespace label = target_program_image_labels;
    std::size_t sent = 0;
    for (;;) {
        std::uint8_t b = receive_byte();
        if (b == label::WORKING_NOTICE) continue;
        if (b < label::GRANT_UNITS) {
            machine_->host.from_einstein.push_front(b);  // the status block's marker
            return receive_block(length);
        }
        std::size_t more = b == label::GRANT_REST ? stream.size() : static_cast<std::size_t>(b - label::GRANT_UNITS) * label::GRANT_UNIT;
        std::size_t upto = std::min(stream.size(), sent + more);
        send(Bytes(stream.begin() + static_cast<std::ptrdiff_t>(sent), stream.begin() + static_cast<std::ptrdiff_t>(upto)));
        sent = upto;
    }
}

std::vector<int> interleaved_ids(int side)
{
    static const int order[] = {0, 5, 1, 6, 2, 7, 3, 8, 4, 9};
    std::vector<int> ids;
    for (int k : order) ids.push_back(side == 0 ? k : (k + 5) % 10 + 10);
    return ids;
}

void SimRig::preformat()
{
    Einstein* e = machine_.get();
    for (int t = 0; t < e->disk.tracks; ++t)
        for (int s = 0; s < e->disk.sides; ++s) {
            std::vector<std::uint8_t> bytes(32, 0x4E);
            std::vector<bool> sync(32, false);
            for (int id : interleaved_ids(s)) {
                auto put = [&](std::uint8_t v, bool is_sync = false) {
                    bytes.push_back(v);
                    sync.push_back(is_sync);
                };
                for (int i = 0; i < 12; ++i) put(0);
                std::size_t mark = bytes.size();
                for (int i = 0; i < 3; ++i) put(0xA1, true);
                for (std::uint8_t v : {std::uint8_t(0xFE), std::uint8_t(t), std::uint8_t(s), std::uint8_t(id), std::uint8_t(2)}) put(v);
                std::uint16_t crc = dsk::crc16(&bytes[mark], 8);
                put(static_cast<std::uint8_t>(crc >> 8));
                put(static_cast<std::uint8_t>(crc));
                for (int i = 0; i < 22; ++i) put(0x4E);
                for (int i = 0; i < 12; ++i) put(0);
                mark = bytes.size();
                for (int i = 0; i < 3; ++i) put(0xA1, true);
                put(0xFB);
                for (int i = 0; i < 512; ++i) put(0xE5);
                crc = dsk::crc16(&bytes[mark], 516);
                put(static_cast<std::uint8_t>(crc >> 8));
                put(static_cast<std::uint8_t>(crc));
                for (int i = 0; i < 44; ++i) put(0x4E);
            }
            disk_decode_track(&e->disk, t, s, bytes, sync);
        }
}
