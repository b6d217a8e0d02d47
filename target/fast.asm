; ---------------------------------------------------------------------------
; fast.asm - a faster line, agreed with the PC (tobrin -fast).  Part of the
; second stage's first part, so that its second part can go at the rate
; agreed.
;
; The 8251 is clocked x16 by CTC channels 0 (transmitter) and 1 (receiver)
; from a 2 MHz trigger: the line runs at 125000 / N baud for a time constant
; N (13: 9615, the monitor's; 6: 20833; 4: 31250), with two stop bits at
; the monitor's 13 and one at every other N - and at 13 + ONE_STOP_BIT, the
; monitor's rate with a tenth less time a byte.  The PC proposes N; the
; program answers at the present rate, switches, and keeps the new rate only
; when the PC's probe comes through it both ways within about a second;
; otherwise it returns to the monitor's rate by itself, on its own poll
; limit, never on a command it might not hear.
; ---------------------------------------------------------------------------

CTC_CHANNEL0:    equ 28h        ; the transmitter's clock
CTC_CHANNEL1:    equ 29h        ; the receiver's clock
CTC_SET_CONSTANT: equ 47h       ; counter mode, reset, a time constant follows, no interrupt
USART_RESET:     equ 40h        ; internal reset: the next control byte is the mode
USART_MODE_8N2:  equ 0CEh       ; x16, 8 data bits, no parity, 2 stop bits (the monitor's)
USART_MODE_8N1:  equ 4Eh        ; the same with 1 stop bit
USART_TXEMPTY:   equ 2          ; status bit: the transmitter has sent everything
MONITOR_CONSTANT: equ 13        ; 9615 baud
FASTEST_CONSTANT: equ 4         ; 31250 baud: 62500 (N = 2) is beyond the 8251
PROBE_SIZE:      equ 32

; fast_line - the PC's "F".  Wire: the time constant N (+ ONE_STOP_BIT)
; and a check byte (the two sum to FFh); a command that does not check
; out, or an N below 4, is dropped.  The answer "F" goes out at the
; present rate; then the line switches (8N1, or 8N2 at the monitor's 13
; without ONE_STOP_BIT) and the PC's probe must
; come at the new rate, each byte within 0.43 s: PROBE_SIZE bytes,
; fast_probe, which go back to the PC.  When it does not come whole, the
; monitor's rate comes back at once (a byte that is not the probe's) or at
; the byte's limit.  Ends in command_loop.
fast_line:
        ld   hl,fast_constant
        ld   b,1
        call take_checked
        jp   nz,command_loop
        ld   a,(fast_constant)
        and  ONE_STOP_BIT-1
        cp   FASTEST_CONSTANT
        jp   c,command_loop
        ld   a,FAST_COMMAND
        call put_byte
fast_drain:                         ; the answer leaves at the old rate
        in   a,(USART_CONTROL)
        bit  USART_TXEMPTY,a
        jr   z,fast_drain
        ld   a,(fast_constant)
        call set_line_rate
        ld   hl,fast_probe
        ld   e,PROBE_SIZE
fast_probe_byte:
        ld   bc,8000h               ; 32,768 polls of 52 T: 0.43 s a byte
fast_poll:
        usart_count USART_RXRDY fast_got dec fast_poll ; 52 T a poll
        jr   fast_back              ; no probe: the PC is not at this rate
fast_got:
        in   a,(USART_DATA)
        cp   (hl)
        jr   nz,fast_back           ; not the probe
        inc  hl
        dec  e
        jr   nz,fast_probe_byte
        ld   hl,fast_probe          ; it came whole: it goes back
        ld   e,PROBE_SIZE
fast_echo:
        ld   a,(hl)
        call put_byte
        inc  hl
        dec  e
        jr   nz,fast_echo
        jp   command_loop
fast_back:
        ld   a,MONITOR_CONSTANT
        call set_line_rate
        call drain_until_quiet      ; the rest of the probe passes unheard (each
        jp   command_loop           ; byte would cost the waiting line's print)

; drain_until_quiet - every byte until the line has been quiet for
; QUIET_POLLS polls (about 53 ms), added to the checksum in E: the rest of
; a block whose length came damaged (the PC sends nothing after a block but
; waits for our answer), or what is left of a probe at a rate the line did
; not carry (fast_back).  Bytes that keep coming beyond any block's length
; are no block: link_no_sync.  Changes A, BC, E, HL.
drain_until_quiet:
        ld   hl,2*PACKED_MAX
drain_until_quiet_quiet:
        ld   bc,QUIET_POLLS
drain_until_quiet_poll:
        usart_count USART_RXRDY drain_until_quiet_byte dec drain_until_quiet_poll ; 52 T a poll
        ret
drain_until_quiet_byte:
        in   a,(USART_DATA)
        add  a,e
        ld   e,a
        dec  hl
        ld   a,h
        or   l
        jp   z,link_no_sync
        jr   drain_until_quiet_quiet

; set_line_rate - CTC channels 0 and 1 to the time constant in A (less
; ONE_STOP_BIT), and the 8251's frame with it: two stop bits at the
; monitor's rate, one above it or with ONE_STOP_BIT; kept in
; line_constant.  RTS is on after it.  Changes A, B.
set_line_rate:
        ld   (line_constant),a
        ld   b,a
        ld   a,CTC_SET_CONSTANT
        out  (CTC_CHANNEL0),a
        ld   a,b
        and  ONE_STOP_BIT-1
        out  (CTC_CHANNEL0),a
        ld   a,CTC_SET_CONSTANT
        out  (CTC_CHANNEL1),a
        ld   a,b
        and  ONE_STOP_BIT-1
        out  (CTC_CHANNEL1),a
        ld   a,USART_RESET
        out  (USART_CONTROL),a
        ld   a,b
        cp   MONITOR_CONSTANT
        ld   a,USART_MODE_8N2
        jr   z,set_line_mode
        ld   a,USART_MODE_8N1
set_line_mode:
        out  (USART_CONTROL),a
        ld   a,USART_RTS_ON
        out  (USART_CONTROL),a
        ret

; The probe: every bit in both states, in every place.
fast_probe:
        defb 00h,0FFh,55h,0AAh,0Fh,0F0h,33h,0CCh,01h,02h,04h,08h,10h,20h,40h,80h
        defb 0FEh,0FDh,0FBh,0F7h,0EFh,0DFh,0BFh,7Fh,5Ah,0A5h,3Ch,0C3h,69h,96h,0E5h,1Bh
