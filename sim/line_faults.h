// line_faults.h - faults on the virtual Einstein's RS-232 line, arranged on
// purpose and reproducible: the same seed gives the same faults at the same
// bytes.
//
// Each direction has its own rate of bytes dropped (they never arrive) and
// of bytes corrupted (a byte arrives, but not the one sent).  From a chosen
// emulated time the line is cut (nothing passes either way).  (How the
// PC's adapter keeps to CTS is the adapter's: sim/serial_adapter.h.)  The
// counters say what was done, and
// corrupted bytes are marked so that the machine can tell which of them
// its program took in.
#pragma once
#include <cstdint>
#include <random>

struct LineFaults {
    double drop_to_einstein = 0;       // rate of the PC's bytes that never arrive
    double drop_from_einstein = 0;     // rate of the Einstein's bytes that never arrive
    double corrupt_to_einstein = 0;    // rate of the PC's bytes that arrive changed
    double corrupt_from_einstein = 0;  // rate of the Einstein's bytes that arrive changed
    std::uint64_t cut_at = UINT64_MAX; // emulated T-state from which nothing passes
    // Single faults at chosen bytes, counted from 0 while active: drop or
    // change the n-th byte of the PC, or of the Einstein (UINT64_MAX: none).
    std::uint64_t drop_byte_to = UINT64_MAX, change_byte_to = UINT64_MAX;
    std::uint64_t drop_byte_from = UINT64_MAX, change_byte_from = UINT64_MAX;
    std::uint64_t counted_to = 0, counted_from = 0;
    bool active = true;                // drops and changes happen (the cut always does)
    std::uint64_t seed = 1;            // of the generator below
    std::mt19937_64 random{1};         // draws every fault
    // What was done.
    std::uint64_t dropped_to = 0, dropped_from = 0;
    std::uint64_t corrupted_to = 0, corrupted_from = 0;
    std::uint64_t cut_bytes = 0;       // bytes lost to the cut
};

enum class LineFate { Pass, Drop, Corrupt };

// Seeds the generator (call once the rates are set).
void line_faults_seed(LineFaults* faults, std::uint64_t seed);
// What happens to one byte at emulated time `now`; for Corrupt, *byte is
// changed (into another value).
LineFate line_faults_apply(LineFaults* faults, bool to_einstein, std::uint64_t now, std::uint8_t* byte);
