; ---------------------------------------------------------------------------
; loader.asm - the monitor loader: 48 bytes that the user types into the
; MOS with "M1000" and starts with "G1000".
;
; It takes exactly 2048 bytes from the serial line, stores them at
; 0100h-08FFh and jumps to 0100h, where the target program starts.  It lies
; at 1000h-102Fh, outside what it fills, and uses no stack: HL is the
; destination, DE the count.  It has no time limit and no checksum; the
; user compares the typed bytes with the listing TOBRIN prints.
;
; RTS pacing: the PC sends only while its CTS (our RTS) is on, so the loader
; raises RTS while it waits for one byte and drops it as soon as it has the
; byte.  The PC's bytes therefore arrive one at a time, never overrunning
; the 8251's one-byte holding register while we store the last one.
; ---------------------------------------------------------------------------
        include 'einstein.inc'
        include 'wire.inc'

LOAD_ADDRESS:   equ 0100h

        org 1000h

; Drain whatever the USART already holds (a byte typed or sent before the
; loader started must not become program byte 0).
loader_start:
        ld   a,USART_RTS_ON
        out  (USART_CONTROL),a
drain:  in   a,(USART_DATA)         ; read and discard
        in   a,(USART_CONTROL)
        bit  USART_RXRDY,a
        jr   nz,drain               ; another byte waiting: drain it too
        ld   a,USART_RTS_OFF
        out  (USART_CONTROL),a

        ld   hl,LOAD_ADDRESS
        ld   de,PROGRAM_BLOCK
next_byte:
        ld   a,USART_RTS_ON         ; ready for one byte
        out  (USART_CONTROL),a
wait_rx:
        in   a,(USART_CONTROL)
        bit  USART_RXRDY,a
        jr   z,wait_rx              ; no limit: a missing byte waits for ever
        in   a,(USART_DATA)
        ld   (hl),a
        ld   a,USART_RTS_OFF        ; hold the PC until this byte is stored
        out  (USART_CONTROL),a
        inc  hl
        dec  de
        ld   a,e
        or   d
        jr   nz,next_byte           ; the 2049th byte is never waited for
        jp   LOAD_ADDRESS
loader_end:
