# Z80 build pipeline: sources in target/ are assembled with Debian's z80asm
# 1.8 into a flat binary and a label file, then turned into C++ definitions
# so that the PC program carries the very bytes the assembler produced.

find_program(Z80ASM_EXECUTABLE z80asm)
if(NOT Z80ASM_EXECUTABLE)
  message(FATAL_ERROR "z80asm not found: install Debian's package 'z80asm' (version 1.8)")
endif()
execute_process(COMMAND ${Z80ASM_EXECUTABLE} -V
  OUTPUT_VARIABLE _z80asm_version ERROR_VARIABLE _z80asm_version RESULT_VARIABLE _z80asm_rc)
if(NOT _z80asm_version MATCHES "Z80 assembler version 1\\.8")
  message(FATAL_ERROR "${Z80ASM_EXECUTABLE} is not z80asm 1.8 (it says: ${_z80asm_version}); "
                      "TOBRIN's Z80 sources are written for Debian's package 'z80asm'")
endif()

set(Z80_OUTPUT_DIR ${CMAKE_BINARY_DIR}/z80)
set(Z80_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${Z80_OUTPUT_DIR} ${Z80_GENERATED_DIR}/target ${Z80_GENERATED_DIR}/image)

# z80_assemble(<name> SOURCE <file.asm> [DEPENDS files...] [CHECK <script.cmake>])
# Produces ${Z80_OUTPUT_DIR}/<name>.bin and <name>.lbl; sets <name>_BIN and
# <name>_LABELS in the caller.  A CHECK script runs after assembly with
# BIN and LABELS defined and fails the build with message(FATAL_ERROR).
function(z80_assemble name)
  cmake_parse_arguments(ARG "" "SOURCE;CHECK" "DEPENDS" ${ARGN})
  set(bin ${Z80_OUTPUT_DIR}/${name}.bin)
  set(lbl ${Z80_OUTPUT_DIR}/${name}.lbl)
  set(lst ${Z80_OUTPUT_DIR}/${name}.lst)
  get_filename_component(srcdir ${ARG_SOURCE} DIRECTORY)
  set(check_cmd "")
  if(ARG_CHECK)
    set(check_cmd COMMAND ${CMAKE_COMMAND} -DBIN=${bin} -DLABELS=${lbl} -P ${ARG_CHECK})
  endif()
  add_custom_command(OUTPUT ${bin} ${lbl}
    COMMAND ${CMAKE_COMMAND} -E remove -f ${bin} ${lbl}
    COMMAND ${Z80ASM_EXECUTABLE} -I ${srcdir} -I ${Z80_GENERATED_DIR}/target -i ${ARG_SOURCE} -o ${bin} --label=${lbl} --list=${lst}
    ${check_cmd}
    DEPENDS ${ARG_SOURCE} ${ARG_DEPENDS} ${ARG_CHECK}
    WORKING_DIRECTORY ${srcdir}
    COMMENT "Assembling Z80 ${name}"
    VERBATIM)
  set(${name}_BIN ${bin} PARENT_SCOPE)
  set(${name}_LABELS ${lbl} PARENT_SCOPE)
endfunction()

# z80_embed(<name> ARRAY <symbol> LENGTH <symbol> HEADER <relative path>)
# Turns <name>.bin into a header under the generated folder that defines the
# byte array and its length; sets <name>_HEADER in the caller.
function(z80_embed name)
  cmake_parse_arguments(ARG "" "ARRAY;LENGTH;HEADER" "" ${ARGN})
  set(bin ${Z80_OUTPUT_DIR}/${name}.bin)
  set(hdr ${Z80_GENERATED_DIR}/${ARG_HEADER})
  add_custom_command(OUTPUT ${hdr}
    COMMAND ${CMAKE_COMMAND} -DBIN=${bin} -DHEADER=${hdr}
            -DARRAY=${ARG_ARRAY} -DLENGTH=${ARG_LENGTH} -DLABELS=${Z80_OUTPUT_DIR}/${name}.lbl
            -P ${CMAKE_SOURCE_DIR}/cmake/embed_binary.cmake
    DEPENDS ${bin} ${CMAKE_SOURCE_DIR}/cmake/embed_binary.cmake
    COMMENT "Embedding ${name} as ${ARG_ARRAY}"
    VERBATIM)
  set(${name}_HEADER ${hdr} PARENT_SCOPE)
endfunction()
