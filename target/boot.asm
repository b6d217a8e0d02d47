; ---------------------------------------------------------------------------
; boot.asm - the boot sector of TOBRIN's built-in system disk (track 0,
; sector 0).
;
; The Einstein's monitor boots drive 0 by reading this sector: bytes 0-1
; are where to load, 2-3 where loading stops, 4-5 the entry point, byte 6
; the drive-type byte it keeps at FBB1h.  It loads 512-byte sectors from
; track 0 sector 0 on (this header lands at the load address too) while the
; destination is below the end address, then jumps to the entry point with
; the ROM paged out, SP = FCFFh and interrupts on.  RST 08h still reaches
; the monitor.  This code leaves 0000h-000Ah and FB00h-FFFFh alone.
;
; It says what the disk is and goes back to the monitor's prompt.
; ---------------------------------------------------------------------------
        include 'einstein.inc'

        org 0E100h

boot_header:
        defw boot_header            ; load start
        defw boot_end               ; load end: this one sector
        defw boot_entry             ; entry point
        defb 00h                    ; drive type: 40 tracks, one side

boot_entry:
        rst  08h
        defb MOS_PRINT
        defm "\r\nTOBRIN system disk V1.00\r\n"
        defm "Made over RS-232 by TOBRIN.\r\n"
        defm "40 tracks, one side, directory empty.\r"
        defb 0Ah+80h
        rst  08h
        defb MOS_MONITOR            ; back to the monitor's prompt
boot_end:
