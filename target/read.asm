; ---------------------------------------------------------------------------
; read.asm - the disk, back to the PC (tobrin -read): every sector of the
; disk in drive 0, as the monitor reads it, with its status.
; ---------------------------------------------------------------------------

; read_disk - the PC's read command.  Reached by jump from command_loop
; after the "R"; ends there.  Wire: track and sector to begin at (0 and 0,
; or where a read that failed on the line stopped) and a check byte that
; makes the two and itself sum to FFh.  The answer: the drive check's
; status byte (0 = the drive is there and ready; write protection is no
; matter) and, when it is 0, the drive flags byte; then for each sector
; from the position on, side 0's IDs 0-9 and side 1's 10-19 of each track,
; a record: its position (track, sector: the PC checks that the stream is
; in step), its status byte (the monitor's error code, 0 = read), the
; CRC-16 of the 512 bytes as read and then of those three bytes (high byte
; first), and the sector as a block - E5h bytes where nothing could be
; read.  The PC then answers SECTOR_TAKEN, or anything else to have the
; record again (READ_PASSES times at most: link_no_sync): a block, a
; position or a status damaged on the line - even in a way the block's
; checksum lets through, or in a block of one value, which has none - does
; not agree with the CRC.
READ_PASSES:    equ 8
read_disk:
        ld   hl,resume_track
        ld   b,2
        call take_checked
        jp   nz,command_loop
        call spun_up
        ld   a,1                    ; the drive, write-protected or not
        call ready_drive
        jp   nz,command_loop
        ld   a,(mos_drive_config)
        call put_byte               ; the drive flags byte
        ld   a,(double_sided)       ; 10 sectors a cylinder, or 20
        or   a
        ld   a,10
        jr   z,read_one_side
        ld   a,20
read_one_side:
        ld   (sectors_per_cylinder),a
        ld   a,(resume_track)
        ld   (mos_track),a
        ld   a,(resume_sector)
        ld   (mos_sector),a
read_sector:
        ld   hl,sector_buffer       ; E5h where nothing can be read
        ld   (mos_buffer),hl
        ld   (hl),BLANK_BYTE
        ld   de,sector_buffer+1
        ld   bc,SECTOR_SIZE-1
        ldir
        ld   a,(mos_sector)         ; progress at each new track
        or   a
        jr   nz,read_quiet
        ld   hl,word_read
        call show_progress
read_quiet:
        xor  a
        ld   (mos_error),a
        rst  08h
        defb MOS_READ_SECTOR
        call take_mos_error
        ld   (read_status),a
        ld   hl,sector_buffer       ; the record's CRC-16: the sector, then
        call crc16_sector           ; its position and its status
        ld   a,(mos_track)
        call crc16_add
        ld   a,(mos_sector)
        call crc16_add
        ld   a,(read_status)
        call crc16_add
        ld   (read_crc),de
        ld   a,READ_PASSES
        ld   (read_passes),a
read_record:
        ld   a,(mos_track)          ; the sector's position
        call put_byte
        ld   a,(mos_sector)
        call put_byte
        ld   a,(read_status)        ; its status byte
        call put_byte
        ld   a,(read_crc+1)         ; the CRC-16, high byte first
        call put_byte
        ld   a,(read_crc)
        call put_byte
        ld   hl,sector_buffer
        ld   bc,SECTOR_SIZE
        call send_block
        call get_byte               ; the PC's word on the record
        cp   SECTOR_TAKEN
        jr   z,read_next
        ld   hl,read_passes
        dec  (hl)
        jp   z,link_no_sync
        jr   read_record
read_next:
        call advance_position
        ld   a,(track_count)
        ld   b,a
        ld   a,(mos_track)
        cp   b
        jp   c,read_sector
        jp   command_loop           ; the disk is read; the program waits again

; The word of the read's progress line (show_progress).
word_read:            defm "Read "
