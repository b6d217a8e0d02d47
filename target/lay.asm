; ---------------------------------------------------------------------------
; lay.asm - the format laid down with the writes (tobrin -fast).  Part of
; the second stage.
;
; A -fast run has no format pass of its own: its format command
; (CHECKED_FORMAT_COMMAND) checks the drive and goes straight on to the
; image write, and each track side of a compressed batch is formatted by
; a Write Track just before its sectors are written.  Where a sector's
; bytes hold no F5h-F7h (which the controller turns into sync bytes and
; CRCs during a Write Track; the PC tells, packed.asm) the Write Track
; lays them down with their ID field, so such a sector costs no write of
; its own; the others get E5h there and are written after, in the order
; they pass the head.  Every sector is then read back as in every
; verified batch.  So a side takes a turn for the Write Track, a turn for
; the writes it left (when there are any) and a turn for the read back,
; where the format pass and the writes took two and one and a bit.
;
; The Write Track, the writes and the read back are the program's own
; (the monitor's calls only try again what failed), and each looks at
; the 8251 between the controller's data requests, and between the
; commands: the next batch's stream (packed.asm) comes in while the disk
; works, as much as we grant (grant.asm), into stream_area at HL' (the
; other register set, with C' = USART_DATA for INI).
;
; The write loop (write.asm) reaches this through two of its calls, which
; packed_batch takes over (lay_hooks): its head search (lay_locate) and
; its pass of writes over a side (lay_side).  Both do what the plain calls
; do for every other batch and round.
; ---------------------------------------------------------------------------

FDC_RESTORE:    equ 00h         ; restore: no verify, step rate 00 (as FDC_SEEK), spin-up on
FDC_RESTORE_CHECKED: equ 54h    ; type I status: write protect, seek error, track 0 ...
FDC_RESTORE_USABLE:  equ 04h    ; ... on track 0 and nothing else
LAY_CLEAN:      equ 08h         ; with STATUS_VERIFY_MISMATCH: a sector the Write Track may lay down
WT_STATUS_PROTECTED: equ 6      ; Write Track status bit: the disk is write-protected
WT_STATUS_LOST: equ 2           ; Write Track status bit: lost data
FDC_WRITE_SECTOR: equ 0A0h      ; one sector, spin-up on, no settle, precompensation (the monitor's)
FDC_WRITE_ERRORS: equ 5Ch       ; status: write protected, not found, CRC error, lost data

; lay_format - the PC's CHECKED_FORMAT_COMMAND (from stage_two_command,
; the whole second stage in place): the drive check's status byte, then
; 0 when the drive is usable, both confirmed with the PC (send_status,
; confirm_status); the format itself is laid down side by side with the
; compressed batches.  Then the image write, as after the format command.
lay_format:
        call stream_empty           ; no stream from an earlier run
        ld   hl,0FFFFh              ; no progress line shown ahead
        ld   (lay_shown),hl
        ld   a,1
        ld   (status_checked),a
        rst  08h
        defb MOS_PRINT
        defm "                    \r] Formatting\r"
        defb 0Ah+80h
        call lay_ready
        jp   nz,command_loop        ; the PC has the failure in its status byte
        xor  a
        call send_status            ; second status byte: the format goes with the writes
        rst  08h
        defb MOS_PRINT
        defm "\r] Writing disk image    \r"
        defb 0Ah+80h
        call write_image
        jp   write_done

; lay_ready - ready_drive for a disk to format.  The motor's spin-up,
; started as the second stage's second part came (spun_up), has seen the
; disk turn; then a restore of the program's own, without the verify
; that on a blank disk only waits five turns to fail: the drive is usable
; when the head reaches track 0 and the disk is not write-protected.
; Anything else - no disk turning, no track 0, a protected disk - goes to
; the monitor's drive check, which says why (ready_drive's two checks; a
; second check after one that found the drive usable would only wait
; again for the monitor's restore to give up on a blank disk).
; Out: as ready_drive.  Changes everything.
lay_ready:
        xor  a                      ; a disk to format must not be write-protected
        ld   (reading),a
        ld   (mos_drive),a
        ld   (current_side),a
        call spun_up
        jr   nz,lay_ready_monitor   ; no disk turns
        call select_drive
        ld   a,FDC_RESTORE
        out  (FDC_COMMAND),a
        call wait_idle
        jr   nz,lay_ready_monitor
        in   a,(FDC_COMMAND)        ; track 0, no seek error, not protected
        and  FDC_RESTORE_CHECKED
        cp   FDC_RESTORE_USABLE
        jr   nz,lay_ready_monitor
        xor  a                      ; drive 0's head, for the monitor's calls
        ld   (mos_head_track),a
        jp   ready_checked
lay_ready_monitor:
        call check_drive
        jp   nz,ready_second_check
        jp   ready_checked

; lay_hooks - the write loop's head search, its progress line and its pass
; of writes go through lay_locate, lay_progress and lay_side from now on.
; Changes HL.
lay_hooks:
        ld   hl,lay_locate
        ld   (write_locate_call+1),hl
        ld   hl,lay_progress
        ld   (write_progress_call+1),hl
        ld   hl,lay_side
        ld   (write_pass_call+1),hl
        ret

; lay_due - Z when the track side in hand is to be laid down: the first
; round of a compressed batch.  Changes A.
lay_due:
        ld   a,(laying)
        dec  a                      ; 1: a compressed batch
        ret  nz
        call verifying
        ret  nz
        ld   a,(verify_round)
        or   a
        ret

; lay_locate - the write loop's head search (locate_head): for a side to
; be laid down only the end of the step and the settle - the Write Track
; begins at the index pulse wherever the head is, and an unformatted track
; has no ID field to read.  Changes A, BC, HL.
lay_locate:
        call lay_due
        jp   nz,locate_head
        in   a,(FDC_COMMAND)
        rrca                        ; busy: still stepping
        ret  nc
        call wait_idle
        jp   settle_delay

; lay_step_ahead - a compressed batch's work is done: the head starts
; towards the next batch's first track now (seek_head), as the stream's
; header names it, so that the step and its settle pass while the status
; block goes out and the stream is taken.  The next batch's first side
; then finds the head there, settled (lay_locate), and its Write Track is
; under way before the index pulse that a step and the progress line after
; the stream's take would miss.  No step without a whole header that names
; a batch within the image.  The motor is kept turning.
; Changes everything.
lay_step_ahead:
        call stream_header_in       ; Z: in and whole, DE = the stream's length
        jr   nz,lay_keep_turning
        ld   a,d
        or   e
        jr   z,lay_keep_turning     ; no batch follows
        ld   hl,(stream_start)
        inc  hl
        inc  hl
        ld   a,(hl)
        inc  hl
        ld   h,(hl)
        ld   l,a                    ; L = its track, H = its sector
        ld   a,(image_tracks)
        dec  a
        cp   l
        jr   c,lay_keep_turning
        ld   (mos_track),hl         ; (its batch byte names the place again)
        call seek_head
        call show_write_progress    ; (which the next batch's side then
        ld   hl,(mos_track)         ; leaves out, lay_progress: the print
        ld   (lay_shown),hl         ; takes the time of a settle)
        ; fall into lay_keep_turning

; lay_keep_turning - spin_up, unless the controller is busy: a step under
; way turns the motor, and a spin_up would overwrite the step's target in
; the data register.  Changes A.
lay_keep_turning:
        in   a,(FDC_COMMAND)
        rrca                        ; busy -> carry
        ret  c
        jp   spin_up

; lay_progress - the write loop's progress line (show_write_progress),
; unless lay_step_ahead has shown it for this very place; that is shown
; once only.  Changes everything.
lay_progress:
        ld   hl,(lay_shown)
        ld   de,(mos_track)
        or   a
        sbc  hl,de
        jp   nz,show_write_progress
        dec  hl                     ; FFFFh: none
        ld   (lay_shown),hl
        ret

; lay_side - the write loop's pass of writes over a side (side_in_rotation
; with HL = write_slot): a side to be laid down is formatted first, with
; the sectors that may be laid down (lay_track), so that the pass writes
; only what the Write Track left; when it left nothing, there is no pass:
; the read back begins with the first sector after the index pulse, while
; it passes.
; Changes everything.
lay_side:
        push hl
        ld   a,(laying)             ; a compressed batch: the PC, which
        or   a                      ; streams meanwhile and so cannot ask,
        jr   z,lay_side_told        ; is told at each side and after each
        ld   a,WORKING_NOTICE       ; sector call that the work goes on
        ld   (work_asked),a         ; (work_notice)
        call put_byte
