#include "tests/support/einstein_peer.h"

#include <stdexcept>

#include "tests/support/scripted_peer.h"

Bytes einstein_receive_block(PtyLine& line, std::size_t length, int bad_passes, bool* fill)
{
    std::uint8_t marker = line.receive_byte();
    if (marker == 0x03) {
        *fill = true;
        return Bytes(length, line.receive_byte());
    }
    *fill = false;
    for (int pass = 0;; ++pass) {
        Bytes block = line.receive(length);
        std::uint8_t mine = block_checksum(block);
        if (pass < bad_passes) mine = static_cast<std::uint8_t>(mine ^ 0x5A);
        line.send_byte(mine);
        std::uint8_t theirs = line.receive_byte();
        if (theirs == mine) return block;
    }
}

void einstein_send_block(PtyLine& line, const Bytes& block)
{
    bool uniform = true;
    for (auto b : block) uniform = uniform && b == block[0];
    if (uniform) {
        line.send({0x03, block[0]});
        return;
    }
    line.send_byte(0x00);
    for (;;) {
        line.send(block);
        std::uint8_t mine = block_checksum(block);
        line.send_byte(mine);
        if (line.receive_byte() == mine) return;
    }
}

void play_einstein(PtyLine& line, const EinsteinScript& script, EinsteinTranscript& transcript)
{
    line.send_byte(script.flags);
    transcript.geometry = line.receive(3);
    std::size_t batch_size = transcript.geometry[2];
    for (;;) {
        std::uint8_t command = line.receive_byte();
        if (command == 0x02) {
            transcript.end_byte = true;
            return;
        }
        if (command == 0x01) {  // the flags and the last status block again
            int last_batch = transcript.batches - 1;
            ++transcript.reports;
            line.send_byte(script.flags_again == 0xFF ? script.flags : script.flags_again);
            Bytes last = script.status ? script.status(last_batch) : Bytes(batch_size, 0);
            einstein_send_block(line, script.status_again ? script.status_again(last_batch) : last);
            continue;
        }
        if (command != 0x00) throw std::runtime_error("unexpected batch byte");
        for (std::size_t k = 0; k < batch_size; ++k) {
            bool fill = false;
            int bad = script.bad_passes ? script.bad_passes(static_cast<int>(transcript.sectors.size())) : 0;
            transcript.sectors.push_back(einstein_receive_block(line, 512, bad, &fill));
            transcript.sent_as_fill.push_back(fill);
        }
        Bytes status = script.status ? script.status(transcript.batches) : Bytes(batch_size, 0);
        einstein_send_block(line, status);
        ++transcript.batches;
    }
}
