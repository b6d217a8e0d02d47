; ---------------------------------------------------------------------------
; packed.asm - a batch of compressed sectors (tobrin -fast).  Part of the
; second stage.
;
; The batch byte PACKED_BATCH is followed by the batch's first track and
; sector and a check byte (the three sum to FFh): the PC need not send the
; batches in the disk's order.  Then, after the answer and the streams of
; the batch's rest (below), one block for each sector still due, in the
; batch's order:
;
;   length (two bytes, low first) of what follows the next byte: 3 to
;   PACKED_MAX; bit 7 of its high byte (LAYABLE_FLAG) says that the sector
;   holds no F5h-F7h, so that the Write Track may lay it down; then a
;   check byte that makes the three sum to FFh
;   the sector's number in the batch; bit 7: it is the format's filler
;   the CRC-16 of the sector as it will be written, high byte first (the
;   read back compares with it), and its compressed form (expand.asm):
;   neither for the filler, which the program lays down itself (and takes
;   its CRC-16 once a batch)
;   the CRC-16 of every byte of the block before it, length included, high
;   byte first: the CRC over the whole block comes to 0 when it is whole
;
; then, as for every block (serial.asm), our checksum of the bytes, length
; included, and the PC's; while they differ the PC sends the block again.
; The block's CRC-16 is taken on as its bytes come (they come a byte in
; 1,280 T at 31250 baud), so a block is judged at once when its last byte
; is in: the sector's CRC-16 for the read back and whether it may be laid
; down come from the PC, where they cost the Einstein 13 ms a sector.
; A block that checks out here is taken at once, whatever becomes of the
; checksums after.  One that does not - a damaged length (its bytes are
; let pass until the line is quiet, so the two ends stay in step), a
; number ahead of the next one due, a CRC that disagrees, a form that does
; not expand to 512 bytes - is left; a damaged byte makes our checksum
; differ from the PC's, so the block comes again.  (Our checksum is not
; altered to disagree: any such change would agree with the PC's for one
; damage in 256, and the PC would go on while we wait for the block.  Only
; a block ahead of its turn, which no pass can mend, is answered with a
; checksum that disagrees, so that the PC soon gives up and resumes the
; batch.)  Each block lands at its own number's place, so a late answer, a
; damaged checksum, a lost byte or a block sent twice can never shift the
; batch.  The batch is then written and read back as a verified batch,
; each track side formatted just before (lay.asm): the Write Track lays
; down the filler and every sector marked LAYABLE_FLAG, and the rest are
; written after.
;
; The stream: while a batch is written and read back, the PC sends the
; next batch's first blocks, back to back and unanswered, so that the line
; works while the disk does - but only as much as we grant (grant.asm),
; while the program drives the controller itself and looks at the 8251
; between its data requests (lay.asm: the Write Track, the writes it
; leaves, the read back), and the rest after the work (stream_finish),
; before the status block.  The stream opens with a header:
;
;   its length after the header (two bytes, low first), the track and the
;   sector of the batch it belongs to, and a check byte that makes the
;   five sum to FFh
;
; then the blocks, each as above but for the checksums.  A length of 0
; says that no batch follows.  While the rest of the stream comes after
; the work (stream_finish), the blocks that are in are judged already and
; expanded into sector_buffer (ahead_judge), the line polled between
; pieces of that work; what they give the batch is kept aside until its
; batch byte names it.  At the next batch byte the stream is taken
; first (stream_take): block after block while each checks out and is the
; one due, up to the first that does not - a byte damaged or lost on the
; line, the stream cut short, a stream of another batch (one left from
; before a resume) - and the PC is told how many.  While blocks are due,
; the PC then sends the batch's rest from the first one due as a stream
; of its own (stream_follow), with the same header, taken in and judged
; the same way and answered the same way; after FOLLOW_STREAMS of them
; the rest come one by one as above.
; ---------------------------------------------------------------------------