lay_side_told:
        call lay_due
        jr   nz,lay_side_pass
        xor  a                      ; the side in hand
        call lay_track
        jr   nz,lay_side_pass
        ld   a,(lay_dirty)
        or   a
        jr   nz,lay_side_pass
        pop  hl                     ; nothing to write: on to the read back
        ret
lay_side_pass:
        pop  hl
        ld   a,(laying)             ; a compressed batch's writes go by the
        or   a                      ; controller directly, taking the line
        jp   z,side_in_rotation
        ld   hl,lay_write_slot
        jp   side_in_rotation

; lay_write_slot - side_in_rotation's action for a compressed batch's
; writes: as write_slot's, but a sector is written by the controller
; directly first (lay_write_sector, which takes the line's bytes
; meanwhile), and only when that fails by the monitor's call, with its
; tries.  In: HL = its status byte.  Changes everything.
lay_write_slot:
        call line_poll              ; (a slot passed over takes 300 T)
        ld   a,(hl)
        and  STATUS_VERIFY_MISMATCH+STATUS_READ_FAILED
        ret  z                      ; written right already
        push hl
        ld   a,(show_next)          ; after a failure (the window closed
        or   a                      ; then): where the next write goes
        call nz,show_write_progress
        call lay_write_sector
        jr   z,lay_write_done
        call stream_drain           ; it failed: the window closes, and the
        ld   a,MOS_WRITE_SECTOR     ; monitor's call tries again
        call sector_call
