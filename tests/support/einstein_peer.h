// einstein_peer.h - the Einstein's side of the image transfer, written in
// the test: sends the drive flags, takes the geometry, receives every batch
// of sectors in the block framing (its checksum first), answers each batch
// with a status block, and records everything it saw.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "tests/support/disc_builder.h"
#include "tests/support/pty_line.h"

struct EinsteinTranscript {
    Bytes geometry;                 // the three geometry bytes
    std::vector<Bytes> sectors;     // every sector received, in order
    std::vector<bool> sent_as_fill; // per sector: came as 03h + value
    int batches = 0;                // batch bytes seen
    int reports = 0;                // report commands seen
    bool end_byte = false;          // the end byte came last
};

struct EinsteinScript {
    std::uint8_t flags = 0x00;
    // The status block for a batch (80 bytes); zeros when empty.
    std::function<Bytes(int batch)> status = nullptr;
    // Checksum passes to fail for sector n (0: accept the first pass).
    std::function<int(int sector)> bad_passes = nullptr;
    // Asked for its report again (command 01h) after the given batch: the
    // drive flags and status block it then sends; the same as before when
    // empty.
    std::function<Bytes(int batch)> status_again = nullptr;
    std::uint8_t flags_again = 0xFF;  // FFh: the same flags as before
};

// Plays the script on the line until the end byte; fills transcript.
void play_einstein(PtyLine& line, const EinsteinScript& script, EinsteinTranscript& transcript);

// Receives one block as the Einstein does (marker, then fill or full with
// the checksum exchange); failing the first `bad_passes` checksum
// comparisons.  Returns the block; *fill tells which form came.
Bytes einstein_receive_block(PtyLine& line, std::size_t length, int bad_passes, bool* fill);
// Sends one block as the Einstein does.
void einstein_send_block(PtyLine& line, const Bytes& block);
