# Build-time checks of the assembled target program: it is loaded at 0100h
# by the monitor loader, which takes exactly 2048 bytes (0100h-08FFh), and
# must fit them; above them lie the batch buffer and the workspace, then the
# stack with at least 256 bytes of its own, then the second stage (its bytes
# follow the program's in the binary) and the compressed block it receives,
# all below the monitor's workspace at FB00h.
file(SIZE ${BIN} size)
file(STRINGS ${LABELS} lines)
foreach(line IN LISTS lines)
  if(line MATCHES "^([A-Za-z_][A-Za-z0-9_]*):[ \t]+equ[ \t]+\\$([0-9a-fA-F]+)")
    math(EXPR value "0x${CMAKE_MATCH_2}")
    set(label_${CMAKE_MATCH_1} ${value})
  endif()
endforeach()
foreach(required program_start program_end stack_top sector_buffer workspace workspace_end BATCH_SECTORS SECTOR_SIZE
        PROGRAM_BLOCK stage_two_start stage_two_end crc_table verify_area batch_status verify_crcs packed_block PACKED_MAX
        STAGE_TWO_ABSENT sector_id_table)
  if(NOT DEFINED label_${required})
    message(FATAL_ERROR "target program lacks the label '${required}'")
  endif()
endforeach()
if(NOT label_program_start EQUAL 256)
  message(FATAL_ERROR "target program must start at 0100h (program_start is ${label_program_start})")
endif()
math(EXPR program_size "${label_program_end} - ${label_program_start}")
if(program_size GREATER label_PROGRAM_BLOCK)
  message(FATAL_ERROR "target program is ${program_size} bytes; the monitor loader takes at most ${label_PROGRAM_BLOCK}")
endif()
math(EXPR stage_two_size "${label_stage_two_end} - ${label_stage_two_start}")
math(EXPR expected_size "${program_size} + ${stage_two_size}")
if(NOT size EQUAL expected_size)
  message(FATAL_ERROR "the binary (${size} bytes) is not the program (${program_size}) and the second stage (${stage_two_size})")
endif()
math(EXPR packed_end "${label_packed_block} + ${label_PACKED_MAX}")
if(label_stage_two_start LESS label_stack_top OR packed_end GREATER 64256)
  message(FATAL_ERROR "the second stage and its compressed block must lie between the stack and the monitor's workspace")
endif()
# The alignments the code relies on: crc16_sector's table on a page, the
# sectors read back on 512-byte boundaries, a batch's status bytes and CRCs
# within one page.
math(EXPR crc_table_offset "${label_crc_table} % 256")
math(EXPR verify_area_offset "${label_verify_area} % 512")
math(EXPR batch_status_offset "${label_batch_status} % 256")
math(EXPR crcs_end "${label_verify_crcs} + 2 * ${label_BATCH_SECTORS} - ${label_batch_status}")
if(NOT crc_table_offset EQUAL 0 OR NOT verify_area_offset EQUAL 0 OR NOT batch_status_offset EQUAL 0 OR crcs_end GREATER 256)
  message(FATAL_ERROR "crc_table, verify_area, batch_status or verify_crcs lost their alignment")
endif()
# locate_head finds a sector's slot from the low byte of its place in
# sector_id_table: the table's 20 IDs lie within one page.
math(EXPR id_table_page "${label_sector_id_table} / 256")
math(EXPR id_table_last_page "(${label_sector_id_table} + 19) / 256")
if(NOT id_table_page EQUAL id_table_last_page)
  message(FATAL_ERROR "sector_id_table crosses a page boundary")
endif()
# command_loop tells the second stage's absence with a DEC A.
if(NOT label_STAGE_TWO_ABSENT EQUAL 1)
  message(FATAL_ERROR "STAGE_TWO_ABSENT must be 1")
endif()
if(label_program_end GREATER label_sector_buffer)
  message(FATAL_ERROR "target program runs into sector_buffer (${label_program_end} > ${label_sector_buffer})")
endif()
math(EXPR buffer_end "${label_sector_buffer} + ${label_BATCH_SECTORS} * ${label_SECTOR_SIZE}")
if(label_workspace LESS buffer_end)
  message(FATAL_ERROR "the workspace overlaps sector_buffer")
endif()
math(EXPR stack_room "${label_stack_top} - ${label_workspace_end}")
if(stack_room LESS 256)
  message(FATAL_ERROR "only ${stack_room} bytes of stack above the workspace (256 needed)")
endif()
if(label_stack_top GREATER 64256)
  message(FATAL_ERROR "the stack runs into the monitor's workspace at FB00h")
endif()
math(EXPR room "${label_sector_buffer} - ${label_program_end}")
message(STATUS "target program: ${program_size} bytes, ${room} bytes free in its block, ${stack_room} bytes of stack; second stage ${stage_two_size} bytes")