lay_write_done:
        pop  hl
        jp   nz,write_slot_store    ; the monitor's code
        ld   (hl),VERIFY_PENDING    ; written, to be read back
        ret

; lay_read_slot - verify_side's action in a compressed batch: read_slot,
; the line looked at first (a slot passed over takes 300 T).
lay_read_slot:
        call line_poll
        jp   read_slot

; lay_read_sector - a compressed batch's read back of the sector
; mos_track / mos_sector, whose status byte is at HL: read by the
; controller directly and compared byte for byte with its place in the
; batch (sector_buffer), whose CRC-16 was found to be the PC's when it was
; expanded (packed_judge).  The line's bytes are put at HL' while the
; controller searches for the sector (a request is answered at most 106 T
; after it comes: its byte must be taken within 128 T) and while the data
; field passes (95 T a byte, 126 T with one from the line; a request is
; answered at most 65 T late).  Interrupts stay off.
; Out: Z when the controller read it whole, and then A = 0 when every byte
; was the batch's; NZ when it could not be read.  Changes everything.
lay_read_sector:
        ld   a,l                    ; its place in the batch
        add  a,a
        add  a,sector_buffer/256
        push af
        ld   a,FDC_READ_SECTOR
        call lay_sector_command
        pop  hl                     ; H = the place (flags kept)
        ret  nz
        ld   l,0
        ld   e,l                    ; E = every difference, ORed
lay_read_search:                    ; T-states
        fdc_request lay_read_end lay_read_first ; 33 (38 on a request)
        line_look lay_read_search   ; 25 (30 round again: 63 T a poll)
        call fdc_request_first      ; 62  a byte from the line: the
        jr   z,lay_read_first       ; 7   controller's request goes first
        line_store lay_read_search  ; 36
lay_read_first:
        in   a,(FDC_DATA)           ; the first byte, then the line
        xor  (hl)
        ld   e,a
        inc  hl
lay_read_data:                      ; T-states
        fdc_await lay_read_end lay_read_data ; 33 (38 round again)
        in   a,(FDC_DATA)           ; 11
        xor  (hl)                   ;  7  0 when it is the batch's
        or   e                      ;  4
        ld   e,a                    ;  4
        inc  hl                     ;  6
        line_take lay_read_data     ; 30 round again, 61 with a byte
lay_read_end:
        exx
        ld   (stream_write),hl
        exx
        in   a,(FDC_COMMAND)        ; not found, CRC error, lost data
        and  FDC_READ_ERRORS
        ret  nz
        ld   a,e                    ; (Z kept)
        ret

