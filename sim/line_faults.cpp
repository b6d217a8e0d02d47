#include "sim/line_faults.h"

void line_faults_seed(LineFaults* faults, std::uint64_t seed)
{
    faults->seed = seed;
    faults->random.seed(seed);
}

LineFate line_faults_apply(LineFaults* faults, bool to_einstein, std::uint64_t now, std::uint8_t* byte)
{
    if (now >= faults->cut_at) {
        faults->cut_bytes++;
        return LineFate::Drop;
    }
    if (!faults->active) return LineFate::Pass;
    std::uint64_t n = to_einstein ? faults->counted_to++ : faults->counted_from++;
    if (n == (to_einstein ? faults->drop_byte_to : faults->drop_byte_from)) {
        (to_einstein ? faults->dropped_to : faults->dropped_from)++;
        return LineFate::Drop;
    }
    if (n == (to_einstein ? faults->change_byte_to : faults->change_byte_from)) {
        *byte = static_cast<std::uint8_t>(*byte ^ 0x5A);
        (to_einstein ? faults->corrupted_to : faults->corrupted_from)++;
        return LineFate::Corrupt;
    }
    double drop = to_einstein ? faults->drop_to_einstein : faults->drop_from_einstein;
    double corrupt = to_einstein ? faults->corrupt_to_einstein : faults->corrupt_from_einstein;
    if (drop <= 0 && corrupt <= 0) return LineFate::Pass;
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    if (drop > 0 && chance(faults->random) < drop) {
        (to_einstein ? faults->dropped_to : faults->dropped_from)++;
        return LineFate::Drop;
    }
    if (corrupt > 0 && chance(faults->random) < corrupt) {
        // A burst on the line flips one to eight bits.
        std::uniform_int_distribution<int> mask(1, 255);
        *byte = static_cast<std::uint8_t>(*byte ^ mask(faults->random));
        (to_einstein ? faults->corrupted_to : faults->corrupted_from)++;
        return LineFate::Corrupt;
    }
    return LineFate::Pass;
}
