// wire_protocol.cpp - the meaning of a sector's status byte.
#include "link/wire_protocol.h"

const char* sector_failure_text(std::uint8_t status)
{
    if (status == STATUS_VERIFY_MISMATCH) return "verify mismatch";
    if ((status & 0xE0) == STATUS_READ_FAILED) return "read error";
    switch (status) {
    case MOS_BAD_DATA: return "data error";
    case MOS_WRITE_PROTECTED: return "write-protected";
    case MOS_NOT_FOUND: return "sector not found";
    case MOS_NOT_READY: return "not ready";
    case MOS_NO_DRIVE: return "no drive";
    default: return "error";
    }
}