; fdc_request_first - while a sector command waits for a data request, a
; byte has come from the line: is the request there too (it goes first)?
; Out: Z when the controller is busy and asks for a byte.  62 T with the
; call.  Changes A.
fdc_request_first:                  ; T-states
        in   a,(FDC_COMMAND)        ; 11
        and  3                      ;  7  busy and data request
        cp   3                      ;  7
        ret                         ; 10  (and the call's 17)

; lay_write_sector - the sector mos_track / mos_sector written from
; (mos_buffer) by the controller directly: the head is on its track (the
; side was just laid down or read back, which also keeps the motor on).
; The line's bytes are put at HL' meanwhile: during the search for the
; sector's ID field, where the first request may wait (its byte is due 20
; byte times after it); while the data field's first request is awaited
; (it comes some 36 byte times after the first, and its byte is due
; within 128 T: it goes out at most 110 T after it); and after every byte
; of the data field (79 T a byte, 110 T with one from the line).  Nothing
; is tried again; interrupts stay off.
; Out: Z when the controller wrote it.  Changes everything.
lay_write_sector:
        ld   a,FDC_WRITE_SECTOR
        call lay_sector_command
        ret  nz
        ld   hl,(mos_buffer)
        ld   c,FDC_DATA
lay_write_search:                   ; T-states
        fdc_request lay_write_end lay_write_first ; 33 (38 on a request)
        line_take lay_write_search  ; 30 round again, 61 with a byte
lay_write_first:                    ; the first byte is asked for 2 byte
        outi                        ; times after the ID field, the second
lay_write_second:                   ; as the data field begins
        fdc_request lay_write_end lay_write_data_first ; 33 (38 on a request)
        line_look lay_write_second  ; 25 (30 round again)
        call fdc_request_first      ; 62
        jr   z,lay_write_data_first ;  7
        line_store lay_write_second ; 36
lay_write_data_first:
        outi
        jr   lay_write_line
lay_write_data:                     ; T-states
        fdc_await lay_write_end lay_write_data ; 33 (38 round again)
        outi                        ; 16  (HL) to the controller, HL + 1
lay_write_line:
        line_take lay_write_data    ; 30 round again, 61 with a byte
lay_write_end:
        exx
        ld   (stream_write),hl
        exx
        in   a,(FDC_COMMAND)        ; write protected, not found, CRC
        and  FDC_WRITE_ERRORS       ; error, lost data
        ret