PACKED_MAX:     equ 3+516+2     ; number, CRC, a form of literals only, block CRC
; Blocks before the batch's end at which the motor is started: its spin-up
; (six turns, 1.2 s) is then over when the last block comes on the faster
; line (a sector of random bytes takes 0.16 s at 31250 baud), and a seek
; at each block after it keeps the motor on (it stops nine turns after the
; last command) however slow the line.
SPIN_UP_LEAD:   equ 8
; Streams of the batch's rest (stream_follow) after the take at its batch
; byte and after each that left blocks due; then the rest one by one.
FOLLOW_STREAMS: equ 3
STREAM_END:     equ 0FB00h      ; the monitor's workspace begins here
STREAM_END_WIDE: equ workspace  ; the wide stream area ends where the workspace begins
; Room kept free at the stream area's end: more than one window's grant
; (grant.asm: 1.7 turns at 31250 baud, about 1,060 bytes) - the PC sends
; no more than STREAM_MAX, so only bytes the line made up could ever need
; it.
STREAM_SLACK:   equ 1536

; packed_batch - reached by jump from write_batch.  Wire after the batch
; byte: the batch's first track and sector, and a check byte that makes the
; two and itself sum to FFh.  Marks every sector to be written, takes what
; came of the stream, tells
; the PC how many blocks that was, receives the rest and goes on at
; packed_received as a verified batch.  A block that does not get across
; ends in link_no_sync or link_timeout, as recv_block's do.
packed_batch:
        ld   hl,batch_place         ; where the batch begins (the PC sends
        ld   b,2                    ; the batches in the order it likes),
        call take_checked           ; checked; one that does not check out,
        jp   nz,command_loop        ; or is no place a batch may begin, is
        ld   hl,(batch_place)       ; dropped: the PC's resume follows
        ld   a,(image_tracks)
        dec  a
        cp   l
        jp   c,command_loop
        ld   a,(sectors_per_cylinder)
        dec  a
        cp   h
        jp   c,command_loop
        ld   a,h                    ; a track side's first sector: 0 or 10
        or   a
        jr   z,packed_place_ok
        cp   10
        jp   nz,command_loop
packed_place_ok:
        ld   (mos_track),hl         ; mos_track, mos_sector
        call mark_batch
        in   a,(FDC_COMMAND)        ; the head starts towards the batch's
        rrca                        ; first track while its blocks come (a
        call nc,seek_head           ; controller at work would not take it)
        ld   a,VERIFY_BATCH         ; read back and compared, always
        ld   (batch_command),a
        ld   a,1                    ; each track side formatted as it is
        ld   (laying),a             ; written (lay.asm)
        call lay_hooks
        xor  a
        ld   (packed_next),a
        ld   (filler_crc_known),a
        ld   a,FOLLOW_STREAMS
        ld   (follows_left),a
        ld   a,(line_constant)      ; the windows' grants at the line's rate
        call set_grants
        call stream_take
packed_follow:                      ; the rest as streams, while blocks are
        ld   hl,batch_size          ; due and follows are left (the PC
        ld   a,(packed_next)        ; counts them as we do)
        cp   (hl)
        jr   nc,packed_wait
        ld   hl,follows_left
        ld   a,(hl)
        or   a
        jr   z,packed_wait
        dec  (hl)
        call stream_follow
        jr   packed_follow
packed_wait:
        ld   hl,batch_size
        ld   a,(packed_next)
        sub  (hl)                   ; negative while blocks are due
        jp   nc,packed_received
        cp   -SPIN_UP_LEAD          ; the motor starts before the last
        call nc,lay_keep_turning    ; blocks and is kept turning by each
        call start_passes
packed_pass:
        ld   e,0                    ; E = checksum of this pass
        ld   hl,0FFFFh              ; the block's CRC-16, from its first byte
        ld   (packed_block_crc),hl
        call rts_on                 ; on for the whole block (packed_get)
        call packed_get             ; the length, and its check byte
        ld   c,a
        call packed_get
        ld   b,a
        call packed_get
        add  a,b
        add  a,c
        inc  a                      ; FFh + 1: it checks out
        jr   nz,packed_lost
        ld   a,b                    ; the flag apart
        and  LAYABLE_FLAG
        ld   (packed_layable),a
        res  7,b
        ld   hl,-3                  ; no block is shorter or longer
        add  hl,bc
        jr   nc,packed_lost
        push bc
        ld   bc,2-PACKED_MAX
        add  hl,bc
        pop  bc
        jr   c,packed_lost
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
        ld   hl,packed_block        ; its number, then the rest
        ld   (packed_at),hl
        call packed_judge
        call z,packed_take          ; it checks out: taken (its CRC covers its number)
        pop  de
        ld   a,(packed_next)        ; a block ahead of its turn (the PC went
        ld   b,a                    ; on past one we did not take): a
        ld   a,(packed_block)       ; checksum that disagrees, so that the PC
        and  FILLER_FLAG-1          ; soon gives up and resumes the batch
        cp   b
        ld   a,e
        jr   c,packed_answer
        jr   z,packed_answer
        cpl
        jr   packed_answer
