; ---------------------------------------------------------------------------
; verify.asm - verified batches (tobrin -verify, and the compressed batches
; of -fast): each track side is read back right after it is written and
; every sector's CRC-16 compared with the PC's; the CRC-16 itself; and the
; confirmation of the status bytes of the checked format (-fast, lay.asm).
; The second stage's first part, with its command dispatch: the write loop
; (write.asm) calls in here only for a batch opened with VERIFY_BATCH,
; which the first stage takes only when this part is in place.
; ---------------------------------------------------------------------------

; Slots that pass after a side's last read before the next side begins:
; too small a figure costs a turn at the side, too large one the slots in
; between.  (Each sector is checked as it is read, in the gap before the
; next one; the one slot is kept for the write loop's work between sides.)
CHECK_SLOTS:    equ 1
FDC_READ_SECTOR: equ 80h        ; one sector, spin-up on, no settle
FDC_READ_ERRORS: equ 1Ch        ; status: not found, CRC error, lost data

; stage_two_command - a command for the second stage, in A (reached by
; jump from command_loop); any other byte goes back to the waiting state.
; The line switch is this part's; the checked format and the read are
; its second part's: without it, they are not taken.
stage_two_command:
        cp   STAGE_REST_COMMAND
        jr   z,load_stage_rest
        cp   FAST_COMMAND           ; the line switch, before the second part
        jp   z,fast_line
        ld   b,a
        ld   a,(stage_two_loaded)
        cp   STAGE_TWO_WHOLE
        jp   nz,command_loop
        ld   a,b
        cp   CHECKED_FORMAT_COMMAND
        jp   z,lay_format
        cp   READ_COMMAND
        jp   z,read_disk
        jp   command_loop

; load_stage_rest - the second stage's second part (the read, the
; compressed batches), which only -read and -fast need, in checked blocks
; of STAGE_REST_PIECE bytes; it is in place once the last block got
; across, and the PC is told so (STAGE_TWO_TAKEN).  Then back to the
; waiting state.
load_stage_rest:
        xor  a                      ; drive 0's motor starts: its spin-up (six
        ld   (mos_drive),a          ; turns) then passes while the part comes,
        ld   (current_side),a       ; not in the drive check that follows
        ld   hl,stage_rest_start    ; (spun_up)
        ld   de,stage_two_end-stage_rest_start ; DE = bytes still to come
load_stage_piece:
        in   a,(FDC_COMMAND)        ; a seek where the head stands with each
        rrca                        ; block, once the spin-up is over, keeps
        call nc,spin_up             ; the motor turning (it stops ten turns
                                    ; after the last command; the part takes
                                    ; 2.9 s at 9600 baud with two stop bits)
        ld   bc,STAGE_REST_PIECE
        ld   a,d                    ; fewer left: the last block
        cp   STAGE_REST_PIECE/256
        jr   nc,load_stage_block
        ld   b,d
        ld   c,e
load_stage_block:
        call recv_block             ; (keeps BC and DE)
        ex   de,hl
        or   a
        sbc  hl,bc
        ex   de,hl
        jr   nz,load_stage_piece
        call stream_empty           ; no stream yet
        ld   a,STAGE_TWO_WHOLE
        ld   (stage_two_loaded),a
        ld   a,STAGE_TWO_TAKEN
        call put_byte
        jp   command_loop

; spun_up - the spin-up that load_stage_rest started has ended (the
; monitor's drive check then finds the motor turning and waits for no
; spin-up of its own); one that does not end, where no disk turns, is
; ended by Force Interrupt and the check finds out why.
; Changes A, BC, H.
spun_up:
        call wait_idle
        ret  z
        ld   a,FDC_FORCE_INT
        out  (FDC_COMMAND),a
        ret