; lay_sector_command - the controller's sector command A for mos_track /
; mos_sector, given directly with interrupts off (fdc_command), the line
; looked at first; HL' = stream_write and C' = USART_DATA for the line's
; bytes.  Interrupts stay off (a window's end turns them on again).
; Out: Z when the controller went busy.
; Changes A, BC, DE, HL, HL' and C'.
lay_sector_command:
        push af
        call line_poll
        call select_sector_side
        ld   a,(mos_track)
        out  (FDC_TRACK),a
        ld   a,(mos_sector)
        out  (FDC_SECTOR),a
        pop  af
        di
        call fdc_command            ; Z: it went busy
        ret  nz
        exx
        ld   hl,(stream_write)
        ld   c,USART_DATA
        exx
        ret

; lay_blank_side - verify_side's hook after a side is read back: when it
; is side 0 of a one-sided image on a two-sided drive, in a compressed
; batch's first round, the track's side 1 is formatted blank now (a
; two-sided image's batches hold side 1).  The read back ends just before
; the index pulse that the Write Track begins at, so it takes the turn
; that follows; before side 0, it would have cost side 0's Write Track a
; turn of waiting.  Its failure is told on side 0's sectors; lost data on
; the blank side is let be (nothing there is read back).  Side 0's window
; closes first (stream_drain): what a late PC still has on its way comes
; in before the Write Track's plan, which does not look at the line.
; Changes everything.
lay_blank_side:
        call lay_due
        ret  nz
        ld   a,(side_sector)
        or   a
        ret  nz
        ld   a,(double_sided)
        or   a
        ret  z
        ld   a,(sectors_per_cylinder)
        cp   20
        ret  z
        call stream_drain
        ld   a,1
        jp   lay_track

; lay_mark_failed - lay_each_slot's action after a failed Write Track:
; the sector takes the code in lay_code and is left alone (neither written
; nor read back).  In: HL = its status byte.
lay_mark_failed:
        ld   a,(lay_code)
        ld   (hl),a
        ret

; lay_mark_rewrite - lay_each_slot's action after a Write Track that lost
; data: the sector is written again, whatever the track holds.
; In: HL = its status byte.
lay_mark_rewrite:
        ld   (hl),STATUS_VERIFY_MISMATCH
        ret

; lay_each_slot - the action at HL for every sector of the side in hand
; within the batch (slot_position), with HL = its status byte; A on entry
; is kept in lay_code.  Changes everything.
lay_each_slot:
        ld   (lay_code),a
        ld   (lay_action+1),hl
        ld   a,10
        ld   (slot),a
lay_each_next:
        ld   hl,slot
        dec  (hl)
        call slot_position
lay_action:
        call c,0                    ; (set on entry)
        ld   a,(slot)
        or   a
        jr   nz,lay_each_next
        ret

; lay_track - one Write Track on the track side in hand (mos_track,
; side_sector), as the format lays it (format_side, format.asm): ten
; sectors of 512 bytes with their IDs in sector_id_table's order; the data
; field of a sector marked LAY_CLEAN is its bytes in the batch, every other
; one E5h.  Its sectors laid down are marked written (VERIFY_PENDING), and
; the next slot to pass the head is the side's first (the command ends at
; the index pulse).  When the command fails, the side's sectors take its
; code (MOS_WRITE_PROTECTED or MOS_NOT_READY); when the controller
; lost data, they are all to be written again (on a blank side: let be).
; In: A = 0 for the side in hand; 1 for side 1 blank (IDs 10-19, all E5h).
; Out: Z when the track was laid down, lay_dirty = the side's sectors left
; to write.  A window opens at the command (grant.asm); interrupts are off
; from then on.
; Changes everything.
lay_track:
        ld   (lay_blank),a
        ld   (lay_sp),sp            ; a command that ends early comes back here
        ld   hl,sector_id_table     ; the side's IDs
        or   a
        jr   nz,lay_side_one
        ld   a,(side_sector)
        or   a
        jr   z,lay_ids_found
lay_side_one:
        ld   hl,sector_id_table+10
lay_ids_found:
        ld   (lay_ids),hl
        ld   a,l                    ; side 1 when its IDs are the table's
        sub  sector_id_table & 0FFh ; second half (which does not cross a page)
        jr   z,lay_select
        ld   a,1
lay_select:
        ld   (current_side),a
        call select_drive
        ; The plan: for each slot, last first, the address of the bytes of
        ; its data field on the stack, or 0 for E5h.  A sector laid down
        ; is marked written, to be read back, now: nothing but the command
        ; comes between the Write Track's end and the read back of the
        ; side's first sector, 1.4 ms after it.  lay_dirty counts the
        ; sectors left to write.
        xor  a
        ld   (lay_dirty),a
        ld   a,10
        ld   (slot),a
lay_plan:
        ld   hl,slot
        dec  (hl)
        ld   hl,0
        ld   a,(lay_blank)
        or   a
        jr   nz,lay_plan_push
        call slot_position          ; HL = status, carry: in the batch
        jr   nc,lay_plan_none
        ld   a,(hl)
        cp   STATUS_VERIFY_MISMATCH+LAY_CLEAN
        jr   z,lay_plan_laid
        and  STATUS_VERIFY_MISMATCH+STATUS_READ_FAILED
        jr   z,lay_plan_none        ; the filler: laid down as E5h
        ld   hl,lay_dirty           ; written after the Write Track
        inc  (hl)
lay_plan_none:
        ld   hl,0
        jr   lay_plan_push
lay_plan_laid:
        ld   (hl),VERIFY_PENDING
        ld   a,(mos_buffer+1)       ; its bytes, on a page boundary
        ld   h,a
        ld   l,0
lay_plan_push:
        push hl
        ld   a,(slot)
        or   a
        jr   nz,lay_plan
        ld   a,10
        ld   (lay_left),a
        ld   a,(lay_blank)          ; a window opens (grant.asm): the side's
        or   a                      ; Write Track and its read back, or a
        ld   a,(grant_window)       ; blank side's Write Track alone
        jr   z,lay_grant
        ld   a,(grant_turn)
lay_grant:
        call stream_grant
        di
        ld   a,FDC_WRITE_TRACK
        call fdc_command
        jp   nz,lay_refused
        ; The data request is up already: the first byte must follow within
        ; three byte times, so only the line's pointer comes before it: in
        ; the other register set, HL' = where the next byte from the line
        ; goes and C' = the 8251's data port, for INI.  From one row's last
        ; OUT to the next row's first at most 122 T go by when the request
        ; is waiting (the R row, the data rows): the request comes 128 T
        ; after the previous byte's, and its byte is due 128 T after that.
        ; Every other byte of a row is followed by a look at the line
        ; (lay_feed); the rows of one byte go without, and none of their
        ; runs takes longer than nine bytes (1,152 T): at 31250 baud a byte
        ; takes 1,280 T, and the 8251 holds one until the next is in.
        exx
        ld   hl,(stream_write)
        ld   c,USART_DATA
        exx
        ld   bc,1*256+4Eh           ; gap after the index pulse: its first
        call lay_feed               ; byte, then the wait for the pulse
        call lay_index_wait
        ld   b,30                   ; and the rest of the gap
        jr   z,lay_gap_first
        bit  FDC_BUSY,a
        jp   z,lay_ended
        inc  b                      ; a status not foreseen: the byte went
                                    ; early (one byte more in the gap)
lay_gap_first:
        call lay_feed
        ld   a,(mos_track)          ; D = cylinder, E = head, IY = the IDs
        ld   d,a
        ld   a,(current_side)
        ld   e,a
        ld   iy,(lay_ids)
lay_sector:
        sector_rows lay_feed d e iy ; ID field, gap, data sync, address mark
        pop  hl                     ; 10  the plan's entry for this slot
        ld   a,h                    ;  4
        or   a                      ;  4
        jr   z,lay_filler           ;  7
        ld   b,0                    ;  7  512 bytes: two runs of 256
        call lay_copy               ; 17
        call lay_copy
        jr   lay_data_done
lay_filler:
        ld   bc,0*256+0E5h          ; 512 bytes of E5h
        call lay_feed
        call lay_feed
lay_data_done:
        ld   bc,1*256+0F7h          ; data CRC: two bytes on the disk, so
        call lay_feed               ; the next request comes a byte later
        ld   bc,44*256+4Eh          ; gap after the sector
        call lay_feed
        ld   hl,lay_left
        dec  (hl)
        jp   nz,lay_sector
        call lay_tail               ; 4Eh until the index pulse ends it
        exx
        ld   (stream_write),hl
        exx
        in   a,(FDC_COMMAND)        ; the Write Track's status (a Force
        ld   b,a                    ; Interrupt would show the type I one,
        ld   a,FDC_FORCE_INT        ; whose bit 2 is track 0)
        out  (FDC_COMMAND),a
        xor  a                      ; the next slot: the side's first
        ld   (rotation_slot),a
        ld   a,(lay_blank)          ; the side's read back follows (1.4 ms
        or   a                      ; on): the window is topped up for it
        jr   nz,lay_laid            ; (a blank side has none)
        push bc
        ld   a,(grant_turn)
        call stream_grant
        pop  bc
