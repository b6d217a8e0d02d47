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
;   0100h-program_end  code, texts and tables: the 2048-byte block the
;                      loader fills (0100h-08FFh), used up to its end
;   0900h-A8FFh        sector_buffer: one batch of up to 80 sectors; a
;                      compressed batch (-fast) takes 40 at most, and the
;                      next one's stream comes in the rest, stream_area on
;                      (packed.asm)
;   A900h-workspace_end  the CRC table, batch_status and the PC's CRCs, a
;                      track side read back, the variables
;   then 256 bytes     the stack (SP reset to stack_top at every
;                      command_loop); the monitor's calls may use it too
;   stage_two_start-   the second stage (the verified batches and the line
;   stage_two_end      switch; the read, the compressed batches), when the PC sent it; then its
;                      variables and the compressed block being received
;   FB00h-FFFFh        MOS workspace and buffer: never touched but through
;                      the documented workspace bytes
; ---------------------------------------------------------------------------
        include 'einstein.inc'
        include 'wire.inc'          ; the line's values (link/wire_table.def)
        include 'loops.inc'         ; the poll loops' recurring pieces

sector_buffer:  equ 0900h       ; right above the program's 2048 bytes
STACK_ROOM:     equ 256         ; bytes of stack above the workspace
SECTOR_SIZE:    equ 512
BLANK_BYTE:     equ 0E5h        ; what a formatted, unwritten sector holds
; What stage_two_loaded holds: so chosen that it turns into the resume's
; answer with one XOR (write.asm, the resume): RESUMED without the second stage,
; RESUMED_WITH_FIRST_PART, RESUMED_WITH_STAGE.
STAGE_TWO_ABSENT: equ REPORT_COMMAND ; without the second stage: no batch opens with it
STAGE_TWO_FIRST: equ RESUMED_WITH_FIRST_PART ^ STAGE_TWO_ABSENT ^ RESUMED ; with its first part
STAGE_TWO_WHOLE: equ RESUMED_WITH_STAGE ^ STAGE_TWO_ABSENT ^ RESUMED ; ... and with its second too
VERIFY_TRIES:   equ 3           ; rounds of reading back: the first, and two with a rewrite
; A verified batch's status byte beside those on the wire:
VERIFY_PENDING: equ 10h         ; written, to be read back (never sent: a batch's passes end it)
RESET_ADDRESS:  equ 0000h
; A command counts only after this many polls of silence on the line (52 T
; each: about 53 ms): the bytes of a block that arrive while the program is
; unexpectedly back here follow each other within a byte time, so not one
; of them - a "*" in a sector included - is taken for a command.
QUIET_POLLS:    equ 4096
; After a Read Address, the wait before the first write of a track side:
; 1538 passes of settle_loop's 26 T, 10 ms (the next ID field comes 18.5 ms
; after the one read; the monitor's call takes 0.2 ms to give its command).
LOCATE_DELAY:   equ 1538

        org 0100h

; Start-up, entered from the monitor loader with A = 0, or from the TOBRIN
; boot disk with A not 0.  A command that arrived right behind the program
; (a format command typed ahead) is kept: the loader took exactly the
; program's bytes, so the next byte is the PC's command.
program_start:
        ld   sp,stack_top
        ld   (from_boot_disk),a
        ld   a,STAGE_TWO_ABSENT     ; no second stage yet
        ld   (stage_two_loaded),a
        rst  08h
        defb MOS_PRINT
        defm "TOBRIN: System Disk Transfer V"
        include 'version.inc'
        defm "\r"
        defb 0Ah+80h
        ld   hl,0                   ; no silence needed before the first command
        jr   command_prompt

; ---------------------------------------------------------------------------
; command_loop - the waiting state.  Entered by jump (never called): after a
; failed format, from link_timeout, after a refused command.  Drops whatever
; an aborted operation left on the stack, discards stale bytes in the USART,
; and waits without limit for a command that comes after a silence:
;   FORMAT_COMMAND       format, then the image write
;   RESUME_COMMAND       resume the image write (resume_write, write.asm)
;   STAGE_TWO_COMMAND    the second stage's first part (load_stage_two)
;   any other            to the second stage when it is in place (its
;                        parts, the checked format, the line switch, the
;                        read: docs/protocol.md), else the waiting line again
; ---------------------------------------------------------------------------
command_loop:
        ld   sp,stack_top
        call flush_receiver
        ld   hl,QUIET_POLLS
command_prompt:
        ld   (quiet_needed),hl
        xor  a                      ; the format's status bytes go plain
        ld   (status_checked),a     ; unless a checked format asks (second stage)
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
        cp   STAGE_TWO_COMMAND
        jp   z,load_stage_two
        cp   FORMAT_COMMAND
        jr   z,command_format
        ld   b,a                    ; another byte: the second stage's, when it
        ld   a,(stage_two_loaded)   ; is there ("R", "F"); else the line is
        dec  a                      ; printed again (STAGE_TWO_ABSENT is 1)
        ld   a,b
        jp   nz,stage_two_command
        jr   command_loop
command_format:
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
        ld   a,(from_boot_disk)     ; from the boot disk: ready for the next disk
        or   a
        jp   nz,command_loop
        jp   RESET_ADDRESS          ; from the loader: the run is complete, restart the machine

        include 'serial.asm'
        include 'format.asm'
        include 'write.asm'

; load_stage_two - the first part of the PC's second stage (the verified
; batches, the checked format, and the command that brings its second
; part: stage_two_command), as one checked block to stage_two_start; it is
; in place once the block got across, and the PC is told so
; (STAGE_TWO_TAKEN); then back to the waiting state.  A block that does
; not get across ends in command_loop, untold.
load_stage_two:
        ld   hl,stage_two_start
        ld   bc,stage_rest_start-stage_two_start
        call recv_block
        call stage_two_init         ; (the second stage's)
        ld   a,STAGE_TWO_FIRST
        ld   (stage_two_loaded),a
        ld   a,STAGE_TWO_TAKEN
        call put_byte
        jp   command_loop

; ---------------------------------------------------------------------------
; Tables
; ---------------------------------------------------------------------------
; Sector IDs in the order they follow each other round the track, from the
; index: a 2:1 interleave (the format lays it down; the writes and reads
; back take the sectors in this order).
sector_id_table:      defb 0,5,1,6,2,7,3,8,4,9
                      defb 15,10,16,11,17,12,18,13,19,14

; The words of the progress line (show_progress), five characters each.
word_write:           defm "Write"
program_end:

; ---------------------------------------------------------------------------
; Variables and buffers: RAM above the batch buffer, not part of the
; program's bytes (every one is set before it is used).
; ---------------------------------------------------------------------------
; The workspace starts on a page boundary (the build checks the alignments
; noted here).
workspace:            equ sector_buffer+BATCH_SECTORS*SECTOR_SIZE
crc_table:            equ workspace             ; (512) crc16_sector's table: high bytes, then low; page-aligned
batch_status:         equ crc_table+2*256       ; one status byte per sector of a batch; page-aligned
verify_crcs:          equ batch_status+BATCH_SECTORS ; the PC's CRC-16 of each sector, high byte first; same page
verify_area:          equ batch_status+256      ; (5120) a track side read back; 512-byte aligned
double_sided:         equ verify_area+10*SECTOR_SIZE ; 1 when the drive has two sides
track_count:          equ double_sided+1        ; the drive's tracks: 40 or 80
current_side:         equ track_count+1         ; side of the current write track
image_tracks:         equ current_side+1        ; the image's track count (checked, kept)
; The four bytes a resume command sets, in this order (resume_write).
sectors_per_cylinder: equ image_tracks+1        ; 10 or 20: where mos_sector wraps
batch_size:           equ sectors_per_cylinder+1 ; sectors per batch, 1 to 80
resume_track:         equ batch_size+1          ; where a write (or a read) goes on: track ...
resume_sector:        equ resume_track+1        ; ... and sector
sectors_left:         equ resume_sector+1       ; sectors of the batch still to do
show_next:            equ sectors_left+1        ; non-zero: print progress before next write
quiet_needed:         equ show_next+1           ; (2) polls of silence a command needs
passes_left:          equ quiet_needed+2        ; passes the current block may still take
batch_command:        equ passes_left+1         ; the command byte that opened the batch
batch_track:          equ batch_command+1       ; where the batch began: track ...
batch_sector:         equ batch_track+1         ; ... and sector
verify_round:         equ batch_sector+1        ; 0: the first round; 1, 2: rewrite and read back
reading:              equ verify_round+1        ; 1 while the disk is read: write protection is no matter
from_boot_disk:       equ reading+1             ; not 0: started from the TOBRIN boot disk, which stays
side_sector:          equ from_boot_disk+1      ; the track side being written: its first sector (0 or 10) ...
side_buffer:          equ side_sector+1         ; ... and the high byte of its buffer
slot:                 equ side_buffer+1         ; the slot round the track of the sector in hand (0-9)
slots_left:           equ slot+1                ; slots of the side's pass still to go
rotation_slot:        equ slots_left+1          ; the slot expected under the head when the next side begins
stage_two_loaded:     equ rotation_slot+1       ; STAGE_TWO_ABSENT, STAGE_TWO_FIRST or STAGE_TWO_WHOLE: what is in place
fast_constant:        equ stage_two_loaded+1    ; the time constant the PC proposed
work_asked:           equ fast_constant+1       ; WORKING_NOTICE once the PC asked during a batch's work, else 0
status_checked:       equ work_asked+1          ; not 0: the format's status bytes are confirmed (checked format)
fill_sp:              equ status_checked+1      ; (2) the stack while recv_block lays a fill
line_constant:        equ fill_sp+2             ; the line's CTC time constant (the second stage's)
workspace_end:        equ line_constant+1
stack_top:            equ workspace_end+STACK_ROOM ; the first push lands just below

