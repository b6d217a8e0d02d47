; ---------------------------------------------------------------------------
; write.asm - the image write: tell the PC the drive's configuration, take
; the image geometry, then batch by batch receive sectors into
; sector_buffer, write them through the MOS and answer with a status block
; of one mos_error byte per sector.  A whole batch is received before any
; of it is written, so the line and the disk never have to keep pace.
; Verified and compressed batches are the second stage's (verify.asm,
; packed.asm): they use the write loop here, with its hooks.
; ---------------------------------------------------------------------------

; write_image - the Einstein's side of the image transfer.
; Returns after the PC's end byte; a poll limit goes to link_timeout, and a
; geometry that makes no sense (a byte damaged on the line) to
; link_refused: back in command_loop, where the PC can resume.
; Changes everything.
write_image:
        xor  a
        ld   (rotation_slot),a
        ld   (resume_track),a       ; from track 0 sector 0
        ld   (resume_sector),a
        call write_position         ; (before the flags byte: the geometry
        ld   a,(mos_drive_config)   ; and the first batch follow it at once)
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
        jr   write_command

; write_position - the write goes on at resume_track / resume_sector: the
; position set, its progress line shown.  Called while the PC waits for
; our answer (the flags byte, the resume's), never while it sends.
; Changes everything.
write_position:
        xor  a
        ld   (mos_drive),a
        ld   hl,sector_buffer
        ld   (mos_buffer),hl
        ld   a,(resume_track)
        ld   (mos_track),a
        ld   a,(resume_sector)
        ld   (mos_sector),a
        jp   show_write_progress

; write_command - the write loop, at the command byte; returns after the
; end byte.  END_BYTE ends the write, REPORT_COMMAND has the drive
; flags and the last status block sent again (the PC asks when a status
; block says that every sector failed: a byte damaged on the line looks
; like that too), the PC's question whether we still work (one that came
; after the work had ended) is no command, and any other byte opens a
; batch.
write_command:
        call get_byte
        cp   WORK_QUESTION
        jr   z,write_command
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
        cp   VERIFY_BATCH           ; verified and compressed batches are the
        jr   z,write_staged         ; second stage's: without it they are
        cp   PACKED_BATCH           ; refused, never taken for plain batches
        jr   nz,write_plain         ; (its resume's answer tells the PC so)
write_staged:
        ld   a,(stage_two_loaded)
        cp   STAGE_TWO_ABSENT
        jp   nz,staged_batch
        jp   link_refused
write_plain:
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
        call verifying              ; a verified batch: the CRC block follows
        call z,receive_crcs
        ; fall into write_received

; write_received - the batch is in sector_buffer: each sector is marked
; still to be written (mark_batch).  Reached by jump from a batch's
; receiving loop; a compressed batch, marked already, comes in at
; write_received_quiet, RTS on.  A round over the batch, one track
; side at a time: the side's sectors that are still to be written go out
; in the order they pass the head; a verified batch's side is then read
; back and checked (verify_side), and more rounds write again what did not
; read back right (verify_rounds).  A pass over a side takes about one turn
; of the disk.  Through the disk work RTS is on: the PC may ask whether we
; still work (work_notice).  Then the status block.
write_received:
        call mark_batch
        call wait_idle              ; the spin-up has ended (without index
        ld   a,FDC_FORCE_INT        ; pulses it never does: the controller
        out  (FDC_COMMAND),a        ; is left idle for the monitor all the same)
        call rts_on
write_received_quiet:               ; (a compressed batch comes in here, marked)
        ld   a,(mos_track)          ; where the batch begins
        ld   (batch_track),a
        ld   a,(mos_sector)
        ld   (batch_sector),a
        xor  a
        ld   (verify_round),a
        ld   (work_asked),a
write_round:
        call batch_rewind
        ld   a,1                    ; the head is found before the first side
        ld   (show_next),a
write_side:
        ld   a,(mos_sector)         ; the side's first sector (0 or 10) ...
        ld   (side_sector),a
        ld   a,(mos_buffer+1)       ; ... and its buffer, on a 512-byte boundary
        ld   (side_buffer),a
        ld   a,(show_next)          ; the first side of a round, the side after
        or   a                      ; a failure (the monitor stopped the motor)
        jr   nz,write_locate        ; and a new track's: where is the head?
        ld   a,(side_sector)
        or   a
        jr   nz,write_pass          ; (the other side of a track follows on)
write_locate:
        call seek_head              ; the step runs while the progress shows
        ld   a,(verify_round)       ; (in the first round)
        or   a
write_progress_call:                ; (-fast takes this call over: lay_progress)
        call z,show_write_progress
write_locate_call:                  ; (-fast takes this call over: lay_locate)
        call locate_head
        xor  a
        ld   (show_next),a
write_pass:
        ld   hl,write_slot
write_pass_call:                    ; (-fast takes this call over: lay_side)
        call side_in_rotation
        ld   c,0                    ; slots that pass before the next side begins
        call verifying              ; a verified batch: the side read back and
        call z,verify_side          ; checked (C: the slots that takes)
        ld   a,(side_sector)        ; from the side's first sector ten on
        ld   (mos_sector),a         ; (a batch ends on a whole side: the PC sends 80)
        ld   a,(side_buffer)
        ld   (mos_buffer+1),a
        ld   b,10
write_next_side:
        push bc
        call advance_position
        pop  bc
        djnz write_next_side
        ld   hl,rotation_slot       ; where the disk will be for the next side
        ld   a,c
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
        call verifying              ; a verified batch: more rounds, or the report
        jp   z,verify_rounds
; The status block, after the work: RTS goes off, a question still on its
; way lands (within the settle delay's 28 ms) and is dropped, so that no
; byte of it is taken for the PC's answer or its next command.
write_report:
        call rts_off
        call settle_delay
write_report_settled:               ; (a compressed batch's comes in here)
        in   a,(USART_DATA)
        ld   hl,batch_status        ; all zero goes out as 03h 00h
        ld   a,(batch_size)
        ld   c,a
        ld   b,0
        call send_block
        jp   write_command

; mark_batch - every sector of the batch still to be written
; (STATUS_VERIFY_MISMATCH in batch_status): once its blocks are in (1,700 T:
; longer than a byte takes at 31250 baud), before the disk work.
; Changes BC, DE, HL.
mark_batch:
        ld   hl,batch_status
        ld   (hl),STATUS_VERIFY_MISMATCH
        ld   de,batch_status+1
        ld   bc,BATCH_SECTORS-1
        ldir
        ret

; side_in_rotation - HL = the action for each sector of the track side at
; side_sector: it is called for every sector of the side within the batch,
; in the order they pass the head from slot rotation_slot on, with HL =
; the sector's status byte and mos_sector, mos_buffer set for it.  An
; action whose monitor call returns in the gap before the next sector's
; ID field keeps the side to one turn.
; Changes everything.
side_in_rotation:
        ld   (side_action+1),hl
        ld   a,(rotation_slot)
        call first_slot
side_slot:
        call slot_position          ; HL = its status byte; carry: in the batch
side_action:
        call c,0                    ; (set on entry: the action)
        call next_slot
        jr   nz,side_slot
        ret

; write_slot - side_in_rotation's action for the writes: a sector marked
; STATUS_VERIFY_MISMATCH or STATUS_READ_FAILED (every sector in the first round) is
; written, and its status becomes the monitor's code or - when it is to be
; read back (a verified batch) - VERIFY_PENDING.  Nothing is printed
; between the writes but after a failure.
; In: HL = the sector's status byte.  Changes everything.
write_slot:
        ld   a,(hl)
        and  STATUS_VERIFY_MISMATCH+STATUS_READ_FAILED
        ret  z                      ; written right already
        push hl
        ld   a,(show_next)          ; after a failure: where the next write goes
        or   a
        call nz,show_write_progress
        ld   a,MOS_WRITE_SECTOR
        call sector_call
        pop  hl
        jr   nz,write_slot_store    ; the write's code: no more tries
        call verifying
        ld   a,0
        jr   nz,write_slot_store    ; 0: written
        ld   a,VERIFY_PENDING
write_slot_store:
        ld   (hl),a
        ret

; sector_call - the monitor's sector call A (MOS_WRITE_SECTOR or
; MOS_READ_SECTOR) for mos_track, mos_sector and mos_buffer; then the PC's
; question is answered (work_notice).
; Out: A = the monitor's code, Z when 0; show_next = the code.
; Changes everything.
sector_call:
        ld   (sector_call_code),a
        xor  a
        ld   (mos_error),a
        rst  08h
sector_call_code:
        defb MOS_WRITE_SECTOR       ; (set on entry)
        call take_mos_error         ; A = code, Z when 0
        ld   (show_next),a
        ; fall into work_notice

; work_notice - after each sector call of a batch's disk work, which can
; take long (the monitor tries a bad sector ten times, restoring between
; the tries): a byte from the PC - it asks after a long silence whether we
; still work - is taken, and from then on WORKING_NOTICE follows every
; call, so that the PC keeps waiting for as long as we work and no longer.
; The notice goes out only when asked: the wire of a healthy batch is
; unchanged.
; Keeps every register, A and flags included.
work_notice:
        push af
        in   a,(USART_CONTROL)
        bit  USART_RXRDY,a
        jr   z,work_notice_due
        in   a,(USART_DATA)         ; the question (its value is no matter)
        ld   a,WORKING_NOTICE
        ld   (work_asked),a
work_notice_due:
        ld   a,(work_asked)         ; WORKING_NOTICE once asked, else 0
        or   a
        call nz,put_byte
        pop  af
        ret

; seek_head - start the head towards mos_track, the side of mos_sector
; selected, unless the monitor's head table has it there already; the table
; follows, so that the monitor's next call does not seek.  The step runs
; on its own (locate_head waits for it).  Changes A, HL.
seek_head:
        call select_sector_side
        ld   hl,mos_head_track      ; drive 0's
        ld   a,(mos_track)
        cp   (hl)
        ret  z
        out  (FDC_DATA),a           ; the seek's target ...
        ld   a,(hl)
        out  (FDC_TRACK),a          ; ... from where the head is
        ld   a,(mos_track)
        ld   (hl),a
        ld   a,FDC_SEEK
        out  (FDC_COMMAND),a
        ret

; select_sector_side - drive 0 selected, on the side of mos_sector: side 1
; for the IDs from 10 on.  Changes A.
select_sector_side:
        ld   a,(mos_sector)
        cp   10
        sbc  a,a
        inc  a
        ld   (current_side),a
        jp   select_drive

; locate_head - the head is on the side's track (seek_head): which sector
; passes it next?  A step still under way is waited for, then the
; monitor's 28 ms settle (a step that ended during the progress print has
; settled by then); the controller's Read Address takes the next ID field
; that passes, and rotation_slot becomes the slot after it, whose ID field
; comes 18.5 ms after the one read.  A short wait (LOCATE_DELAY) puts the
; first write as close before it as every later one of the side is before
; its own.  Without an ID field (a failure, a disk of another layout)
; rotation_slot is left as it was reckoned.  The controller is idle after
; it.  Changes A, BC, HL.
locate_head:
        in   a,(FDC_COMMAND)
        rrca                        ; busy: still stepping
        jr   nc,locate_read
        call wait_idle
        call settle_delay
locate_read:
        ld   a,FDC_READ_ADDRESS
        rst  08h
        defb MOS_FDC_COMMAND        ; Z: it went busy
        ret  nz
        ld   b,3                    ; the ID field's third byte: the sector's
locate_byte:                        ; ID (T-states)
        fdc_await locate_done locate_byte ; ended: no ID field was found; 38 T a
                                    ; poll: a byte comes every 128 T
        in   a,(FDC_DATA)
        djnz locate_byte
        ld   hl,sector_id_table     ; its slot, and the slot after it
        ld   bc,20
        cpir
        jr   nz,locate_done         ; not an ID of the format's
        ld   a,l                    ; the place after it in the table (the
        sub  sector_id_table & 0FFh ; table does not cross a page): 1-20
locate_slot:
        sub  10
        jr   nc,locate_slot
        add  a,10
        ld   (rotation_slot),a
        ld   bc,LOCATE_DELAY        ; the first write goes out as the later
        call settle_loop            ; ones do, a few ms before its sector
locate_done:
        jp   wait_idle              ; the rest of the ID field passes (its
                                    ; bytes are left: Lost Data, no matter)

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
; track side at side_sector: its ID to mos_sector, its buffer to
; mos_buffer.
; Out: HL = its status byte, B = its place in the side (0-9); carry when it
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
        add  a,a                    ; 2 x place: 512-byte steps
        ld   hl,side_buffer
        add  a,(hl)
        ld   (mos_buffer+1),a       ; its own buffer
        sub  sector_buffer/256      ; 2 x its place in the batch
        srl  a
        ld   l,a
        ld   h,batch_status/256
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

; resume_write - the PC's resume command after a fault on the line: the
; Einstein goes on writing where the PC says, without a new format.
; Reached by jump from command_loop after the "W".  Wire: sectors per
; cylinder, batch size, track, sector, and a check byte that makes the four
; bytes and itself sum to FFh.  A resume that does not check out is
; dropped (back to command_loop: the PC tries again); one that does is
; acknowledged and the write goes on at the command byte.  The answer is
; "W" and the drive flags byte - RESUMED_WITH_STAGE or
; RESUMED_WITH_FIRST_PART in place of the "W" when the second stage, or its
; first part, is in place, so that a PC that needs it (its verified and
; compressed batches) learns whether it must send it again.
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
        rst  08h                    ; the screen first, while the PC waits
        defb MOS_PRINT              ; for the answer: the batch follows it
        defm "\r\n] Resuming"
        defb 0Ah+80h
        call write_position
        ld   a,(stage_two_loaded)   ; STAGE_TWO_ABSENT: "W"; the others:
        xor  STAGE_TWO_ABSENT ^ RESUMED ; RESUMED_WITH_...
        call put_byte
        ld   a,(mos_drive_config)   ; with the drive flags again
        call put_byte
        call write_command
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
        cp   BATCH_SECTORS+1
        jr   c,take_batch_ok
take_batch_default:
        ld   a,BATCH_SECTORS
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
; position about to be written on drive 0; show_progress - the same line with the
; five-character word at HL in place of "Write" ("Check", "Read ").
; Changes everything.
show_write_progress:
        ld   hl,word_write
show_progress:
        ld   de,write_text_word
        ld   bc,5
        ldir
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
        defm "0: Track "
write_text_track:
        defm "00 Sector "
write_text_sector:
        defm "00"
        defb 20h+80h          ; ' ' with bit 7: the text ends
        ret