packed_lost:                        ; a damaged length: the block's end is
        call drain_until_quiet           ; not known, so its bytes are let pass
        call rts_off                ; until the PC waits for our answer
        ld   a,e
packed_answer:
        call put_byte               ; our checksum goes first
        ld   d,a
        call get_byte               ; then the PC's
        cp   d
        jp   z,packed_wait          ; agreed: the next block
        call count_pass             ; they differ: a block again - the same
        jr   packed_pass            ; one, or the next when the PC's checksum
                                    ; came damaged (it is judged by its number)

; packed_get - the next byte of a block, added to the checksum in E and
; taken into the block's CRC-16 (packed_block_crc), with RTS left on: the
; PC sends nothing after a block but after our answer, so the block's
; bytes may follow each other at the line's pace (this loop takes about
; 250 T of the 1,280 T a byte takes at 31250 baud).  The poll limit is
; get_byte's.
; Out: A = the byte.  Changes A, D, E and flags.
packed_get:
        push bc
        ld   d,POLL_ROUNDS
        ld   bc,0
packed_poll:
        usart_count USART_RXRDY packed_ready dec packed_poll ; 52 T a poll
        dec  d
        jr   nz,packed_poll
        jp   link_timeout
packed_ready:
        in   a,(USART_DATA)
        ld   d,a
        add  a,e
        ld   e,a
        push de
        ld   a,d
        ld   de,(packed_block_crc)
        call crc16_add
        ld   (packed_block_crc),de
        pop  de
        pop  bc
        ld   a,d
        ret

; packed_judge - the block whose number is at packed_at (in packed_block,
; or in the stream area): Z when it came whole (its CRC-16), its number is the
; next one due, its form expands whole, and to the sector whose CRC-16 the
; block gives (the read back compares the disk with the sector), into
; its place in sector_buffer (512 bytes a sector, after the batch's
; earlier sectors, which its copies may use) - or, for the filler, E5h
; bytes are laid there; the sector's CRC-16 goes to packed_crc.  Z as
; well, and nothing done, for a block taken already (sent again).
; Changes everything.
packed_judge:
        ld   hl,(packed_block_crc)  ; 0 over the whole block
        ld   a,h
        or   l
        ret  nz
packed_judge_whole:                 ; (stream_take: its CRC-16 checked)
        ld   hl,(packed_at)
        ld   a,(hl)
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
        ld   hl,(packed_at)
        ld   a,(hl)
        and  FILLER_FLAG
        jr   nz,packed_filler
        inc  hl                     ; the sector's CRC-16, high byte first
        ld   a,(hl)
        ld   (packed_crc+1),a
        inc  hl
        ld   a,(hl)
        ld   (packed_crc),a
        inc  hl
        call expand_sector          ; Z: whole
        ret  nz
        ex   de,hl                  ; the sector expanded (DE is past it):
        dec  h                      ; its CRC-16 must be the PC's, for the
        dec  h                      ; read back compares the disk with it
        call judge_crc              ; (7.2 ms)
        ld   hl,(packed_crc)
        or   a
        sbc  hl,de                  ; Z: the same
        ret

; judge_crc - crc16_sector, or crc_sector_run while the judging ahead
; polls the line (ahead_begin).
judge_crc:
        jp   crc16_sector

; The filler: laid down here; its CRC-16, which its block does not carry,
; taken once a batch.
packed_filler:
        ld   h,d
        ld   l,e
        ld   (hl),BLANK_BYTE
        inc  de
        ld   bc,SECTOR_SIZE-1
        push hl
        call ldir_polled
        pop  hl
        ld   a,(filler_crc_known)
        or   a
        ld   de,(filler_crc)
        jr   nz,packed_filler_crc
        call judge_crc
        ld   (filler_crc),de
        ld   a,1
        ld   (filler_crc_known),a
packed_filler_crc:
        ld   (packed_crc),de
        xor  a                      ; Z
        ret