; ---------------------------------------------------------------------------
; The second stage: code that only some runs need, above the stack (the
; read, the line switch and the compressed batches of the faster line).
; The PC sends it with STAGE_TWO_COMMAND as one checked block (tobrin
; -read, -fast); it is not part of the 2048 bytes the loader takes, and the
; plain run never sends it.
; ---------------------------------------------------------------------------
        org  stack_top
stage_two_start:
        include 'verify.asm'        ; its first part: what -verify needs, and the
        include 'fast.asm'          ; line switch (the second part goes at the rate agreed)
stage_rest_start:
        include 'read.asm'          ; its second: what -read and -fast need more
        include 'packed.asm'
        include 'lay.asm'
        include 'grant.asm'
        include 'expand.asm'
stage_two_end:
packed_next:          equ stage_two_end         ; the compressed batch's next sector number
packed_crc:           equ packed_next+1         ; (2) the CRC-16 of the sector just judged
filler_crc:           equ packed_crc+2          ; (2) the CRC-16 of the filler, ...
filler_crc_known:     equ filler_crc+2          ; ... once this is not 0 (set again each batch)
packed_block_crc:     equ filler_crc_known+1    ; (2) the CRC-16 of the block's bytes so far
packed_layable:       equ packed_block_crc+2    ; LAYABLE_FLAG from the block's length, or 0
read_status:          equ packed_layable+1      ; the read: the sector's status byte ...
read_crc:             equ read_status+1         ; (2) ... the CRC-16 of its record ...
read_passes:          equ read_crc+2            ; ... and the times it may still be sent
laying:               equ read_passes+1         ; 1: the batch's track sides are formatted as they are written (lay.asm)
lay_sp:               equ laying+1              ; (2) the stack as lay_track began
lay_ids:              equ lay_sp+2              ; (2) the side's sector IDs in sector_id_table
lay_blank:            equ lay_ids+2             ; 1: the Write Track lays E5h only (a blank side)
lay_left:             equ lay_blank+1           ; sectors of the Write Track still to go
lay_code:             equ lay_left+1            ; lay_each_slot's A on entry
lay_dirty:            equ lay_code+1            ; sectors of the side the Write Track left to write
lay_shown:            equ lay_dirty+1           ; (2) mos_track, mos_sector whose progress lay_step_ahead showed (FFh: none)
batch_place:          equ lay_shown+2           ; (2) a compressed batch's track and sector, as its batch byte names them
ahead_count:          equ batch_place+2         ; blocks of the stream judged ahead (stream_finish) ...
ahead_read:           equ ahead_count+1         ; (2) ... where the next one begins ...
ahead_done:           equ ahead_read+2          ; ... and not 0 once one did not check out
ahead_records:        equ verify_area           ; (4 a block) their number, CRC-16 (low first), LAYABLE_FLAG:
                                                ; verify_area is free from a batch's work to the next one's
