; ---------------------------------------------------------------------------
; serial.asm - the Einstein's end of the serial link: single bytes through
; the 8251 with RTS pacing and a poll limit, and the checksummed blocks.
;
; RTS pacing: the PC may send only while its CTS, wired to our RTS, is on.
; We raise RTS while we wait for a byte and drop it as soon as we have it,
; so at most one byte is ever in flight towards the 8251; the next cannot
; overrun it while we store or check the last one.
;
; Poll limits: get_byte and put_byte give up after 8 x 65,536 status polls
; (52 T each, about 6.8 s at 4 MHz) and jump to link_timeout, which drops
; the stack and returns to command_loop.  wait_byte alone waits for ever.
; The PC derives its own waits from these counts (link/link_limits.h).
; ---------------------------------------------------------------------------

POLL_ROUNDS:    equ 8           ; x 65,536 polls
POLL_TSTATES:   equ 52          ; one poll of get_byte, put_byte and wait_byte
MAX_PASSES:     equ 16          ; passes of one block before the exchange is given up

; rts_on / rts_off - write USART command 27h / 07h.
; rts_on changes A; rts_off keeps all registers.
rts_on:
        ld   a,USART_RTS_ON
        out  (USART_CONTROL),a
        ret
rts_off:
        push af
        ld   a,USART_RTS_OFF
        out  (USART_CONTROL),a
        pop  af
        ret

; flush_receiver - discard whatever the USART holds (a byte in the holding
; register and one in the shift register) and leave RTS off.
; Changes A.
flush_receiver:
        call rts_on
flush_more:
        in   a,(USART_DATA)         ; read and discard
        in   a,(USART_CONTROL)
        bit  USART_RXRDY,a
        jr   nz,flush_more
        jr   rts_off

; wait_byte - the next received byte, waiting without limit, and how long
; the line was silent before it.
; Out: A = byte; BC = polls that found nothing (FFFFh: that many or more).
; Changes flags.
wait_byte:
        call rts_on
        ld   bc,0
wait_byte_poll:
        usart_count USART_RXRDY wait_byte_ready inc wait_byte_poll ; 52 T a poll
        dec  bc                     ; the count stays at FFFFh
        jr   wait_byte_poll
wait_byte_ready:
        in   a,(USART_DATA)
        jr   rts_off

; get_byte - the next received byte, or link_timeout after the poll limit.
; Out: A = byte.  Keeps every other register; changes flags.
get_byte:
        call rts_on
        push bc
        push de
        ld   d,POLL_ROUNDS
        ld   bc,0
get_byte_poll:
        usart_count USART_RXRDY get_byte_ready dec get_byte_poll ; 52 T a poll
        dec  d
        jr   nz,get_byte_poll
        jp   link_timeout           ; RTS stays on; command_loop drops it
get_byte_ready:
        in   a,(USART_DATA)
        pop  de
        pop  bc
        jr   rts_off

; put_byte - send A, or link_timeout after the poll limit.  RTS is not
; touched: the 8251 itself holds a byte back while the PC's RTS is off.
; In: A = byte.  Keeps all registers, A and flags included.
put_byte:
        push af
        push bc
        push de
        ld   d,POLL_ROUNDS
        ld   bc,0
put_byte_poll:
        usart_count USART_TXRDY put_byte_ready dec put_byte_poll ; 52 T a poll
        dec  d
        jr   nz,put_byte_poll
        jp   link_timeout
put_byte_ready:
        pop  de
        pop  bc
        pop  af
        out  (USART_DATA),a
        ret

; link_timeout - the PC stopped sending or reading; link_no_sync - a block
; did not get through in MAX_PASSES passes; link_refused - a geometry that
; makes no sense.  Not subroutines: reached by jump with any stack; each
; says so on the screen, tells the PC with TIMEOUT_NOTICE when the
; transmitter can take it at once (a PC that waits for a status block then
; knows to resume), and ends in command_loop.
link_timeout:
        rst  08h
        defb MOS_PRINT
        defm " - TIMEOUT"
        defb 21h+80h          ; '!' with bit 7: the text ends
link_abandon:
        in   a,(USART_CONTROL)
        bit  USART_TXRDY,a
        jr   z,link_abandon_quiet   ; never wait here: this is where waits end
        ld   a,TIMEOUT_NOTICE
        out  (USART_DATA),a
link_abandon_quiet:
        rst  08h
        defb MOS_PRINT
        defm "\r\n---- RESET ----\n"
        defb 0Dh+80h
        jp   command_loop
link_no_sync:
        rst  08h
        defb MOS_PRINT
        defm " - CHECKSUM"
        defb 21h+80h
        jr   link_abandon