; packed_take - the block judged right: when it was the one due, its
; CRC-16 is kept for the read back, a filler sector is marked to be read
; back only (the Write Track lays it down), another one LAY_CLEAN when the
; Write Track may lay it down too, and packed_next moves on.
; Changes A, B, DE, HL.
packed_take:
        ld   hl,(packed_at)
        ld   a,(hl)
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
        push hl
        ld   hl,(packed_at)
        ld   a,(hl)
        pop  hl
        and  FILLER_FLAG
        jr   nz,packed_taken_filler
        ex   de,hl                  ; DE = its status byte: may the Write
        jp   lay_mark_clean         ; Track lay it down?
packed_taken_filler:
        ld   (hl),VERIFY_PENDING    ; the Write Track lays it down
        ret

; packed_received - every block of the batch is in: the next batch's
; stream lands in the stream area from now on, and the batch is written and
; read back as every verified batch - RTS on, the PC's stream held by what
; we grant (grant.asm), so that it comes only where the program polls for
; it (lay.asm), never while a monitor call could let it overrun the 8251.
; Reached by jump.
packed_received:
        call wait_idle
        ld   a,FDC_FORCE_INT
        out  (FDC_COMMAND),a
        call stream_empty
        call rts_on                 ; the stream is held by what we grant
        jp   write_received_quiet

; stream_take - the stream that came during the work of the batch before
; (the stream area, up to stream_write): when its header is whole and names
; this batch (mos_track and mos_sector, where it begins), its blocks are
; taken in order while each is whole, due and within what came: first
; those judged already while the rest of the stream came (ahead_apply),
; then the others (stream_judge).  Then the PC is told how many of the
; batch's blocks are in: packed_next, and its complement.  The area is
; emptied, so that nothing is taken from it twice.  Changes everything.
stream_take:
        ld   hl,(stream_write)      ; what came after the header
        ld   de,(stream_start)
        or   a
        sbc  hl,de
        ld   de,STREAM_HEADER
        sbc  hl,de
        jp   c,stream_told          ; not even a header
        push hl
        call stream_header          ; Z: whole, DE = the length it gives
        pop  bc
        jr   nz,stream_told
        ld   a,(mos_track)          ; this batch's?
        ld   hl,(stream_start)
        inc  hl
        inc  hl
        cp   (hl)
        jr   nz,stream_told
        ld   a,(mos_sector)
        inc  hl
        cp   (hl)
        jr   nz,stream_told
        ld   h,b                    ; its end: no further than what came
        ld   l,c
        or   a
        sbc  hl,de
        jr   c,stream_cut
        ld   b,d
        ld   c,e
stream_cut:
        ld   hl,(stream_start)
        add  hl,bc
        ld   de,STREAM_HEADER
        add  hl,de
        ld   (stream_end),hl
        call ahead_apply            ; HL = the first block not judged ahead
stream_block:
        call stream_judge
        jr   nz,stream_told
        push hl
        call packed_take
        pop  hl
        jr   stream_block
stream_told:
        call stream_empty
        ld   a,(packed_next)
        call put_byte
        cpl
        jp   put_byte

; stream_empty - no stream in the stream area, and nothing of one judged
; ahead.  The area is the part of sector_buffer a batch of batch_size
; sectors leaves free (stream_area_wide), when that is up to
; FAST_BATCH_SECTORS, else stream_area.  Changes A, HL.
stream_empty:
        ld   a,(batch_size)
        cp   FAST_BATCH_SECTORS+1
        ld   hl,(STREAM_END_WIDE-STREAM_SLACK)/256*256+STREAM_END_WIDE/256
        ld   (stream_end_high),hl   ; (and stream_slack_high)
        ld   hl,stream_area_wide
        jr   c,stream_empty_at
        ld   hl,(STREAM_END-STREAM_SLACK)/256*256+STREAM_END/256
        ld   (stream_end_high),hl
        ld   hl,stream_area
stream_empty_at:
        ld   (stream_start),hl
        ld   (stream_write),hl
        ld   (granted_end),hl       ; nothing of it granted
        ld   a,l
        add  a,STREAM_HEADER
        ld   l,a
        ld   (ahead_read),hl
        xor  a
        ld   (ahead_count),a
        ret