packed_block:         equ ahead_done+1         ; (PACKED_MAX) the compressed block being received
packed_at:            equ packed_block+PACKED_MAX ; (2) the number of the block being judged
stream_write:         equ packed_at+2           ; (2) where the stream's next byte lands
stream_read:          equ stream_write+2        ; (2) the stream's block being taken ...
stream_end:           equ stream_read+2         ; (2) ... and the end of what came of it
stream_start:         equ stream_end+2          ; (2) where the stream area begins ...
stream_end_high:      equ stream_start+2        ; ... and the high byte of where it ends
stream_slack_high:    equ stream_end_high+1     ; ... and of where its STREAM_SLACK begins
follows_left:         equ stream_slack_high+1   ; streams of the batch's rest still to come (stream_follow)
granted_end:          equ follows_left+1        ; (2) where the stream's bytes granted so far end (grant.asm)
grant_window:         equ granted_end+2         ; units a side's window grants at the line's rate ...
grant_turn:           equ grant_window+1        ; ... and those of a turn's
; The stream area (stream_empty picks it by the batch size): after a batch
; of up to FAST_BATCH_SECTORS sectors, the rest of sector_buffer; after a
; longer one (80 sectors, when the line stays at 9600), the pages from here
; to the monitor's workspace.
stream_area:          equ 256+grant_turn/256*256 ; up to STREAM_END
STREAM_MAX:           equ STREAM_END-STREAM_SLACK-stream_area ; the most the PC streams there, header included
stream_area_wide:     equ sector_buffer+FAST_BATCH_SECTORS*SECTOR_SIZE ; up to STREAM_END_WIDE
STREAM_MAX_WIDE:      equ STREAM_END_WIDE-STREAM_SLACK-stream_area_wide ; ... and there
