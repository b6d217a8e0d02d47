; ---------------------------------------------------------------------------
; program.asm - the target program: TOBRIN's Z80 side on the Einstein.
;
; The monitor loader stores the 2048 bytes the PC sends at 0100h and jumps
; here.  From then on this program is the Einstein's end of the serial
; conversation: it waits for the PC's format command "*", formats drive 0
; with the WD1770 directly (format.asm), then receives the image's sectors
; in batches, writes them through the MOS and answers each batch with a
; status block (write.asm).  Every failure, and every poll limit that runs
; out, comes back to command_loop, so the PC can start again with "*" - or,
; after a fault on the line, resume the write where it stopped with "W".
;
; Memory while it runs:
;   0100h-program_end  code, texts, tables, variables, batch_status
;   program_end-08FFh  the stack (SP reset to 0900h at every command_loop),
;                      inside the 2048-byte block the loader fills
;   0900h-A8FFh        sector_buffer: one batch of up to 80 sectors
;   FB00h-FFFFh        MOS workspace and buffer: never touched but through
;                      the documented workspace bytes
; ---------------------------------------------------------------------------
        include 'einstein.inc'

stack_top:      equ 0900h       ; the first push lands at 08FFh
sector_buffer:  equ 0900h
MAX_BATCH:      equ 80          ; sectors per batch; sector_buffer is sized for it
SECTOR_SIZE:    equ 512
FORMAT_COMMAND: equ '*'
RESUME_COMMAND: equ 'W'         ; resume the image write (never sent by a run without faults)
END_BYTE:       equ 2
REPORT_COMMAND: equ 1           ; the flags and the last status block again (never sent by a run without faults)
FILL_MARKER:    equ 3
FULL_MARKER:    equ 0
RESET_ADDRESS:  equ 0000h
; A command counts only after this many polls of silence on the line (52 T
; each: about 53 ms): the bytes of a block that arrive while the program is
; unexpectedly back here follow each other within a byte time, so not one
; of them - a "*" in a sector included - is taken for a command.
QUIET_POLLS:    equ 4096

        org 0100h

; Start-up, entered from the monitor loader.  A command that arrived right
; behind the program (a format command typed ahead) is kept: the loader
; took exactly the program's bytes, so the next byte is the PC's command.
program_start:
        ld   sp,stack_top
        rst  08h
        defb MOS_PRINT
        defm "TOBRIN: System Disk Transfer V1.00\r"
        defb 0Ah+80h
        ld   hl,0                   ; no silence needed before the first command
        jr   command_prompt

; ---------------------------------------------------------------------------
; command_loop - the waiting state.  Entered by jump (never called): after a
; failed format, from link_timeout, after a refused command.  Drops whatever
; an aborted operation left on the stack, discards stale bytes in the USART,
; and waits without limit for a command that comes after a silence:
;   "*"                  format, then the image write
;   "W" s b t n c        resume the image write (resume_write, write.asm)
; Any other byte: the waiting line again.
; ---------------------------------------------------------------------------
command_loop:
        ld   sp,stack_top
        call flush_receiver
        ld   hl,QUIET_POLLS
command_prompt:
        ld   (quiet_needed),hl
        rst  08h
        defb MOS_PRINT
        defm "[ Waiting to proceed"
        defb 0Dh+80h
        call wait_byte              ; A = byte, BC = polls of silence before it
        ld   hl,(quiet_needed)
        or   a                      ; (carry clear for the compare)
        sbc  hl,bc
        jr   z,command_heard
        jr   nc,command_loop        ; it came too soon: part of a stream
command_heard:
        cp   RESUME_COMMAND
        jp   z,resume_write
        cp   FORMAT_COMMAND
        jr   nz,command_loop        ; any other byte: print the line again
        rst  08h
        defb MOS_PRINT
        defm "                    \r] Formatting\r"
        defb 0Ah+80h
        call format_disk
        jr   nz,command_loop        ; the PC has the failure in its status byte
        rst  08h
        defb MOS_PRINT
        defm "\r] Writing disk image    \r"
        defb 0Ah+80h
        call write_image
write_done:
        jp   RESET_ADDRESS          ; the run is complete: restart the machine

        include 'serial.asm'
        include 'format.asm'
        include 'write.asm'

; ---------------------------------------------------------------------------
; Variables and tables
; ---------------------------------------------------------------------------
double_sided:         defb 0    ; 1 when both sides are formatted
track_count:          defb 0    ; tracks to format: 40 or 80
current_side:         defb 0    ; side of the current write track
image_tracks:         defb 0    ; the image's track count (kept, unused)
; The three bytes a resume command sets, in this order (resume_write).
sectors_per_cylinder: defb 10   ; 10 or 20: where mos_sector wraps
batch_size:           defb MAX_BATCH ; sectors per batch, 1 to 80
resume_track:         defb 0    ; where a resumed write goes on: track ...
resume_sector:        defb 0    ; ... and sector
sectors_left:         defb 0    ; sectors of the batch still to write
show_next:            defb 0    ; non-zero: print progress before next write
status_pointer:       defw 0    ; next entry of batch_status
quiet_needed:         defw 0    ; polls of silence a command needs
passes_left:          defb 0    ; passes the current block may still take

; Drive select bit for port 23h, which is also the drive's two-sided bit in
; mos_drive_config; and the drive's 80-track bit.  Indexed by drive AND 3.
sides_mask_table:     defb 01h,02h,04h,08h
tracks_mask_table:    defb 10h,20h,40h,80h

; Sector IDs in the order they follow each other round the track: a 2:1
; interleave, so that the MOS can write consecutive sectors on one turn.
sector_id_table:      defb 0,5,1,6,2,7,3,8,4,9
                      defb 15,10,16,11,17,12,18,13,19,14

batch_status:         defs MAX_BATCH ; one mos_error byte per sector of a batch
program_end:
