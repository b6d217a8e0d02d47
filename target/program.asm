; ---------------------------------------------------------------------------
; program.asm - the target program: TOBRIN's Z80 side on the Einstein.
;
; The monitor loader stores the 2048 bytes the PC sends at 0100h and jumps
; here.  From then on this program is the Einstein's end of the serial
; conversation: it waits for the PC's format command "*", formats drive 0
; with the WD1770 directly (format.asm), then receives the image's sectors
; in batches, writes them through the MOS and answers each batch with a
; status block (write.asm).  Every failure, and every poll limit that runs
; out, comes back to command_loop, so the PC can start again with "*".
;
; Memory while it runs:
;   0100h-program_end  code, texts, tables, variables, batch_status
;   program_end-07FFh  the stack (SP reset to 07FFh at every command_loop)
;   0800h-A7FFh        sector_buffer: one batch of up to 80 sectors
;   FB00h-FFFFh        MOS workspace and buffer: never touched but through
;                      the documented workspace bytes
; ---------------------------------------------------------------------------
        include 'einstein.inc'

stack_top:      equ 07FFh
sector_buffer:  equ 0800h
MAX_BATCH:      equ 80          ; sectors per batch; sector_buffer is sized for it
SECTOR_SIZE:    equ 512
FORMAT_COMMAND: equ '*'
END_BYTE:       equ 2
FILL_MARKER:    equ 3
FULL_MARKER:    equ 0
RESET_ADDRESS:  equ 0000h

        org 0100h

; Start-up, entered from the monitor loader.
program_start:
        ld   sp,stack_top
        rst  08h
        defb MOS_PRINT
        defm "TOBRIN: System Disk Transfer V1.00\r"
        defb 0Ah+80h
        ; fall into command_loop

; ---------------------------------------------------------------------------
; command_loop - the waiting state.  Entered by jump (never called): at
; start, after a failed format, and from link_timeout.  Drops whatever an
; aborted operation left on the stack, discards stale bytes in the USART,
; and waits without limit for the format command.
; ---------------------------------------------------------------------------
command_loop:
        ld   sp,stack_top
        call flush_receiver
        rst  08h
        defb MOS_PRINT
        defm "[ Waiting to proceed"
        defb 0Dh+80h
        call wait_byte
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
sectors_per_cylinder: defb 10   ; 10 or 20: where mos_sector wraps
batch_size:           defb MAX_BATCH ; sectors per batch, 1 to 80
sectors_left:         defb 0    ; sectors of the batch still to write
show_next:            defb 0    ; non-zero: print progress before next write
status_pointer:       defw 0    ; next entry of batch_status

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
