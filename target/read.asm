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
; its position (track, sector: the PC checks that the stream is in step -
; a block sent again after a damaged answer would otherwise be taken for
; the next sector), its status byte (the monitor's error code, 0 = read)
; and the sector as a block - E5h bytes where nothing could be read.
read_disk:
        ld   hl,resume_track
        ld   b,2
        call take_checked
        jp   nz,command_loop
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
        ld   a,(mos_track)          ; the sector's position
        call put_byte
        ld   a,(mos_sector)
        call put_byte
        call take_mos_error
        call put_byte               ; the sector's status byte
        ld   hl,sector_buffer
        ld   bc,SECTOR_SIZE
        call send_block
        call advance_position
        ld   a,(track_count)
        ld   b,a
        ld   a,(mos_track)
        cp   b
        jr   c,read_sector
        jp   command_loop           ; the disk is read; the program waits again

; The word of the read's progress line (show_progress).
word_read:            defm "Read "