; stream_judge - the stream's block whose length is at HL, no further than
; stream_end: its length checked, the CRC-16 over all of it (crc_run) and
; packed_judge_whole (due, its form expands whole to the sector the block
; gives; packed_at: its number).  Out: Z when it checks out; HL = the next
; block's length.  NZ with carry when it is not all in (not even its
; length, or cut short); NZ without carry when its length came damaged or
; out of range, or it does not check out.  Changes everything.
stream_judge:
        ld   (stream_read),hl
        ex   de,hl
        ld   hl,(stream_end)
        or   a
        sbc  hl,de                  ; bytes left
        ld   bc,3
        sbc  hl,bc                  ; (carry clear: the bytes left, less 3)
        ret  c                      ; not even a length (NZ: HL is not 0)
        ex   de,hl                  ; DE = bytes left after the length
        ld   c,(hl)
        inc  hl
        ld   b,(hl)
        inc  hl
        ld   a,(hl)
        inc  hl
        add  a,b
        add  a,c
        inc  a
        jr   nz,stream_judge_bad    ; a damaged length
        ld   a,b                    ; the flag apart
        and  LAYABLE_FLAG
        ld   (packed_layable),a
        res  7,b
        ld   (packed_at),hl         ; its number, then the rest
        push hl
        ld   hl,-3                  ; no block is shorter or longer
        add  hl,bc
        jr   nc,stream_judge_range
        ld   hl,-PACKED_MAX-1
        add  hl,bc
        jr   c,stream_judge_range
        ex   de,hl                  ; nor cut short
        sbc  hl,bc                  ; (carry clear)
        pop  hl
        ret  c                      ; (NZ: not 0)
        add  hl,bc                  ; the next block
        push hl
        ld   hl,(stream_read)       ; the CRC-16 over all of it, length
        inc  bc                     ; included, comes to 0
        inc  bc
        inc  bc
        call crc_run
        ld   a,d
        or   e
        call z,packed_judge_whole   ; due, and its form expands whole
        pop  hl
        ret  z
stream_judge_bad:
        or   1                      ; NZ, no carry
        ret
stream_judge_range:
        pop  hl
        jr   stream_judge_bad

; stream_header_in - stream_header, once the header's five bytes are in
; (NZ before).  Changes A, B, DE, HL.
stream_header_in:
        ld   hl,(stream_write)
        ld   de,(stream_start)
        or   a
        sbc  hl,de
        ld   de,STREAM_HEADER
        sbc  hl,de
        jr   nc,stream_header
        or   1                      ; NZ: not in yet
        ret

; stream_header - Z when the stream's header in the stream area is whole: its
; five bytes sum to FFh; DE = the length it gives.
; Changes A, B, DE, HL.
stream_header:
        ld   hl,(stream_start)
        ld   e,(hl)
        inc  hl
        ld   d,(hl)
        ld   a,e
        add  a,d
        ld   b,STREAM_HEADER-2
stream_header_sum:
        inc  hl
        add  a,(hl)
        djnz stream_header_sum
        inc  a
        ret

; crc_run - DE = the CRC-16 (preset FFFFh) of the BC bytes at HL (BC not
; 0), through crc_table; the loop ends at the run's end address, which it
; holds in its own two compares.  While the judging ahead polls the line
; (ahead_begin), it does so every eight bytes: crc_run_next then goes to
; crc_run_poll.  Changes A, BC, DE, HL.
crc_run:
        call stream_poll
        push hl
        add  hl,bc                  ; the end
        ld   a,l
        ld   (crc_run_end_low+1),a
        ld   a,h
        ld   (crc_run_end_high+1),a
        pop  hl
        ld   de,0FFFFh
        ld   b,crc_table/256
crc_run_byte:                       ; T-states
        ld   a,(hl)                 ;  7
        inc  hl                     ;  6
        xor  d                      ;  4  the table's index
        ld   c,a                    ;  4
        ld   a,(bc)                 ;  7  its high byte
        xor  e                      ;  4
        ld   d,a                    ;  4
        inc  b                      ;  4
        ld   a,(bc)                 ;  7  its low byte
        ld   e,a                    ;  4
        dec  b                      ;  4
        ld   a,l                    ;  4
crc_run_end_low:
        cp   0                      ;  7  (set on entry)
crc_run_next:
        jr   nz,crc_run_byte        ; 12 = 78 T a byte (polling: crc_run_poll, 101 T)
        ld   a,h
crc_run_end_high:
        cp   0                      ; (set on entry)
        jr   nz,crc_run_next        ; (a page on: the next byte, or a poll)
        ret