link_refused:
        rst  08h
        defb MOS_PRINT
        defm " - REFUSED"
        defb 21h+80h
        jr   link_abandon

; start_passes / count_pass - the pass limit of a block: start_passes before
; its first pass, count_pass after each pass whose checksums disagreed
; (link_no_sync when the limit is reached).  Change A.
start_passes:
        ld   a,MAX_PASSES
        ld   (passes_left),a
        ret
count_pass:
        ld   a,(passes_left)
        dec  a
        ld   (passes_left),a
        ret  nz
        jr   link_no_sync

; recv_block - receive one block from the PC.
; Wire: marker 03h + value (fill: every byte = value, no checksum), or any
; other marker + the bytes, then our checksum out and the PC's in; while
; they differ the PC sends the whole block again, without a marker.
; The PC sends the next block right behind a fill, so a sector's fill is
; laid two bytes a PUSH (3,300 T, inside the 4,583 T that the PC's next
; byte takes at 9600 baud: the 8251 holds that one until we read it).
; In: HL = destination, BC = length (512 for a sector, or at most 256).
; Out: HL = destination + length.  Keeps BC and DE; changes A and flags.
recv_block:
        call get_byte               ; marker
        cp   FILL_MARKER
        jr   nz,recv_block_full
        call get_byte               ; the fill value
        push bc
        push de
        ld   d,a
        ld   e,a
        ld   a,b
        cp   SECTOR_SIZE/256
        jr   nz,recv_fill
        add  hl,bc                  ; a sector: pushed down from its end
        di                          ; (no interrupt may push meanwhile)
        ld   (fill_sp),sp
        ld   sp,hl
        ld   b,SECTOR_SIZE/16
recv_fill_push:                     ; T-states
        push de
        push de
        push de
        push de
        push de
        push de
        push de
        push de                     ; 88
        djnz recv_fill_push         ; 13 = 101 T for 16 bytes
        ld   sp,(fill_sp)
        ei
        jr   recv_block_filled
recv_fill:
        ld   (hl),d
        inc  hl
        dec  bc
        ld   a,b
        or   c
        jr   nz,recv_fill
recv_block_filled:
        pop  de
        pop  bc
        ret
recv_block_full:
        call start_passes
        push de
recv_block_pass:
        push hl
        push bc
        ld   e,0                    ; E = checksum of this pass
recv_block_byte:
        call get_byte
        ld   (hl),a
        inc  hl
        add  a,e
        ld   e,a
        dec  bc
        ld   a,b
        or   c
        jr   nz,recv_block_byte
        ld   a,e
        call put_byte               ; the Einstein's checksum goes first
        call get_byte               ; then the PC's
        pop  bc
        cp   e
        jr   z,recv_block_agreed
        call count_pass
        pop  hl                     ; disagreement: the same block again,
        jr   recv_block_pass        ; into the same place
recv_block_agreed:
        pop  af                     ; drop the saved destination
        pop  de
        ret

; send_block - send one block to the PC, in the same framing.
; In: HL = source, BC = length.  Out: HL = source + length.
; Keeps BC and DE; changes A and flags.
send_block:
        push de
        push hl
        push bc
        ld   d,(hl)                 ; is every byte equal to the first?
send_compare:
        ld   a,(hl)
        cp   d
        jr   nz,send_block_varied
        inc  hl
        dec  bc
        ld   a,b
        or   c
        jr   nz,send_compare
        pop  bc
        pop  hl
        ld   a,FILL_MARKER          ; yes: two bytes and no checksum
        call put_byte
        ld   a,d
        call put_byte
        add  hl,bc
        pop  de
        ret
send_block_varied:
        pop  bc
        pop  hl
        call start_passes
        ld   a,FULL_MARKER
        call put_byte
send_block_pass:
        push hl
        push bc
        ld   e,0                    ; E = checksum of this pass
send_block_byte:
        ld   a,(hl)
        call put_byte
        add  a,e
        ld   e,a
        inc  hl
        dec  bc
        ld   a,b
        or   c
        jr   nz,send_block_byte
        ld   a,e
        call put_byte               ; the Einstein's checksum goes first
        call get_byte               ; then the PC's
        pop  bc
        cp   e
        jr   z,send_block_agreed
        call count_pass
        pop  hl
        jr   send_block_pass
send_block_agreed:
        pop  af                     ; drop the saved source
        pop  de
        ret

; put_two_digits - write A (0 to 99) as two ASCII digits at HL, HL+1.
; Keeps HL; changes A, B and flags.
put_two_digits:
        ld   b,'0'-1
put_tens:
        inc  b
        sub  10
        jr   nc,put_tens
        add  a,10+'0'
        ld   (hl),b
        inc  hl
        ld   (hl),a
        dec  hl
        ret
