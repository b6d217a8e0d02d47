; ---------------------------------------------------------------------------
; boot.asm - the boot sector of TOBRIN's built-in disk (track 0, sector 0):
; the disk boots into TOBRIN's target program, so that its owner types the
; monitor loader once in the machine's life.
;
; The Einstein's monitor boots drive 0 by reading this sector: bytes 0-1
; are where to load, 2-3 where loading stops, 4-5 the entry point, byte 6
; the drive-type byte it keeps at FBB1h.  It loads 512-byte sectors from
; track 0 sector 0 on (this header lands at the load address too) while the
; destination is below the end address, then jumps to the entry point with
; the ROM paged out, SP = FCFFh and interrupts on.  RST 08h still reaches
; the monitor.  This code leaves 0000h-000Ah and FB00h-FFFFh alone.
;
; Sectors 1 to 4 of track 0 hold the 2048 bytes the PC sends through the
; typed loader - the very target program, put there when TOBRIN is built.
; The boot code copies them to 0100h, where the loader would have put
; them, and starts the program with A = 1: started from the boot disk, it
; stays after a run for the next disk instead of restarting the machine.
; ---------------------------------------------------------------------------
        include 'einstein.inc'

LOAD_ADDRESS:   equ 0E100h
PROGRAM_SECTORS: equ 4          ; the 2048-byte program block
PROGRAM_ADDRESS: equ 0100h      ; where the typed loader puts it
PROGRAM_LENGTH: equ 0800h

        org LOAD_ADDRESS

boot_header:
        defw boot_header            ; load start
        defw program_copy+PROGRAM_LENGTH ; load end: this sector and the program's four
        defw boot_entry             ; entry point
drive_type:
        defb 00h                    ; drive type: 40 tracks, one side (TOBRIN puts the
                                    ; machine's own here when it writes the disk)

; boot_entry - the program to 0100h and started, as after the loader.
boot_entry:
        ld   hl,program_copy
        ld   de,PROGRAM_ADDRESS
        ld   bc,PROGRAM_LENGTH
        ldir
        ld   a,1                    ; started from the boot disk
        jp   PROGRAM_ADDRESS
boot_end:

        org LOAD_ADDRESS+512
program_copy:                       ; sectors 1-4: the program block