crc_run_poll:
        ld   a,l                    ;  4  (from crc_run_end_high: A is H)
        and  7                      ;  7
        jr   nz,crc_run_byte        ; 12
        call stream_poll
        jr   crc_run_byte
CRC_RUN_PLAIN:  equ (crc_run_byte-crc_run_next-2) & 0FFh  ; crc_run_next's two
CRC_RUN_POLLED: equ (crc_run_poll-crc_run_next-2) & 0FFh  ; displacements

; crc_sector_run - crc16_sector through crc_run, which polls the line:
; DE = the CRC-16 of the 512 bytes at HL, HL past them.  Changes A, BC.
crc_sector_run:
        ld   bc,SECTOR_SIZE
        jp   crc_run

; stream_finish - a compressed batch's work is done, its status block
; not yet sent: the rest of the stream is taken into the stream area with RTS
; on, as far as its header says.  Meanwhile the blocks that are in are
; judged (ahead_judge), the line polled between pieces of the work.  A
; stream whose header came damaged, or that lost bytes on the line, ends
; once the line has been quiet for 65,536 polls (0.85 s): the PC sends
; nothing after the stream but waits for the status block.  Bytes past
; the area's end are let pass.  RTS is off after.  The head starts towards
; the next batch's track first (lay_step_ahead).  Changes everything.
stream_finish:
        call lay_step_ahead
        call ahead_begin
        ld   a,GRANT_REST           ; it may all come now (grant.asm)
        call put_byte
stream_receive:
        call rts_on
stream_finish_check:
        call stream_header_in
        jr   nz,stream_finish_wait
        ld   hl,(stream_start)
        add  hl,de
        ld   de,STREAM_HEADER
        add  hl,de
        ex   de,hl                  ; DE = where the stream ends
        ld   hl,(stream_write)
        or   a
        sbc  hl,de
        jr   nc,stream_finish_done  ; all of it is in
        call ahead_judge            ; Z: a block judged, perhaps another
        jr   z,stream_finish_check
stream_finish_wait:
        ld   bc,0
stream_finish_poll:
        usart_count USART_RXRDY stream_finish_byte dec stream_finish_poll ; 52 T a poll
        jr   stream_finish_done     ; quiet: the rest was lost
stream_finish_byte:
        call stream_poll            ; (it takes the byte)
        jr   stream_finish_check
stream_finish_done:
        call ahead_end
        jp   rts_off

; stream_follow - the batch's blocks from packed_next on, as a stream the
; PC sends at once after the take's answer (the follows; the PC counts
; them as we do): received and judged ahead as the rest of a stream after
; the work is (stream_receive), then taken, and the PC told how many of
; the batch's blocks are in (stream_take).  Its header names this batch.
; A stream that does not come, or comes damaged, is taken as far as it
; checks out, or not at all.  Changes everything.
stream_follow:
        ld   a,(packed_next)        ; the judging ahead counts from the
        push af                     ; first block due
        call ahead_begin
        pop  af
        ld   (packed_next),a
        push af
        call stream_receive
        pop  af
        ld   (packed_next),a        ; the take counts from there again
        jp   stream_take

