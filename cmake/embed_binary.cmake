# Writes a Z80 binary as a C++ header: the byte array ARRAY and its length
# LENGTH as constants (usable at compile time, so that the default disc
# image can be built from the boot code by the compiler), and one constant
# per assembler label (LABELS) in namespace ARRAY_labels, so that the PC
# program, the tests and the simulator find routines and variables by name.
file(READ ${BIN} hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR count "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " body "${body}")

set(label_defs "")
if(EXISTS ${LABELS})
  file(STRINGS ${LABELS} lines)
  foreach(line IN LISTS lines)
    if(line MATCHES "^([A-Za-z_][A-Za-z0-9_]*):[ \t]+equ[ \t]+\\$([0-9a-fA-F]+)")
      string(APPEND label_defs "inline constexpr std::uint16_t ${CMAKE_MATCH_1} = 0x${CMAKE_MATCH_2};\n")
    endif()
  endforeach()
endif()

file(WRITE ${HEADER}.new "// Generated from ${BIN} at build time; do not edit.
#pragma once
#include <cstdint>

inline constexpr unsigned char ${ARRAY}[${count}] = {
    ${body}
};
inline constexpr std::int32_t ${LENGTH} = ${count};

namespace ${ARRAY}_labels {
${label_defs}}
")
# Rewrite only on change, so that an unchanged program rebuilds nothing.
file(COPY_FILE ${HEADER}.new ${HEADER} ONLY_IF_DIFFERENT)
file(REMOVE ${HEADER}.new)
