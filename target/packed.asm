; ---------------------------------------------------------------------------
; packed.asm - a batch of compressed sectors (tobrin -fast).  Part of the
; second stage.
;
; The batch byte PACKED_BATCH is followed by one block for each sector,
; in the batch's order:
;
;   length (two bytes, low first) of what follows: 3 to PACKED_MAX
;   the sector's number in the batch; bit 7: it is the format's filler
;   the CRC-16 of the sector as it will be written and then of the number
;   byte, high byte first
;   its compressed form (expand.asm); none for the filler, which the
;   program lays down itself
;
; then, as for every block (serial.asm), our checksum of the bytes, length
; included, and the PC's; while they differ the PC sends the block again.
; A block that does not check out here - a number ahead of the next one
; due, a form that does not expand to 512 bytes, a CRC that disagrees -
; is answered with a checksum that cannot agree, so it comes again; a
; block is taken only when it checks out and the checksums agree.  Each
; block lands at its own number's place, so a late answer, a lost byte
; or a block sent twice can never shift the batch.  The batch is then
; written and read back as a verified batch; a filler sector is not
; written (the format laid it down) but read back all the same.
; ---------------------------------------------------------------------------

PACKED_MAX:     equ 3+516       ; number, CRC, and a form of literals only
FILLER_FLAG:    equ 80h
; Blocks before the batch's end at which the motor is started: its spin-up
; (six turns, 1.2 s) is then over when the last block comes on the faster
; line (a sector of random bytes takes 0.16 s at 31250 baud), and a seek
; at each block after it keeps the motor on (it stops nine turns after the
; last command) however slow the line.
SPIN_UP_LEAD:   equ 8

; packed_batch - reached by jump from write_batch, which has marked every
; sector of the batch to be written.  Receives the blocks and goes on at
; write_received as a verified batch.  A block that does not get across
; ends in link_no_sync or link_timeout, as recv_block's do.
packed_batch:
        ld   a,VERIFY_BATCH         ; read back and compared, always
        ld   (batch_command),a
        xor  a
        ld   (packed_next),a
        ld   (filler_crc_known),a
packed_wait:
        ld   hl,batch_size
        ld   a,(packed_next)
        sub  (hl)                   ; negative while blocks are due
        jp   nc,write_received
        cp   -SPIN_UP_LEAD          ; the motor starts before the last
        call nc,spin_up             ; blocks and is kept turning by each
        call start_passes
packed_pass:
        ld   e,0                    ; E = checksum of this pass
        call rts_on                 ; on for the whole block (packed_get)
        call packed_get             ; the length
        ld   c,a
        call packed_get
        ld   b,a
        ld   hl,-3                  ; no block is shorter or longer: the two
        add  hl,bc                  ; ends are out of step
        jp   nc,link_no_sync
        push bc
        ld   bc,2-PACKED_MAX
        add  hl,bc
        pop  bc
        jp   c,link_no_sync
        ld   hl,packed_block
packed_byte:
        call packed_get
        ld   (hl),a
        inc  hl
        dec  bc
        ld   a,b
        or   c
        jr   nz,packed_byte
        call rts_off
        push de
        call packed_judge
        pop  de
        ld   a,e
        jr   z,packed_answer
        cpl                         ; it does not check out: again
packed_answer:
        push af                     ; Z: it checks out
        call put_byte               ; our checksum goes first
        ld   d,a
        call get_byte               ; then the PC's
        cp   d
        jr   nz,packed_differ
        pop  af
        call z,packed_take          ; both agree: it is taken
        jr   packed_wait
packed_differ:
        pop  af
        call count_pass
        jr   packed_pass            ; they differ: the block again

; packed_get - the next byte of a block, added to the checksum in E, with
; RTS left on: the PC sends nothing after a block but after our answer,
; so the block's bytes may follow each other at the line's pace (this loop
; takes about 110 T of the 1,280 T a byte takes at 31250 baud).  The poll
; limit is get_byte's.
; Out: A = the byte.  Changes A, D, E and flags.
packed_get:
        push bc
        ld   d,POLL_ROUNDS
        ld   bc,0
