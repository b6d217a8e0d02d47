; ---------------------------------------------------------------------------
; format.asm - the format pass: check drive 0, tell the PC, format every
; track with the system disk's layout (10 sectors of 512 bytes a side, IDs
; 0-9 on side 0 and 10-19 on side 1, all E5h), tell the PC again.
;
; The write track is the one time-critical job of the program: the WD1770
; asks for a byte every 32 microseconds (128 T at 4 MHz) and writes a zero
; with Lost Data set when the data register is still empty at the next byte
; time.  So interrupts are off for the whole command, no MOS call runs
; between its start and its end, and the template is fed by straight-line
; code: each row is a count and a byte in BC and a call of feed_controller.
; From one row's last OUT to the next row's first OUT is about 93 T when the
; data request is already waiting, well inside the byte time.
; ---------------------------------------------------------------------------

TRACKS_40:      equ 40
TRACKS_80:      equ 80
WAIT_ROUNDS:    equ 4           ; wait_idle: 4 x 65,536 polls
SETTLE_COUNT:   equ 1100h       ; settle_delay: passes of a 26 T loop
SEEK_OK:        equ 0A0h        ; motor on, spin-up complete, nothing else
SEEK_STATUS_MASK: equ 0F9h      ; ignore index and track-0
FORMAT_FAILED:  equ 0FFh        ; second format status byte (and mos_error): failed

; format_disk - answer the format command.
; Sends the first status byte (0 = drive usable, else the error code) and,
; when that was 0, the second (0 = formatted, FFh = failed).
; Out: Z on success, NZ on failure.  On a failure inside a write track it
; does not return: format_failed goes back to command_loop itself.
; Changes everything.
format_disk:
        xor  a                      ; a disk to format must not be write-protected
        call ready_drive
        ret  nz                     ; unusable: nothing more is sent
        call show_format_progress
        xor  a
        ld   (mos_track),a
        ld   (mos_sector),a

        ld   e,0                    ; E = track; MOS call AEh keeps it
format_track:
        call select_drive
        ld   a,e
        out  (FDC_DATA),a           ; seek target
        ld   (mos_track),a
        push de
        call show_format_progress
        pop  de
        ld   a,FDC_SEEK
        rst  08h
        defb MOS_FDC_COMMAND
        jr   nz,format_seek_failed
        call wait_idle
        jr   nz,format_seek_failed
        call settle_delay
        in   a,(FDC_COMMAND)
        and  SEEK_STATUS_MASK
        cp   SEEK_OK
        jp   nz,format_failed       ; seek or CRC error, or write-protected
        ld   ix,sector_id_table
        xor  a
        call format_side
        ld   a,(double_sided)
        or   a
        jr   z,format_track_done
        ld   a,1
        call format_side
format_track_done:
        inc  e
        ld   a,(track_count)
        cp   e
        jr   nz,format_track

        ld   a,(track_count)        ; drive 0's head now stands on the last track
        dec  a
        ld   (mos_head_track),a
        xor  a
        call send_status            ; second format status byte: success
        ret                         ; Z from the XOR

; The seek was refused or never ended.  The controller is stopped so that it
; is always left idle after a failure.
format_seek_failed:
        ld   a,FDC_FORCE_INT
        out  (FDC_COMMAND),a
        ei
        ld   a,FORMAT_FAILED
        call send_status            ; second format status byte: failure
        or   a                      ; NZ
        ret

; format_failed - a seek status or a write track went wrong.  Reached by
; jump from any depth, so it ends in command_loop, which resets the stack.
format_failed:
        ld   a,FORMAT_FAILED
        ld   (mos_error),a
        ld   a,FDC_FORCE_INT        ; end whatever the controller is doing
        out  (FDC_COMMAND),a
        ei
        ld   a,FORMAT_FAILED
        call send_status            ; second format status byte, sent once
        jp   command_loop

; ready_drive - the first format status byte: drive 0 checked twice (the
; first check readies the drive and may fail; the second one counts), the
; result stored in mos_error and sent to the PC; then drive 0's geometry
; from the monitor's configuration (double_sided, track_count).
; In: A = 0 to refuse a write-protected disk, 1 to take it (to read it).
; Out: Z when the drive is usable.  Changes everything.
ready_drive:
        ld   (reading),a
        xor  a
        ld   (mos_drive),a
        ld   (current_side),a
        call check_drive
ready_second_check:                 ; (lay_ready: the first check did not find it usable)
        call check_drive
ready_checked:                      ; (lay_ready: it did)
        ld   (mos_error),a
        call send_status            ; first format status byte
        or   a
        ret  nz
        ld   a,(mos_drive_config)   ; drive 0's bits: two sides, 80 tracks
        ld   b,a
        and  DRIVE_TWO_SIDES       ; 1 when two-sided
        ld   (double_sided),a
        ld   a,b
        and  DRIVE_80_TRACKS
        ld   a,TRACKS_40
        jr   z,ready_40_tracks
        ld   a,TRACKS_80
ready_40_tracks:
        ld   (track_count),a
        xor  a                      ; Z: usable
        ret

