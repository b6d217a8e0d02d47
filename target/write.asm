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
        ld   hl,sector_buffer
        ld   a,(batch_size)
        ld   d,a                    ; recv_block keeps DE
write_receive:
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
        ld   a,(mos_track)          ; where the batch begins
        ld   (batch_track),a
        ld   a,(mos_sector)
        ld   (batch_sector),a
        call batch_rewind
        ld   a,1                    ; progress before the first sector
        ld   (show_next),a
write_sector:
        ld   a,(show_next)          ; first of the batch, or after a failure
        or   a
        jr   nz,write_show
        ld   a,(mos_sector)         ; or a new track begins
        or   a
        jr   nz,write_quiet
write_show:
        call show_write_progress
write_quiet:
        xor  a
        ld   (mos_error),a
        rst  08h
        defb MOS_WRITE_SECTOR       ; registers are not used: mos_error tells
        call next_sector
        ld   (show_next),a
        ld   hl,(status_pointer)
        ld   (hl),a
        inc  hl
        ld   (status_pointer),hl
        ld   hl,sectors_left
        dec  (hl)
        jr   nz,write_sector
        call verifying
        call z,verify_batch

write_report:
        ld   hl,batch_status        ; all zero goes out as 03h 00h
        ld   a,(batch_size)
        ld   c,a
        ld   b,0
        call send_block
        jp   write_command

; verifying - Z when the batch was opened with VERIFY_BATCH.  Changes A.
verifying:
        ld   a,(batch_command)
        cp   VERIFY_BATCH
        ret

; batch_rewind - back to the batch's first sector: position, buffer, the
; status and CRC pointers, the count.  Changes A and HL.
batch_rewind:
        ld   a,(batch_track)
        ld   (mos_track),a
        ld   a,(batch_sector)
        ld   (mos_sector),a
        ld   hl,sector_buffer
        ld   (mos_buffer),hl
        ld   hl,batch_status
        ld   (status_pointer),hl
        ld   hl,verify_crcs
        ld   (crc_pointer),hl
        ld   a,(batch_size)
        ld   (sectors_left),a
        ret

; verify_batch - reads every sector of the batch back through the monitor,
; computes the CRC-16 of what it read and compares it with the PC's; a
; sector that cannot be read or does not compare is written again and read
; again, in up to two more rounds.  Each status byte becomes: 0 shown right
; at once; VERIFIED_AFTER_REWRITE + rewrites; VERIFY_MISMATCH; READ_FAILED +
; the monitor's code; or the write's error code as it was (no more tries).
; Changes everything.
verify_batch:
        call batch_rewind           ; every sector written is still to be shown right
verify_mark:
        ld   hl,(status_pointer)
        ld   a,(hl)
        or   a
        jr   nz,verify_marked       ; a write error stays
        ld   (hl),VERIFY_MISMATCH
verify_marked:
        inc  hl
        ld   (status_pointer),hl
        ld   hl,sectors_left
        dec  (hl)
        jr   nz,verify_mark
        xor  a
        ld   (verify_round),a
verify_round_start:
        call batch_rewind
verify_sector:
        ld   hl,(status_pointer)
        ld   a,(hl)
        and  VERIFY_MISMATCH+READ_FAILED
        jr   z,verify_next          ; shown right, or a write error
        ld   hl,word_check
        call show_progress
        ld   a,(verify_round)
        or   a
        jr   z,verify_read          ; the first round only reads
        xor  a
        ld   (mos_error),a
        rst  08h
        defb MOS_WRITE_SECTOR
        call take_mos_error
        jr   nz,verify_store        ; it cannot be written any more
verify_read:
        ld   hl,(mos_buffer)
        push hl
        ld   hl,verify_buffer
        ld   (mos_buffer),hl
        xor  a
        ld   (mos_error),a
        rst  08h
        defb MOS_READ_SECTOR
        pop  hl
        ld   (mos_buffer),hl
        call take_mos_error
        jr   z,verify_compare
        or   READ_FAILED
        jr   verify_store
verify_compare:
        ld   hl,verify_buffer
        call crc16_sector           ; DE = CRC-16 of what was read
        ld   hl,(crc_pointer)
        ld   a,(hl)
        inc  hl
        cp   d
        jr   nz,verify_differs
        ld   a,(hl)
        cp   e
        jr   nz,verify_differs
        ld   a,(verify_round)       ; shown right
        or   a
        jr   z,verify_store
        or   VERIFIED_AFTER_REWRITE
        jr   verify_store
verify_differs:
        ld   a,VERIFY_MISMATCH
verify_store:
        ld   hl,(status_pointer)
        ld   (hl),a
verify_next:
        ld   hl,(status_pointer)
        inc  hl
        ld   (status_pointer),hl
        ld   hl,(crc_pointer)
        inc  hl
        inc  hl
        ld   (crc_pointer),hl
        call advance_position
        ld   hl,sectors_left
        dec  (hl)
        jr   nz,verify_sector
        ld   hl,verify_round
        inc  (hl)
        ld   a,(hl)
        cp   VERIFY_TRIES
        jp   c,verify_round_start
        ret

; crc16_sector - the CRC-16 (CCITT: polynomial 1021h, preset FFFFh, the
; floppy controller's own) of the 512 bytes at HL.
; Out: DE = CRC.  Changes A, BC, HL.
crc16_sector:
        ld   de,0FFFFh
        ld   bc,SECTOR_SIZE
crc16_byte:
        ld   a,(hl)
        xor  d                      ; the byte into the high half
        ld   d,a
        push bc
        ld   b,8
crc16_bit:                          ; T-states
        sla  e                      ;  8
        rl   d                      ;  8
        jr   nc,crc16_no_xor        ; 12/7
        ld   a,d                    ;  4
        xor  10h                    ;  7
        ld   d,a                    ;  4
        ld   a,e                    ;  4
        xor  21h                    ;  7
        ld   e,a                    ;  4
crc16_no_xor:
        djnz crc16_bit              ; 13: about 53 T a bit, 60 ms a sector
        pop  bc
        inc  hl
        dec  bc
        ld   a,b
        or   c
        jr   nz,crc16_byte
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

; next_sector - advance the write position past the sector just written,
; whether or not its write succeeded (a failed sector is not retried).
; Out: A = mos_error of that write; Z when 0.  After a failure the MOS's
; controller reset (BDh) is made with the code in A.
; Changes A, B, HL and flags.
next_sector:
        call advance_position
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