; staged_batch - a batch of the second stage's, from write_batch:
; compressed (packed_batch, the second
; part's: refused without it), or verified - its sectors come as a plain
; batch's (write_plain), then the block of their CRC-16s (receive_crcs).
; Reached by jump.
staged_batch:
        xor  a                      ; a verified batch is not laid down with
        ld   (laying),a             ; its format (packed_batch sets it)
        ld   a,(batch_command)
        cp   PACKED_BATCH
        jr   nz,staged_verified
        ld   a,(stage_two_loaded)
        cp   STAGE_TWO_WHOLE
        jp   z,packed_batch
        jp   link_refused
staged_verified:
        xor  a                      ; its sectors overwrite any of a stream
        ld   (ahead_count),a        ; judged ahead (packed.asm)
        jp   write_plain

; receive_crcs - a verified batch's block of the PC's CRC-16 of each of its
; sectors, high byte first, into verify_crcs.  Changes A, BC, HL.
receive_crcs:
        ld   hl,verify_crcs
        ld   a,(batch_size)
        add  a,a
        ld   c,a
        ld   b,0
        jp   recv_block

; verify_side - the write loop's hook after a verified batch's track side
; is written: the side read back in the order its sectors pass the head,
; from where the writes ended, each sector's CRC-16 taken as it is read and
; checked against the PC's in the gap before the next one (read_slot), so
; that the next side can begin within the gap after the last.  In a
; compressed batch the line is looked at between the reads too
; (lay_read_slot), a one-sided image's blank side 1 is laid down next
; (lay_blank_side), and the side's window for the stream closes
; (stream_drain): the second part's, as a batch lays only with it in place.
; Out: C = the slots that lets pass.  Changes everything.
verify_side:
        ld   hl,read_slot
        ld   a,(laying)
        or   a
        jr   z,verify_side_pass
        ld   hl,lay_read_slot
verify_side_pass:
        call side_in_rotation
        ld   a,(laying)
        or   a
        jr   z,verify_side_done
        call lay_blank_side
        call stream_drain
verify_side_done:
        ld   c,CHECK_SLOTS
        ret

; read_slot - side_in_rotation's action for the read back: a sector marked
; VERIFY_PENDING is read into its place in verify_area, its CRC-16 taken by
; the controller directly as the bytes pass (read_sector_crc), so that the
; next sector's turn is not missed; when that fails, by the monitor with
; its tries, the CRC after.  The CRC-16 against the PC's gives its status:
; STATUS_VERIFY_MISMATCH when they differ, else 0 in the first round and
; STATUS_VERIFIED_AFTER_REWRITE + the rewrites after.  One that cannot be read is
; marked STATUS_READ_FAILED + the monitor's code.
; In: HL = its status byte, B = its place in the side.  Changes everything.
read_slot:
        bit  4,(hl)                 ; VERIFY_PENDING
        ret  z
        call verify_place
        ld   (mos_buffer+1),a
        push hl
        ld   a,(laying)             ; a compressed batch: compared with the
        or   a                      ; batch's sector (lay_read_sector, the
        jr   z,read_slot_own        ; second part's)
        call lay_read_sector        ; Z: read whole, A = 0: the same
        jr   nz,read_slot_tries
        pop  hl
        or   a
        jr   read_slot_differs
read_slot_own:
        call read_sector_crc        ; Z, DE = CRC: read
        jr   z,read_slot_check
read_slot_tries:
        ld   a,(laying)             ; a compressed batch: the window closes
        or   a                      ; first (stream_drain, the second part's)
        call nz,stream_drain
        ld   a,MOS_READ_SECTOR      ; the monitor's tries
        call sector_call
        jr   nz,read_slot_failed
        ld   hl,(mos_buffer)
        call crc16_sector
read_slot_check:
        pop  hl
        push hl
        ld   a,l                    ; the PC's: verify_crcs + 2 x its place in
        add  a,a                    ; the batch (the same page as
        add  a,verify_crcs-batch_status ; batch_status), high byte first
        ld   l,a
        ld   a,(hl)
        inc  hl
        cp   d
        jr   nz,read_slot_crc_told
        ld   a,(hl)
        cp   e
read_slot_crc_told:
        pop  hl
read_slot_differs:                  ; NZ: not what the PC sent
        ld   a,STATUS_VERIFY_MISMATCH
        jr   nz,read_slot_store
        ld   a,(verify_round)       ; shown right
        or   a
        jr   z,read_slot_store
        or   STATUS_VERIFIED_AFTER_REWRITE
read_slot_store:
        ld   (hl),a
        ret
read_slot_failed:
        pop  hl
        or   STATUS_READ_FAILED
        ld   (hl),a
        ret

; read_sector_crc - the sector mos_track / mos_sector read into (mos_buffer)
; by the controller directly, its CRC-16 taken as each byte comes: the head
; is on its track (the side was just written, which also keeps the motor
; turning); interrupts are off meanwhile.  Nothing is tried again.
; Out: Z with DE = the CRC-16 when the controller read it whole; NZ else.
; Changes everything.
read_sector_crc:
        call select_sector_side
        ld   a,(mos_track)
        out  (FDC_TRACK),a
        ld   a,(mos_sector)
        out  (FDC_SECTOR),a
        ld   bc,crc_table/256*256   ; B: the table's page
        ld   e,0FFh                 ; the CRC's preset, low byte (AE keeps E, BC)
        di
        ld   a,FDC_READ_SECTOR
        rst  08h
        defb MOS_FDC_COMMAND        ; Z: it went busy
        jr   nz,read_crc_refused
        di
        ld   d,0FFh
        ld   hl,(mos_buffer)
read_crc_poll:                      ; T-states
        fdc_await read_crc_end read_crc_poll ; 33 (38 round again)
        in   a,(FDC_DATA)           ; 11
        ld   (hl),a                 ;  7
        inc  hl                     ;  6
        xor  d                      ;  4  the table's index
        ld   c,a                    ;  4
        ld   a,(bc)                 ;  7  its high byte
        xor  e                      ;  4
        ld   d,a                    ;  4
        inc  b                      ;  4
        ld   a,(bc)                 ;  7  its low byte
        ld   e,a                    ;  4
        dec  b                      ;  4
        jr   read_crc_poll          ; 12: 122 T a byte when its request is
                                    ; there at the first poll (a byte comes every 128 T)
read_crc_end:
        ei
        in   a,(FDC_COMMAND)        ; not found, a CRC error, lost data
        and  FDC_READ_ERRORS
        ret
read_crc_refused:                   ; (NZ)
        ei
        ret

; verify_place - A = the high byte of the place in verify_area of the
; sector at place B of its side.  Changes A.
verify_place:
        ld   a,b
        add  a,a
        add  a,verify_area/256
        ret

; verify_rounds - the write loop's hook at the end of a verified batch's
; round (reached by jump): another round writes again and reads back what
; did not read back right, VERIFY_TRIES rounds at most in all; then the
; status block.
verify_rounds:
        ld   hl,verify_round
        inc  (hl)
        ld   a,(hl)
        cp   VERIFY_TRIES
        jr   nc,verify_report
        ld   hl,batch_status        ; anything to write again?
        ld   a,(batch_size)
        ld   b,a
verify_rounds_scan:
        ld   a,(hl)
        and  STATUS_VERIFY_MISMATCH+STATUS_READ_FAILED
        jp   nz,write_round
        inc  hl
        djnz verify_rounds_scan
verify_report:                      ; a compressed batch: the rest of the
        ld   a,(laying)             ; stream first (stream_finish, the second
        or   a                      ; part's: a batch lays only with it in
        jp   z,write_report         ; place); the PC asks nothing meanwhile,
        call stream_finish          ; so the line needs no settle before the
        jp   write_report_settled   ; status block

; crc16_sector - the CRC-16 (CCITT: polynomial 1021h, preset FFFFh, the
; floppy controller's own) of the 512 bytes at HL, which starts on a
; 256-byte boundary, through crc_table (make_crc_table): about 7.2 ms.
; Out: DE = CRC, HL past the sector.  Changes A, BC, HL.
crc16_sector:
        ld   de,0FFFFh
        ld   b,crc_table/256
        call crc16_page             ; the first 256 bytes, then the second
crc16_page:                         ; four bytes a round (L ends at 0)
crc16_byte:                         ; T-states
        ld   a,(hl)                 ;  7
        xor  d                      ;  4  the table's index
        ld   c,a                    ;  4
        ld   a,(bc)                 ;  7  its high byte
        xor  e                      ;  4
        ld   d,a                    ;  4
        inc  b                      ;  4
        ld   a,(bc)                 ;  7  its low byte
        ld   e,a                    ;  4
        dec  b                      ;  4
        inc  l                      ;  4  = 53 T
        ld   a,(hl)
        xor  d
        ld   c,a
        ld   a,(bc)
        xor  e
        ld   d,a
        inc  b
        ld   a,(bc)
        ld   e,a
        dec  b
        inc  l                      ; 53 T
        ld   a,(hl)
        xor  d
        ld   c,a
        ld   a,(bc)
        xor  e
        ld   d,a
        inc  b
        ld   a,(bc)
        ld   e,a
        dec  b
        inc  l                      ; 53 T
        ld   a,(hl)
        xor  d
        ld   c,a
        ld   a,(bc)
        xor  e
        ld   d,a
        inc  b
        ld   a,(bc)
        ld   e,a
        dec  b
        inc  l                      ; 53 T
        jr   nz,crc16_byte          ; 12: 56 T a byte
        inc  h
        ret

; crc16_add - the CRC-16 in DE taken on over the byte in A.
; Changes A, BC.
crc16_add:
        xor  d
        ld   c,a
        ld   b,crc_table/256
        ld   a,(bc)
        xor  e
        ld   d,a
        inc  b
        ld   a,(bc)
        ld   e,a
        ret

; stage_two_init - the first part of the second stage has come: the line
; is at the monitor's rate (line_constant) until one is agreed, and the
; CRC table is made.  Changes A, B, DE, HL.
stage_two_init:
        ld   a,MONITOR_CONSTANT
        ld   (line_constant),a
        ; fall into make_crc_table

; make_crc_table - crc_table: for each index n, the CRC register after
; n x 100h is shifted eight times (high bytes, then at +100h the low ones).
; Changes A, B, DE, HL.
make_crc_table:
        ld   hl,crc_table
crc_table_entry:
        ld   d,l
        ld   e,0
        ld   b,8
crc_table_bit:
        sla  e
        rl   d
        jr   nc,crc_table_no_xor
        ld   a,d
        xor  10h
        ld   d,a
        ld   a,e
        xor  21h
        ld   e,a
crc_table_no_xor:
        djnz crc_table_bit
        ld   (hl),d
        inc  h
        ld   (hl),e
        dec  h
        inc  l
        jr   nz,crc_table_entry
        ret

; confirm_status - a status byte of the checked format, which send_status
; has just sent: its complement follows, and the PC answers
; STATUS_CONFIRMED when both came whole, anything else to have the two
; again (MAX_PASSES times at most: link_no_sync).  Reached by jump from
; send_status with AF, the status and its flags, on the stack; returns to
; send_status's caller with AF as it was.
confirm_status:
        call start_passes
confirm_pair:
        pop  af
        push af
        cpl
        call put_byte               ; the complement (the status went first)
        call get_byte               ; the PC's word
        cp   STATUS_CONFIRMED
        jr   z,confirm_done
        call count_pass
        pop  af
        push af
        call put_byte               ; the status again
        jr   confirm_pair
confirm_done:
        pop  af
        ret