; send_status - a status byte of the format command (the drive check's,
; the format's) in A to the PC; when a checked format asked for it
; (status_checked), confirmed with the PC (the second stage's
; confirm_status).  Keeps A and the flags.
send_status:
        call put_byte
        push af
        ld   a,(status_checked)
        or   a
        jp   nz,confirm_status      ; it returns with AF as it was
        pop  af
        ret

; check_drive - make drive 0 ready and look at its write protection.
; The monitor's restore verifies an ID field on track 0, which a blank or
; foreign disk does not have: that failure (code 3) still leaves the head on
; track 0 of a drive that is there and turning, so such a disk is usable -
; it is what we are about to format.  Not ready or no drive stand.
; Out: A = 0 usable, 2 write-protected, else the MOS error code; Z when 0.
; Changes everything.
check_drive:
        call select_drive
        rst  08h
        defb MOS_RESTORE
        jr   z,check_drive_protect
        cp   MOS_NOT_FOUND
        ret  nz                     ; A = the MOS's error code
check_drive_protect:
        ld   a,(reading)            ; a disk to be read may be protected
        or   a
        jr   nz,check_drive_ok
        in   a,(FDC_COMMAND)
        bit  FDC_WRITE_PROTECT,a
        jr   z,check_drive_ok
        ld   a,MOS_WRITE_PROTECTED
        or   a
        ret
check_drive_ok:
        xor  a
        ret

; select_drive - drive 0 selected on the drive latch, on side 1 when
; current_side is 1 (the program works on drive 0 alone: mos_drive is
; always 0).  Changes A; keeps the rest.
select_drive:
        ld   a,(current_side)
        or   a
        ld   a,DRIVE0_SELECT
        jr   z,select_side0
        ld   a,DRIVE0_SELECT+DRIVE_SIDE1
select_side0:
        out  (DRIVE_SELECT),a
        ret

; format_side - write one side of the current track with one write track.
; In: A = side, E = track, IX = next sector ID in sector_id_table.
; Out: IX advanced by 10.  Interrupts are off from the command to its end.
; Changes A, BC, D, H.
format_side:
        ld   (current_side),a
        call select_drive
        di
        ld   a,FDC_WRITE_TRACK
        rst  08h
        defb MOS_FDC_COMMAND        ; keeps E and IX
        jp   nz,format_failed
        ; The data request is up already: the first byte must follow within
        ; three byte times, so nothing comes before the first row.
        ld   bc,32*256+4Eh          ; gap after the index pulse
        call feed_controller
        ld   a,(current_side)       ; D = head byte, H = sectors to go
        ld   d,a
        ld   h,10
format_sector:
        sector_rows feed_controller e d ix ; ID field, gap, data sync, address mark
        ld   bc,0*256+0E5h          ; 512 bytes of E5h: two runs of 256
        call feed_controller
        ld   bc,0*256+0E5h
        call feed_controller
        ld   bc,1*256+0F7h          ; data CRC
        call feed_controller
        ld   bc,44*256+4Eh          ; gap after the sector
        call feed_controller
        dec  h
        jp   nz,format_sector
format_gap:                         ; 4Eh until the index pulse ends it
        ld   bc,0*256+4Eh
        call feed_gap
        jr   c,format_gap
        ld   a,FDC_FORCE_INT
        out  (FDC_COMMAND),a
        ei
        ret

; feed_controller - supply B copies of C (B = 0: 256), one per data request.
; Busy is tested before the data request in every poll: once the command
; has ended, a stale data request must not be answered as if it still ran.
; The controller ending the command here, before the template is complete,
; is a failure: format_failed.  Changes A and B.
feed_controller:                    ; T-states
        fdc_await feed_ended_early feed_controller ; 33 (38 round again)
        ld   a,c                    ;  4
        out  (FDC_DATA),a           ; 11
        djnz feed_controller        ; 13/8
        ret
feed_ended_early:
        jp   format_failed

; feed_gap - like feed_controller for the last gap, where the controller
; ending the command at the index pulse is the normal end.
; Out: carry set when all B bytes were taken, clear when the command ended.
feed_gap:
        in   a,(FDC_COMMAND)
        rrca
        ret  nc                     ; ended: the track is written
        rrca
        jr   nc,feed_gap
        ld   a,c
        out  (FDC_DATA),a
        djnz feed_gap
        scf
        ret

; wait_idle - wait for the controller to end a seek.
; Out: Z when it is no longer busy; NZ with A = 1 after 4 x 65,536 polls.
; Keeps DE and IX; changes A, BC, H.
wait_idle:
        ld   h,WAIT_ROUNDS
        ld   bc,0
wait_idle_poll:
        in   a,(FDC_COMMAND)
        bit  FDC_BUSY,a
        ret  z
        dec  bc
        ld   a,b
        or   c
        jr   nz,wait_idle_poll
        dec  h
        jr   nz,wait_idle_poll
        ld   a,1
        or   a
        ret

; settle_delay - let the head settle after a seek: 4,352 passes of 26 T,
; 113,152 T (28 ms at 4 MHz).  Changes A and BC.
settle_delay:
        ld   bc,SETTLE_COUNT
settle_loop:
        dec  bc                     ;  6
        ld   a,b                    ;  4
        or   c                      ;  4
        jr   nz,settle_loop         ; 12
        ret

; show_format_progress - "\r - Format 0: Track tt " for mos_track (drive 0's).
; Changes everything but DE (MOS print may change it: callers save it).
show_format_progress:
        ld   a,(mos_track)
        ld   hl,format_text_track
        call put_two_digits
        rst  08h
        defb MOS_PRINT
        defm "\r - Format "
        defm "0: Track "
format_text_track:
        defm "00"
        defb 20h+80h          ; ' ' with bit 7: the text ends
        ret