; stream_poll - the stream's bytes that are waiting in the 8251, put at
; stream_write (past the area's end they are let pass), while a stream
; comes; a seek where the head is every 256 bytes keeps the motor turning
; for the next batch (it stops after 2 s).  Nothing at all while no
; stream comes: its first instruction is a RET then (ahead_end).  Called
; between pieces of at most about 1,000 T of the judging ahead: two bytes
; take 2,560 T at 31250 baud, and the 8251 holds one and a second in its
; shift register.  Changes nothing, flags included.
stream_poll:
        ret                         ; (PUSH AF while a stream comes)
stream_poll_byte:
        in   a,(USART_CONTROL)
        and  USART_RXRDY_MASK
        jr   z,stream_poll_none
        push hl
        ld   hl,(stream_write)
        ld   a,(stream_end_high)
        dec  a
        cp   h                      ; carry: past the area's end
        in   a,(USART_DATA)         ; (flags kept; stored next, nothing between)
        jr   c,stream_poll_past
        ld   (hl),a
        inc  hl
        ld   (stream_write),hl
        ld   a,l
        or   a
        call z,lay_keep_turning
stream_poll_past:
        pop  hl
        jr   stream_poll_byte
stream_poll_none:
        pop  af
        ret

PUSH_AF:        equ 0F5h        ; the opcodes stream_poll begins with
RET_OPCODE:     equ 0C9h

; ahead_begin - the judging ahead starts on the stream in the stream area:
; no block judged yet, the batch's first due, stream_poll on, and the
; judge's sector CRC-16 through crc_sector_run, which polls too.  The
; batch before has no more use for sector_buffer: its work is done.
; Changes A, HL.
ahead_begin:
        xor  a
        ld   (ahead_count),a
        ld   (ahead_done),a
        ld   (packed_next),a
        ld   (filler_crc_known),a
        ld   hl,(stream_start)
        ld   a,l
        add  a,STREAM_HEADER
        ld   l,a
        ld   (ahead_read),hl
        ld   a,PUSH_AF
        ld   (stream_poll),a
        ld   a,CRC_RUN_POLLED
        ld   (crc_run_next+1),a
        ld   hl,crc_sector_run
        ld   (judge_crc+1),hl
        ret

; ahead_end - stream_poll and the judge's sector CRC-16 as they are
; outside stream_finish.  Changes A, HL.
ahead_end:
        ld   a,RET_OPCODE
        ld   (stream_poll),a
        ld   a,CRC_RUN_PLAIN
        ld   (crc_run_next+1),a
        ld   hl,crc16_sector
        ld   (judge_crc+1),hl
        ret

; ahead_judge - the stream's next block not yet judged (ahead_read), when
; all of it is in: judged as stream_take would (stream_judge), into its
; place in sector_buffer, and kept in ahead_records (its number, its
; CRC-16, its LAYABLE_FLAG) for the batch byte that will name the batch:
; the batch before still has its status block to send, so nothing of
; batch_status or verify_crcs may change yet.  The header is in and
; whole.  A block that does not check out stops the judging ahead: it and
; the rest are left to stream_take.  Out: Z when a block was judged.
; Changes everything.
ahead_judge:
        call stream_poll
        ld   a,(ahead_done)
        or   a
        ret  nz
        ld   hl,(stream_write)      ; no further than what came
        ld   (stream_end),hl
        ld   hl,(ahead_read)
        call stream_judge
        jr   z,ahead_judged
        ret  c                      ; not all in yet (NZ)
        ld   a,1                    ; damaged, or not its batch's next
        ld   (ahead_done),a
        or   a                      ; NZ
        ret
ahead_judged:
        call stream_poll            ; (its judging may have ended 800 T after a poll)
        ld   (ahead_read),hl
        ld   hl,(packed_at)         ; one taken already: nothing to keep
        ld   a,(hl)
        and  FILLER_FLAG-1
        ld   b,a
        ld   a,(packed_next)
        cp   b
        jr   nz,ahead_passed
        inc  a
        ld   (packed_next),a
        ld   a,(ahead_count)        ; its record: 4 bytes
        ld   l,a
        inc  a
        ld   (ahead_count),a
        ld   h,0
        add  hl,hl
        add  hl,hl
        ld   de,ahead_records
        add  hl,de
        ld   de,(packed_at)         ; the number, with FILLER_FLAG
        ld   a,(de)
        ld   (hl),a
        inc  hl
        ld   de,(packed_crc)
        ld   (hl),e
        inc  hl
        ld   (hl),d
        inc  hl
        ld   a,(packed_layable)
        ld   (hl),a
ahead_passed:                       ; (a block sent twice: passed over)
        call stream_poll
        xor  a                      ; Z
        ret

; ahead_apply - the blocks judged ahead taken for the batch (packed_take,
; from their records), in their order.  Out: HL = the stream's first
; block not judged ahead.  Changes everything.
ahead_apply:
        ld   a,(ahead_count)
        ld   hl,(stream_start)
        ld   l,STREAM_HEADER        ; (the area begins on a page)
        or   a
        ret  z                      ; none: the stream from its start
        ld   hl,ahead_records
ahead_apply_next:
        push af
        ld   (packed_at),hl
        inc  hl
        ld   e,(hl)
        inc  hl
        ld   d,(hl)
        inc  hl
        ld   (packed_crc),de
        ld   a,(hl)
        inc  hl
        ld   (packed_layable),a
        push hl
        call packed_take
        pop  hl
        pop  af
        dec  a
        jr   nz,ahead_apply_next
        ld   hl,(ahead_read)
        ret
