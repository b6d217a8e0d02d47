; ---------------------------------------------------------------------------
; expand.asm - a sector from its compressed form (link/sector_lz.h): runs of
; literal bytes, and copies from what is expanded so far, both by LDIR.
; Part of the second stage, for the faster line to come.
; ---------------------------------------------------------------------------

; expand_sector - expand the form at HL into the 512 bytes from DE on.
; The form must be whole (the PC's CRC-16 of the sector checks the result).
; Out: HL past the form, DE past the sector.  Changes A, BC, DE, HL.
; A run of literals costs about 135 T and a copy about 190 T, and each byte
; either brings 21 T more: far inside the 1,280 T that one byte of the
; form takes on the line at 31250 baud.
expand_sector:
        push de                     ; the sector's end, kept on the stack
        ex   (sp),hl
        inc  h                      ; + 512
        inc  h
        ex   (sp),hl
expand_token:                       ; T-states
        ld   a,(hl)                 ;  7  the token
        inc  hl                     ;  6
        ld   b,0                    ;  7
        add  a,a                    ;  4  bit 7 to carry: a copy
        jr   c,expand_copy          ;  7/12
        rrca                        ;  4  literals - 1
        ld   c,a                    ;  4
        inc  bc                     ;  6
        ldir                        ; 21 a byte
        jr   expand_next            ; 12
expand_copy:
        rrca                        ;  4  length - 3
        add  a,3                    ;  7
        ld   c,a                    ;  4
        ld   a,(hl)                 ;  7  distance - 1
        inc  hl                     ;  6
        push hl                     ; 11
        cpl                         ;  4  -distance, as the low byte
        ld   l,a                    ;  4
        ld   h,0FFh                 ;  7
        add  hl,de                  ; 11  where the copy comes from
        ldir                        ; 21 a byte
        pop  hl                     ; 10
expand_next:
        ex   (sp),hl                ; 19  the end
        or   a                      ;  4
        sbc  hl,de                  ; 15  Z: expanded whole
        add  hl,de                  ; 11
        ex   (sp),hl                ; 19
        jr   nz,expand_token        ; 12
        pop  af                     ; the end
        ret