lay_laid:
        bit  WT_STATUS_LOST,b
        ret  z                      ; Z: laid
        ld   a,(lay_blank)          ; lost data on a blank side: let be
        dec  a
        ret  z
        ld   hl,lay_mark_rewrite    ; lost data: the side's sectors are
        xor  a                      ; written again
        jr   lay_not_laid

; The command was refused, or ended before the track was laid: the stack
; as on entry, the controller stopped, the side's sectors marked with the
; code.
lay_ended:
        exx                         ; what came from the line is kept
        ld   (stream_write),hl
        exx
lay_refused:
        ld   sp,(lay_sp)
        in   a,(FDC_COMMAND)        ; the command's status, before the
        ld   b,a                    ; Force Interrupt
        ld   a,FDC_FORCE_INT
        out  (FDC_COMMAND),a
        bit  WT_STATUS_PROTECTED,b
        ld   a,MOS_WRITE_PROTECTED
        jr   nz,lay_code_known
        ld   a,MOS_NOT_READY
lay_code_known:
        ld   hl,lay_mark_failed
lay_not_laid:
        call lay_each_slot
        ld   a,1                    ; a turn of the write loop's: the head is
        ld   (show_next),a          ; found again before the next side
        or   a                      ; NZ
        ret

; lay_feed - supply B copies of C (B = 0: 256), one per data request;
; busy is tested before the data request, as in feed_controller.  After
; every byte but the last the line is looked at, and a byte that came is
; put at HL' (the other register set: C' = USART_DATA): 87 T a byte, 118 T
; with one from the line, inside the 128 T the disk takes for a byte; the
; request for the next is answered at most 60 T late after one.  A
; command that ends here ends the Write Track early: lay_ended.
; Changes A, B, HL' and B'.
lay_feed:                           ; T-states
        fdc_await lay_ended lay_feed ; 33 (38 round again)
        ld   a,c                    ;  4
        out  (FDC_DATA),a           ; 11
        dec  b                      ;  4
        ret  z                      ;  5/11
        line_take lay_feed          ; 30 round again, 61 with a byte

; lay_copy - supply the B bytes from HL on (B = 0: 256), one per data
; request, looking at the line after every byte but the last as lay_feed
; does: 96 T a byte, 127 T with one from the line; the request for the
; next is answered at most 60 T late after one.
; Changes A, B, HL, HL' and B'.
lay_copy:                           ; T-states
        fdc_await lay_ended lay_copy ; 33 (38 round again)
        ld   a,(hl)                 ;  7
        out  (FDC_DATA),a           ; 11
        inc  hl                     ;  6
        dec  b                      ;  4
        ret  z                      ;  5/11
        line_take lay_copy          ; 30 round again, 61 with a byte

; lay_index_wait - the Write Track's wait for the index pulse, its first
; byte in the data register: the line's bytes are put at HL' meanwhile
; (C' = USART_DATA).  The status stays 81h (motor on, busy) until the
; pulse; then the request for the second byte comes, and 4Eh goes out at
; most 118 T after it (68 T after the status was read, a byte taken, 40 T
; to the OUT), where the disk allows 128.
; Out: Z when the byte went out on its request; else NZ and A = the
; status that ended the wait (the byte went out all the same).
; Changes A, HL' and B'.
lay_index_wait:
        exx
lay_index_spin:                     ; T-states
        in   a,(FDC_COMMAND)        ; 11
        cp   81h                    ;  7
        jr   nz,lay_index_came      ;  7/12
        line_look lay_index_spin    ; 25 (30 round again)
        ini                         ; 16
        jr   lay_index_spin         ; 12
lay_index_came:
        ld   b,a                    ;  4
        ld   a,4Eh                  ;  7
        out  (FDC_DATA),a           ; 11
        ld   a,b
        exx
        cp   83h                    ; motor on, busy, data request
        ret

; lay_tail - 4Eh from C until the index pulse ends the Write Track, the
; line looked at after every byte.
; Changes A, HL' and B'.
lay_tail:                           ; T-states
        in   a,(FDC_COMMAND)        ; 11
        rrca                        ;  4  busy -> carry
        ret  nc                     ;  5
        rrca                        ;  4  data request -> carry
        jr   nc,lay_tail            ; 12/7
        ld   a,c                    ;  4
        out  (FDC_DATA),a           ; 11
        line_take lay_tail          ; 30 round again, 61 with a byte

; lay_mark_clean - the compressed batch's sector just taken, whose status
; byte is at DE: marked LAY_CLEAN when its block said that none of its
; bytes is F5h-F7h (LAYABLE_FLAG), so the Write Track may lay it down.
; (Were the PC wrong, the read back would find the sector wrong, and the
; round after would write it.)  Changes A.
lay_mark_clean:
        ld   a,(packed_layable)
        or   a
        ret  z                      ; written after the Write Track
        ld   a,STATUS_VERIFY_MISMATCH+LAY_CLEAN
        ld   (de),a
        ret
