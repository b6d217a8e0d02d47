; ---------------------------------------------------------------------------
; write.asm - the image write: tell the PC the drive's configuration, take
; the image geometry, then batch by batch receive sectors into
; sector_buffer, write them through the MOS, and answer with a status block
; of one mos_error byte per sector.  A whole batch is received before any
; of it is written, so the line and the disk never have to keep pace.
; ---------------------------------------------------------------------------

; write_image - the Einstein's side of the image transfer.
; Returns after the PC's end byte; a poll limit goes to link_timeout, and a
; geometry that makes no sense (a byte damaged on the line) to
; link_refused: back in command_loop, where the PC can resume.
; Changes everything.
write_image:
        call make_crc_table
        xor  a
        ld   (rotation_slot),a
        ld   a,(mos_drive_config)
        call put_byte               ; the drive flags byte, unasked
        call get_byte
        ld   (image_tracks),a
        dec  a                      ; 1 to 80 tracks
        cp   TRACKS_80
        jp   nc,link_refused
        call get_byte
        ld   (sectors_per_cylinder),a
        call get_byte
        call take_batch_size
        call check_geometry
        jp   nz,link_refused
        xor  a                      ; from track 0 sector 0
        ld   (resume_track),a
        ld   (resume_sector),a
        ; fall into write_from

; write_from - the write loop, from resume_track / resume_sector on.
; Returns after the end byte.
write_from:
        xor  a
        ld   (mos_drive),a
        ld   hl,sector_buffer
        ld   (mos_buffer),hl
        ld   a,(resume_track)
        ld   (mos_track),a
        ld   a,(resume_sector)
        ld   (mos_sector),a
        call show_write_progress

; The command byte: END_BYTE ends the write, REPORT_COMMAND has the drive
; flags and the last status block sent again (the PC asks when a status
; block says that every sector failed: a byte damaged on the line looks
; like that too), and any other byte opens a batch.
write_command:
        call get_byte
        cp   REPORT_COMMAND
        jr   nz,write_not_report
        ld   a,(mos_drive_config)
        call put_byte
        jp   write_report
write_not_report:
        cp   END_BYTE
        jr   nz,write_batch
        rst  08h
        defb MOS_PRINT
        defm "\r[ Transfer successful reboot Einstein.\n"
        defb 0Dh+80h
        ret

write_batch:                        ; any other command byte opens a batch
        ld   (batch_command),a
        ld   hl,batch_status        ; every sector still to be written
        ld   (hl),VERIFY_MISMATCH
        ld   de,batch_status+1
        ld   bc,MAX_BATCH-1
        ldir
        ld   hl,stage_two_loaded    ; compressed sectors (PACKED_BATCH): the
        cp   (hl)                   ; second stage's, once it is in place
        jp   z,packed_batch
        ld   hl,sector_buffer
        ld   a,(batch_size)
        ld   d,a                    ; recv_block keeps DE
write_receive:
        ld   a,d                    ; two sectors before the end the motor
        cp   3                      ; starts, so that it is up to speed for
        call c,spin_up              ; the writes (it stops while the line works)
        ld   bc,SECTOR_SIZE
        call recv_block
        dec  d
        jr   nz,write_receive
        call verifying
        jr   nz,write_received
        ld   hl,verify_crcs         ; the PC's CRC of every sector
        ld   a,(batch_size)
        add  a,a
        ld   c,a
        ld   b,0
        call recv_block
write_received:
        call wait_idle              ; the spin-up has ended (without index
        ld   a,FDC_FORCE_INT        ; pulses it never does: the controller
        out  (FDC_COMMAND),a        ; is left idle for the monitor all the same)
        ld   a,(mos_track)          ; where the batch begins
        ld   (batch_track),a
        ld   a,(mos_sector)
        ld   (batch_sector),a
        xor  a
        ld   (verify_round),a
        inc  a                      ; progress before the first sector
        ld   (show_next),a
; A round over the batch, one track side at a time: the side's sectors that
; are still to be written go out in the order they pass the head; with
; -verify they are then read back in that order and checked, and up to two
; more rounds write again what did not read back right.  A pass over a side
; takes about one turn of the disk.
write_round:
        call batch_rewind
write_side:
        ld   a,(mos_sector)         ; the side's first sector (0 or 10) ...
        ld   (side_sector),a
        ld   a,(mos_buffer+1)       ; ... and its buffer, on a 512-byte boundary
        ld   (side_buffer),a
        ld   a,(verify_round)       ; progress in the first round:
        or   a
        jr   nz,write_quiet
        ld   a,(show_next)          ; at the first side, after a failure,
        or   a
        jr   nz,write_show
        ld   a,(mos_sector)         ; and where a new track begins
        or   a
        jr   nz,write_quiet
