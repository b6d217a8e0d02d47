; ---------------------------------------------------------------------------
; expand.asm - a sector from its compressed form (link/sector_lz.h): runs of
; literal bytes, and copies from what is expanded so far - the sector's own
; bytes and the batch's earlier sectors below it - both by LDIR.  Part of
; the second stage (the compressed batches, packed.asm).
; ---------------------------------------------------------------------------

; expand_sector - expand the form at HL into the 512 bytes from DE on (DE
; on a 256-byte boundary).  No run is let past the sector's end, so a
; damaged form writes nothing outside it; the PC's CRC-16 of the sector
; checks the rest.
; Out: Z when the form expanded to exactly 512 bytes (NZ: a run would have
; gone past the end); HL past the form, DE past what was expanded.
; Changes A, BC, DE, HL.
; A run of literals costs about 135 T, a copy about 200 T (a far one 220),
; and each byte either brings 21 T more: far inside the 1,280 T that one
; byte of the form takes on the line at 31250 baud.
expand_sector:
        call stream_poll
        ld   a,d                    ; the sector's end, high byte, into the
        add  a,2                    ; two compares that need it
        ld   (expand_run_end+1),a
        ld   (expand_whole_end+1),a
expand_token:                       ; T-states
        ld   a,(hl)                 ;  7  the token
        inc  hl                     ;  6
        ld   b,0                    ;  7
        add  a,a                    ;  4  bit 7 to carry: a copy
        jr   c,expand_copy          ;  7/12
        rrca                        ;  4  literals - 1
        call expand_fits            ; 50
        jr   nc,expand_bad          ;  7  past the end
        inc  bc                     ;  6
        call ldir_polled            ; 21 a byte, and 5 in pieces
        jr   expand_next            ; 12
expand_copy:
        add  a,a                    ;  4  bit 6 to carry: two distance bytes
        jr   c,expand_far           ;  7/12
        rrca                        ;  4
        rrca                        ;  4  length - 3
        add  a,2                    ;  7  length - 1
        call expand_fits            ; 50
        jr   nc,expand_bad          ;  7  past the end
        scf                         ;  4  from DE - (distance - 1) - 1
        ld   a,e                    ;  4
        sbc  a,(hl)                 ;  7
        inc  hl                     ;  6
        ld   b,a                    ;  4
        ld   a,d                    ;  4
        sbc  a,0                    ;  7
        jr   expand_from            ; 12
expand_far:
        rrca                        ;  4
        rrca                        ;  4  length - 4
        add  a,3                    ;  7  length - 1
        call expand_fits            ; 50
        jr   nc,expand_bad          ;  7  past the end
        scf                         ;  4  from DE - (distance - 1) - 1
        ld   a,e                    ;  4
        sbc  a,(hl)                 ;  7
        inc  hl                     ;  6
        ld   b,a                    ;  4
        ld   a,d                    ;  4
        sbc  a,(hl)                 ;  7
        inc  hl                     ;  6
expand_from:                        ; A, B: where the copy comes from
        push hl                     ; 11
        ld   h,a                    ;  4
        ld   l,b                    ;  4
        ld   b,0                    ;  7
        inc  bc                     ;  6
        call ldir_polled            ; 21 a byte, and 5 in pieces
        pop  hl                     ; 10
expand_next:                        ; no run went past the end, so DE has
        call stream_poll            ; 27 while no stream comes
        ld   a,d                    ;  4  reached it when its high byte has
expand_whole_end:
        cp   0                      ;  7  (set on entry)
        jr   c,expand_token         ; 12
        ret                         ; Z: expanded whole
expand_bad:
        or   1                      ; NZ
        ret

; ldir_polled - LDIR of the BC bytes (BC not 0) from HL to DE; while a
; stream comes (stream_poll does not begin with RET), in pieces of 32
; bytes (672 T), the line polled before each: with what comes before and
; after a run, the line waits no more than about 900 T.
; Changes A, BC (0), DE, HL as LDIR does.
ldir_polled:
        ld   a,(stream_poll)
        cp   RET_OPCODE
        jr   z,ldir_polled_last     ; no stream: at once
ldir_polled_more:
        call stream_poll
        ld   a,b                    ; 32 or fewer left: the last piece
        or   a
        jr   nz,ldir_polled_piece
        ld   a,c
        cp   33
        jr   c,ldir_polled_last
ldir_polled_piece:
        push bc
        ld   bc,32
        ldir
        ex   (sp),hl                ; HL = the count, less this piece
        ld   bc,-32
        add  hl,bc
        ld   b,h
        ld   c,l
        pop  hl
        jr   ldir_polled_more
ldir_polled_last:
        ldir
        ret

; expand_fits - a run of A + 1 bytes from DE on (B = 0): C = A, and carry
; when its last byte lies within the sector.  Changes A, flags.
expand_fits:                        ; T-states, with the call
        ld   c,a                    ;  4
        add  a,e                    ;  4  the run's last byte, high byte
        ld   a,d                    ;  4
        adc  a,b                    ;  4
expand_run_end:
        cp   0                      ;  7  the sector's end (set on entry)
        ret                         ; 10
