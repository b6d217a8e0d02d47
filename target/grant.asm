; ---------------------------------------------------------------------------
; grant.asm - how much of the next batch's stream the PC may send while a
; compressed batch is written (tobrin -fast).  Part of the second stage's
; second part.
;
; The PC sends the stream only as we grant it, in GRANT_UNIT bytes: our RTS
; (its CTS) is no brake to count on - many adapters send a few bytes more
; once it drops, some ignore it - and the 8251 holds one byte.  So we grant
; only what can come while we look at the line at least once a byte time
; (1,280 T at 31250 baud) until it is in: a window.  A window opens at the
; Write Track of a side (grant_window: the Write Track takes a turn and
; more, the side's read back another) and is topped up as the Write Track
; ends (grant_turn: the read back's turn); each falls about 60 ms short
; of the time it is meant for, left for the PC to hear a grant and answer
; it (a USB adapter's latency timer, 16 ms by default).  The window closes at
; the end of the side's work: what is still due comes in (stream_drain)
; before anything that does not look at the line (the monitor's calls,
; the progress line, a settle).  Interrupts are off while a window is open.
; After the work the rest of the stream comes at once (GRANT_REST,
; stream_finish), since nothing but the line is done then.
;
; Wire, Einstein to PC, while the batch is written: GRANT_UNITS + n (n = 1
; to GRANT_MOST): n x GRANT_UNIT bytes more of the stream may come;
; GRANT_REST: all the rest of it.
; ---------------------------------------------------------------------------

GRANT_MOST:     equ 127
; Units for one turn less GRANT_MARGIN: at 125000 / N baud and 10 bits a
; byte, a turn (0.2 s) carries 2500 / N bytes, 78.1 / N units.
GRANT_WINDOW_TURNS: equ 133     ; x N: 1.7 turns (the Write Track, the read back)
GRANT_TURN_TURNS: equ 55        ; x N: 0.7 turn (the read back)
; The line quiet this long ends a window whose bytes did not all come (a
; byte lost on the line, a header damaged): 10,000 polls of 56 T, 0.14 s.
DRAIN_QUIET:    equ 10000

; set_grants - the window's units for the line's time constant in A (less
; ONE_STOP_BIT): grant_window and grant_turn.  Changes A, BC.
set_grants:
        and  ONE_STOP_BIT-1
        ld   c,a
        ld   a,GRANT_WINDOW_TURNS
        call grant_units
        ld   (grant_window),a
        ld   a,GRANT_TURN_TURNS
        call grant_units
        ld   (grant_turn),a
        ret
grant_units:                        ; A = A / C (C not 0)
        ld   b,-1
grant_divide:
        inc  b
        sub  c
        jr   nc,grant_divide
        ld   a,b
        ret

; stream_grant - the PC may send as much more of the stream as makes A
; units due from now, the bytes still due (granted, not yet come) counted.
; Changes A, BC, DE, HL.
stream_grant:
        ld   c,a
        ld   hl,(granted_end)
        ld   de,(stream_write)
        or   a
        sbc  hl,de                  ; bytes due
        jr   nc,stream_grant_due
        ld   (granted_end),de       ; more came than was granted (the line made
        ld   hl,0                   ; them up): none due
stream_grant_due:
        add  hl,hl                  ; H = the units due (fewer than 256)
        add  hl,hl
        add  hl,hl
        ld   a,c
        sub  h
        ret  c                      ; as many due already
        ret  z
        cp   GRANT_MOST+1
        jr   c,stream_grant_send
        ld   a,GRANT_MOST
stream_grant_send:
        ld   c,a
        or   GRANT_UNITS
        call put_byte
        ld   l,c                    ; granted_end + units x GRANT_UNIT
        ld   h,0
        add  hl,hl
        add  hl,hl
        add  hl,hl
        add  hl,hl
        add  hl,hl
        ld   de,(granted_end)
        add  hl,de
        ld   (granted_end),hl
        ret

; stream_due - HL = where the stream's bytes due end: what was granted, and
; no further than the stream's end once its header is in and whole.
; Changes A, B, DE, HL.
stream_due:
        call stream_header_in       ; Z: whole, DE = the length
        ld   hl,(granted_end)
        ret  nz
        push hl
        ld   hl,(stream_start)
        add  hl,de
        ld   de,STREAM_HEADER
        add  hl,de                  ; the stream's end
        pop  de
        or   a                      ; the nearer of the two
        sbc  hl,de
        add  hl,de
        ret  c
        ex   de,hl
        ret

; stream_drain - the window closes: every byte due comes in (stream_due),
; or the line is quiet for DRAIN_QUIET polls; then interrupts are on
; again.  Changes A, BC, DE, HL.
stream_drain:
        ld   bc,DRAIN_QUIET
stream_drain_check:
        push bc
        call stream_due
        ex   de,hl
        ld   hl,(stream_write)
        or   a
        sbc  hl,de
        pop  bc
        jr   nc,stream_drained      ; all that was due is in
stream_drain_poll:                  ; T-states
        in   a,(USART_CONTROL)      ; 11
        and  USART_RXRDY_MASK       ;  7
        jr   nz,stream_drain_byte   ;  7
        dec  bc                     ;  6
        ld   a,b                    ;  4
        or   c                      ;  4
        jr   nz,stream_drain_poll   ; 12 = 51 T a poll
stream_drained:
        ei
        ret
stream_drain_byte:
        call line_poll
        ld   bc,DRAIN_QUIET
        jr   stream_drain_check

; line_poll - a byte waiting in the 8251, put at stream_write; between the
; sector commands of a window (46 T without a byte, 120 T with one).
; Changes A and flags.
line_poll:
        in   a,(USART_CONTROL)
        and  USART_RXRDY_MASK
        ret  z
        push hl
        ld   hl,(stream_write)
        in   a,(USART_DATA)
        ld   (hl),a
        inc  hl
        ld   (stream_write),hl
        pop  hl
        ret

; fdc_command - the controller's command A, given directly (the monitor's
; call AEh would keep us from the line for as long as it takes): written,
; then up to 128 polls for busy.  Out: Z when it went busy.  Changes A, B.
fdc_command:
        out  (FDC_COMMAND),a
        ld   b,128
fdc_command_poll:
        in   a,(FDC_COMMAND)
        rrca                        ; busy -> carry
        jr   c,fdc_command_busy
        djnz fdc_command_poll
        inc  b                      ; NZ: it did not go busy
        ret
fdc_command_busy:
        xor  a                      ; Z
        ret