write_show:
        call show_write_progress
        xor  a
        ld   (show_next),a
write_quiet:
        ld   a,MOS_WRITE_SECTOR
        call side_in_rotation
        ld   c,0                    ; slots that pass before the next side begins
        call verifying
        jr   nz,write_side_done
        ld   a,MOS_READ_SECTOR
        call side_in_rotation
        call check_side
        ld   c,CHECK_SLOTS
write_side_done:                    ; (a batch ends on a whole side: the PC sends 80)
        ld   a,(side_sector)        ; from the side's first sector ten on
        ld   (mos_sector),a
        ld   a,(side_buffer)
        ld   (mos_buffer+1),a
        ld   b,10
write_next_side:
        push bc
        call advance_position
        pop  bc
        djnz write_next_side
        ld   a,(mos_sector)         ; a new track: the head steps meanwhile
        or   a
        ld   a,c
        jr   nz,write_turned
        add  a,STEP_SLOTS
write_turned:
        ld   hl,rotation_slot       ; where the disk will be for the next side
        add  a,(hl)
        cp   10
        jr   c,write_slot_kept
        sub  10
write_slot_kept:
        ld   (hl),a
        ld   hl,sectors_left
        ld   a,(hl)
        sub  10
        ld   (hl),a
        jr   z,write_round_done
        jr   nc,write_side
write_round_done:
        call verifying
        jr   nz,write_report
        ld   hl,verify_round
        inc  (hl)
        ld   a,(hl)
        cp   VERIFY_TRIES
        jr   c,write_round

write_report:
        ld   hl,batch_status        ; all zero goes out as 03h 00h
        ld   a,(batch_size)
        ld   c,a
        ld   b,0
        call send_block
        jp   write_command

; side_in_rotation - one monitor call, A = MOS_WRITE_SECTOR or
; MOS_READ_SECTOR, for each sector of the track side at side_sector that
; needs it, in the order they pass the head from slot rotation_slot on:
; each call returns in the gap before the next sector's ID field, so the
; side takes one turn.  A write is made of a sector marked VERIFY_MISMATCH
; or READ_FAILED (every sector in the first round) and leaves its code, or
; when verifying VERIFY_PENDING; a read is made of a sector marked
; VERIFY_PENDING, goes to the sector's place in verify_area and marks a
; failure READ_FAILED + code.  Sectors past the batch's end are left out.
; Nothing is printed between the calls but after a failure.
; Changes everything.
side_in_rotation:
        ld   (side_call),a          ; the call code below
        ld   a,(rotation_slot)
        call first_slot
side_slot:
        call slot_position          ; HL = its status byte; carry: in the batch
        jr   nc,side_next
        call reading_back
        ld   a,(hl)
        jr   z,side_read
        and  VERIFY_MISMATCH+READ_FAILED
        jr   z,side_next            ; written right already
        push hl
        ld   a,(show_next)          ; after a failure: where the next write goes
        or   a
        call nz,show_write_progress
        jr   side_go
side_read:
        and  VERIFY_PENDING
        jr   z,side_next
        push hl
side_go:
        xor  a
        ld   (mos_error),a
        rst  08h
side_call:
        defb MOS_WRITE_SECTOR       ; set on entry: the write or the read
        call take_mos_error         ; A = code, Z when 0
        pop  hl
        ld   (show_next),a
        ld   b,a
        call reading_back
        ld   a,b
        jr   nz,side_written
        or   a
        jr   z,side_next            ; read: it stays pending its check
        or   READ_FAILED
        jr   side_store
side_written:
        or   a
        jr   nz,side_store          ; the write's code: no more tries
        call verifying
        ld   a,0
        jr   nz,side_store          ; 0: written
        ld   a,VERIFY_PENDING
side_store:
        ld   (hl),a
side_next:
        call next_slot
        jr   nz,side_slot
        ret

; spin_up - the drive's motor on ahead of the writes: a seek to the track
; the head is on moves nothing but takes the controller's spin-up time, and
; the motor then turns for nine more turns.  Changes A.
spin_up:
        call select_drive
        in   a,(FDC_TRACK)
        out  (FDC_DATA),a
        ld   a,FDC_SEEK
        out  (FDC_COMMAND),a
        ret

; reading_back - Z when side_call is the read.  Changes A.
reading_back:
        ld   a,(side_call)
        cp   MOS_READ_SECTOR
        ret