packed_poll:                        ; T-states
        in   a,(USART_CONTROL)      ; 11
        bit  USART_RXRDY,a          ;  8
        jr   nz,packed_ready        ;  7
        dec  bc                     ;  6
        ld   a,b                    ;  4
        or   c                      ;  4
        jr   nz,packed_poll         ; 12  = 52 T a poll
        dec  d
        jr   nz,packed_poll
        jp   link_timeout
packed_ready:
        in   a,(USART_DATA)
        pop  bc
        ld   d,a
        add  a,e
        ld   e,a
        ld   a,d
        ret

; packed_judge - the block in packed_block: Z when its number is the next
; one due, its form expands whole into its place in sector_buffer (512
; bytes a sector, after the batch's earlier sectors, which its copies may
; use) - or, for the filler, E5h bytes are laid there - and the CRC-16 of
; those bytes and then of its number byte is the block's; the sector's
; own CRC-16 goes to packed_crc.  Z as well, and nothing done, for a block
; taken already (sent again).  Nothing is taken yet: a block whose
; checksums disagree may have a damaged number.
; Changes everything.
packed_judge:
        ld   a,(packed_block)
        and  FILLER_FLAG-1
        ld   b,a
        ld   a,(packed_next)
        cp   b
        ret  c                      ; ahead (NZ)
        jr   z,packed_due
        xor  a                      ; taken already (Z)
        ret
packed_due:
        add  a,a                    ; its place: the next one not yet taken
        add  a,sector_buffer/256
        ld   d,a
        ld   e,0
        ld   a,(packed_block)
        and  FILLER_FLAG
        jr   nz,packed_filler
        push de
        ld   hl,packed_block+3
        call expand_sector
        pop  hl
        ret  nz
        call crc16_sector           ; DE = the sector's CRC
packed_check:
        ld   (packed_crc),de
        ld   a,(packed_block)       ; on over the number byte
        xor  d
        ld   c,a
        ld   b,crc_table/256
        ld   a,(bc)
        xor  e
        ld   d,a
        inc  b
        ld   a,(bc)
        ld   e,a
        ld   hl,packed_block+1      ; the PC's, high byte first
        ld   a,(hl)
        cp   d
        ret  nz
        inc  hl
        ld   a,(hl)
        cp   e
        ret

; The filler: laid down here, its CRC-16 computed once a batch.
packed_filler:
        ld   h,d
        ld   l,e
        ld   (hl),BLANK_BYTE
        inc  de
        ld   bc,SECTOR_SIZE-1
        push hl
        ldir
        pop  hl
        ld   a,(filler_crc_known)
        or   a
        ld   de,(filler_crc)
        jr   nz,packed_check
        call crc16_sector
        ld   (filler_crc),de
        ld   a,1
        ld   (filler_crc_known),a
        jr   packed_check

; packed_take - the block judged right and agreed: when it was the one
; due, its CRC-16 is kept for the read back, a filler sector is marked to
; be read back only, and packed_next moves on.  Changes A, B, DE, HL.
packed_take:
        ld   a,(packed_block)
        and  FILLER_FLAG-1
        ld   b,a                    ; B = its number
        ld   hl,packed_next
        ld   a,(hl)
        cp   b
        ret  nz                     ; one taken already
        inc  (hl)
        ld   a,b                    ; verify_crcs and batch_status share a page
        add  a,a
        add  a,verify_crcs-batch_status
        ld   l,a
        ld   h,batch_status/256
        ld   de,(packed_crc)
        ld   (hl),d
        inc  hl
        ld   (hl),e
        ld   l,b
        ld   a,(packed_block)
        and  FILLER_FLAG
        ret  z
        ld   (hl),VERIFY_PENDING    ; the format laid it down already
        ret
