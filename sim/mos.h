// mos.h - the Einstein's ROM monitor (MOS) as TOBRIN's code meets it: the
// RAM stubs at 0000h, the workspace bytes and the services behind RST 08h.
//
// The workspace bytes carry the names the Z80 side gives them
// (target/einstein.inc); the values are written here again on purpose, from
// the monitor's own documentation, so that a wrong address on either side
// shows up as a failing test instead of agreeing with itself.
#pragma once
#include <cstdint>

struct Einstein;

namespace mos {

// Workspace bytes a program may use.
constexpr std::uint16_t mos_drive = 0xFB50;        // drive for the disk calls
constexpr std::uint16_t mos_track = 0xFB51;        // track for the disk calls
constexpr std::uint16_t mos_sector = 0xFB52;       // sector ID (10-19 lie on side 1)
constexpr std::uint16_t mos_buffer = 0xFB53;       // 16-bit buffer address, low byte first
constexpr std::uint16_t mos_error = 0xFB56;        // disk error code, 0 = none
constexpr std::uint16_t mos_head_track = 0xFB58;   // + drive: the track the head was left on
constexpr std::uint16_t mos_drive_config = 0xFBB1; // bit n: drive n two-sided; bit 4+n: 80 tracks
constexpr int DRIVES = 4;

// Memory that belongs to the monitor: a program leaves it alone, apart
// from the workspace bytes above.
constexpr std::uint16_t STUBS_END = 0x000A;        // 0000h-000Ah: the RAM stubs
constexpr std::uint16_t WORKSPACE_START = 0xFB00;  // FB00h-FFFFh: workspace and sector buffer

// Disk error codes (in mos_error and in A after a failed disk call).
constexpr std::uint8_t ERROR_BAD_DATA = 1;         // CRC error in the data
constexpr std::uint8_t ERROR_WRITE_PROTECTED = 2;
constexpr std::uint8_t ERROR_NOT_FOUND = 3;        // sector not found, or restore's verify failed
constexpr std::uint8_t ERROR_NOT_READY = 4;
constexpr std::uint8_t ERROR_NO_DRIVE = 5;

// Call codes (the byte after RST 08h).
constexpr std::uint8_t CALL_PRINT_TEXT = 0xCF;
constexpr std::uint8_t CALL_RESTORE = 0xAF;
constexpr std::uint8_t CALL_FDC_COMMAND = 0xAE;
constexpr std::uint8_t CALL_WRITE_SECTOR = 0xA3;
constexpr std::uint8_t CALL_READ_SECTOR = 0xA2;
constexpr std::uint8_t CALL_FDC_RESET = 0xBD;
constexpr std::uint8_t CALL_MONITOR = 0x9A;
constexpr std::uint8_t CALL_PRINT_CHARACTER = 0x9E;

constexpr std::uint16_t CALL_ENTRY = 0x0008;       // RST 08h

// True for the workspace bytes a program may store into.
inline bool documented_workspace(std::uint16_t address)
{
    return (address >= mos_drive && address <= mos_buffer + 1) || address == mos_error ||
           (address >= mos_head_track && address < mos_head_track + DRIVES);
}

}  // namespace mos

// Puts the stubs and the drive configuration into a new machine's RAM.
void mos_install(Einstein* e);
// One monitor call: the Z80 stands at CALL_ENTRY after an RST 08h.
void mos_call(Einstein* e);