; check_side - the CRC-16 of each sector read back into verify_area against
; the PC's: VERIFY_MISMATCH when it differs, else 0 in the first round and
; VERIFIED_AFTER_REWRITE + the rewrites after.  About 8 ms a sector.
; Changes everything.
check_side:
        xor  a
        call first_slot
check_slot:
        call slot_position          ; HL = status byte, DE = the PC's CRC
        jr   nc,check_next
        bit  4,(hl)                 ; VERIFY_PENDING: read back
        jr   z,check_next
        push hl
        push de
        ld   hl,(mos_buffer)
        call crc16_sector           ; DE = CRC-16 of what was read
        pop  hl                     ; the PC's, high byte first
        ld   a,(hl)
        inc  hl
        cp   d
        jr   nz,check_differs
        ld   a,(hl)
        cp   e
check_differs:
        pop  hl
        ld   a,VERIFY_MISMATCH
        jr   nz,check_store
        ld   a,(verify_round)       ; shown right
        or   a
        jr   z,check_store
        or   VERIFIED_AFTER_REWRITE
check_store:
        ld   (hl),a
check_next:
        call next_slot
        jr   nz,check_slot
        ret

; first_slot - begin a pass over a side at slot A, for ten slots.
; Changes A.
first_slot:
        ld   (slot),a
        ld   a,10
        ld   (slots_left),a
        ret

; next_slot - the slot after this one, round the track.  Out: Z when the
; pass has been through all ten.  Changes A, HL.
next_slot:
        ld   hl,slot
        inc  (hl)
        ld   a,(hl)
        cp   10
        jr   c,next_slot_kept
        ld   (hl),0
next_slot_kept:
        ld   hl,slots_left
        dec  (hl)
        ret

; slot_position - the sector that passes the head in slot (slot) of the
; track side at side_sector: its ID to mos_sector, and to mos_buffer its
; buffer or, for a read, its place in verify_area.
; Out: HL = its status byte, DE = its entry in verify_crcs; carry when it
; lies within the batch.  Changes A, BC, DE, HL.
slot_position:
        ld   a,(side_sector)        ; the side's first ID: 0 or 10
        ld   c,a
        ld   hl,slot
        add  a,(hl)                 ; side 1's slots are the table's second half
        ld   e,a
        ld   d,0
        ld   hl,sector_id_table
        add  hl,de
        ld   a,(hl)                 ; the ID in the slot
        ld   (mos_sector),a
        sub  c
        ld   b,a                    ; B = its place in the side, 0-9
        add  a,a
        ld   c,a                    ; C = 2 x place: 512-byte steps
        ld   hl,side_buffer
        add  a,(hl)
        ld   e,a                    ; E = its own buffer's high byte
        call reading_back
        ld   a,e
        jr   nz,slot_buffer
        ld   a,verify_area/256
        add  a,c
slot_buffer:
        ld   (mos_buffer+1),a
        ld   a,e                    ; 2 x its place in the batch
        sub  sector_buffer/256
        ld   e,a
        srl  a
        ld   l,a                    ; batch_status and verify_crcs share a page
        ld   a,e
        add  a,verify_crcs-batch_status
        ld   e,a
        ld   h,batch_status/256
        ld   d,h
        ld   a,b                    ; carry: the place is within the batch
        push hl
        ld   hl,sectors_left
        cp   (hl)
        pop  hl
        ret

; verifying - Z when the batch was opened with VERIFY_BATCH.  Changes A.
verifying:
        ld   a,(batch_command)
        cp   VERIFY_BATCH
        ret

; batch_rewind - back to the batch's first sector: position, buffer, the
; count.  Changes A and HL.
batch_rewind:
        ld   a,(batch_track)
        ld   (mos_track),a
        ld   a,(batch_sector)
        ld   (mos_sector),a
        ld   hl,sector_buffer
        ld   (mos_buffer),hl
        ld   a,(batch_size)
        ld   (sectors_left),a
        ret

