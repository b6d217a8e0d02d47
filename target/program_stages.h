// program_stages.h - the parts of the target program's binary: the
// program the monitor loader takes (at most 2048 bytes, run at 0100h), and
// the second stage whose bytes follow it (run at stage_two_start, sent only
// by the runs that need it, in two checked blocks: its first part - the
// verified batches, the checked format, its command dispatch - and its
// second, which -read and -fast need as well).
#pragma once
#include <cstdint>

#include "target/target_program.h"

inline constexpr std::int32_t target_program_size =
    target_program_image_labels::program_end - target_program_image_labels::program_start;
inline constexpr const unsigned char* target_stage_two_image = target_program_image + target_program_size;
inline constexpr std::int32_t target_stage_two_size = target_program_length - target_program_size;
static_assert(target_stage_two_size ==
              target_program_image_labels::stage_two_end - target_program_image_labels::stage_two_start);
inline constexpr std::int32_t target_stage_two_first_size =
    target_program_image_labels::stage_rest_start - target_program_image_labels::stage_two_start;
inline constexpr const unsigned char* target_stage_two_rest_image = target_stage_two_image + target_stage_two_first_size;
inline constexpr std::int32_t target_stage_two_rest_size = target_stage_two_size - target_stage_two_first_size;
