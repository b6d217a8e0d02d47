// program_stages.h - the two parts of the target program's binary: the
// program the monitor loader takes (at most 2048 bytes, run at 0100h), and
// the second stage whose bytes follow it (run at stage_two_start, sent as
// one checked block only by the runs that need it).
#pragma once
#include <cstdint>

#include "target/target_program.h"

inline constexpr std::int32_t target_program_size =
    target_program_image_labels::program_end - target_program_image_labels::program_start;
inline constexpr const unsigned char* target_stage_two_image = target_program_image + target_program_size;
inline constexpr std::int32_t target_stage_two_size = target_program_length - target_program_size;
static_assert(target_stage_two_size ==
              target_program_image_labels::stage_two_end - target_program_image_labels::stage_two_start);