; crc16_sector - the CRC-16 (CCITT: polynomial 1021h, preset FFFFh, the
; floppy controller's own) of the 512 bytes at HL, which starts on a
; 256-byte boundary, through crc_table (make_crc_table): about 8.3 ms.
; Out: DE = CRC, HL past the sector.  Changes A, BC, HL.
crc16_sector:
        ld   de,0FFFFh
        ld   b,crc_table/256
        call crc16_page             ; the first 256 bytes, then the second
crc16_page:
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
        inc  l                      ;  4
        jr   nz,crc16_byte          ; 12: 64 T a byte
        inc  h
        ret

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

; resume_write - the PC's resume command after a fault on the line: the
; Einstein goes on writing where the PC says, without a new format.
; Reached by jump from command_loop after the "W".  Wire: sectors per
; cylinder, batch size, track, sector, and a check byte that makes the four
; bytes and itself sum to FFh.  A resume that does not check out is
; dropped (back to command_loop: the PC tries again); one that does is
; acknowledged with "W" and the drive flags byte, and the write goes on at
; the command byte.
resume_write:
        ld   hl,sectors_per_cylinder
        ld   b,4
        call take_checked
        jp   nz,command_loop
        ld   a,(batch_size)
        call take_batch_size
        call check_geometry
        jp   nz,command_loop
        ld   a,(resume_track)
        cp   TRACKS_80
        jp   nc,command_loop
        ld   a,(sectors_per_cylinder)
        ld   b,a
        ld   a,(resume_sector)
        cp   b
        jp   nc,command_loop
        or   a                      ; and it begins a track side: 0 or 10
        jr   z,resume_side_ok
        cp   10
        jp   nz,command_loop
resume_side_ok:
        ld   a,RESUME_COMMAND       ; acknowledged,
        call put_byte
        ld   a,(mos_drive_config)   ; with the drive flags again
        call put_byte
        rst  08h
        defb MOS_PRINT
        defm "\r\n] Resuming"
        defb 0Ah+80h
        call write_from
        jp   write_done

; take_checked - B bytes from the PC to HL on, then a check byte that
; makes them and itself sum to FFh.  Out: Z when the sum was right.
; Changes A, BC, HL.
take_checked:
        ld   c,0                    ; C = their sum
take_checked_byte:
        call get_byte
        ld   (hl),a
        inc  hl
        add  a,c
        ld   c,a
        djnz take_checked_byte
        call get_byte               ; the check byte
        add  a,c
        inc  a                      ; FFh + 1: the sum was right
        ret

; take_batch_size - keep A as the batch size.  0 or above 80 would overrun
; sector_buffer into the MOS workspace: taken as 80.
; Changes A.
take_batch_size:
        or   a
        jr   z,take_batch_default
        cp   MAX_BATCH+1
        jr   c,take_batch_ok
take_batch_default:
        ld   a,MAX_BATCH
take_batch_ok:
        ld   (batch_size),a
        ret

; check_geometry - Z when sectors_per_cylinder is 10 or 20, the only values
; the PC sends (another one is a byte damaged on the line).
; Changes A.
check_geometry:
        ld   a,(sectors_per_cylinder)
        cp   10
        ret  z
        cp   20
        ret

; take_mos_error - A = mos_error, Z when 0; after a failure the MOS's
; controller reset (BDh) is made with the code in A.  Changes flags.
take_mos_error:
        ld   a,(mos_error)
        or   a
        ret  z
        push af
        rst  08h
        defb MOS_FDC_RESET
        pop  af                     ; the code, and NZ
        ret

; advance_position - the next sector: mos_sector + 1, wrapping at
; sectors_per_cylinder into the next track; mos_buffer + 512.
; Changes A, B, HL and flags.
advance_position:
        ld   a,(sectors_per_cylinder)
        ld   b,a
        ld   a,(mos_sector)
        inc  a
        cp   b
        jr   nz,next_same_track
        ld   hl,mos_track
        inc  (hl)
        xor  a
next_same_track:
        ld   (mos_sector),a
        ld   hl,(mos_buffer)
        inc  h                      ; + 512
        inc  h
        ld   (mos_buffer),hl
        ret

; show_write_progress - "\r - Write 0: Track tt Sector ss " for the
; position about to be written; show_progress - the same line with the
; five-character word at HL in place of "Write" ("Check", "Read ").
; Changes everything.
show_write_progress:
        ld   hl,word_write
show_progress:
        ld   de,write_text_word
        ld   bc,5
        ldir
        ld   a,(mos_drive)
        add  a,'0'
        ld   (write_text_drive),a
        ld   a,(mos_track)
        ld   hl,write_text_track
        call put_two_digits
        ld   a,(mos_sector)
        ld   hl,write_text_sector
        call put_two_digits
        rst  08h
        defb MOS_PRINT
        defm "\r - "
write_text_word:
        defm "Write "
write_text_drive:
        defm "0: Track "
write_text_track:
        defm "00 Sector "
write_text_sector:
        defm "00"
        defb 20h+80h          ; ' ' with bit 7: the text ends
        ret
