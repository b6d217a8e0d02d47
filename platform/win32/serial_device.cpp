// serial_device.cpp (Win32) - the serial device through the Win32
// communications functions: CreateFileA, a DCB read, changed field by
// field and written back, the event mask, and synchronous single-byte
// ReadFile/WriteFile.  Time-outs, queue sizes and data already waiting stay
// as the driver has them.
#include "platform/serial_device.h"

#include <windows.h>

const char* serial_device_path(const char* port_name)
{
    return port_name;
}

int serial_device_open(const char* port_name, const SerialLine* line, DeviceHandle* handle)
{
    *handle = DEVICE_INVALID;
    HANDLE h = CreateFileA(port_name, GENERIC_READ | GENERIC_WRITE, 0 /* exclusive */, nullptr,
                           OPEN_EXISTING, 0 /* synchronous */, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 0;

    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb)) {
        CloseHandle(h);
        return 0;
    }
    static const BYTE parity_codes[] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY};
    dcb.BaudRate = static_cast<DWORD>(line->baud);
    dcb.ByteSize = static_cast<BYTE>(line->data_bits & 0xFF);
    dcb.Parity = parity_codes[line->parity];
    dcb.StopBits = line->stop_bits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = TRUE;
    if (line->handshake == HANDSHAKE_RTS_CTS) {
        dcb.fOutxCtsFlow = TRUE;
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    } else if (line->handshake == HANDSHAKE_XON_XOFF) {
        dcb.fOutX = TRUE;
        dcb.fInX = TRUE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
    }
    if (!SetCommState(h, &dcb)) {
        CloseHandle(h);
        return 0;
    }
    DWORD mask = 0;
    GetCommMask(h, &mask);
    SetCommMask(h, mask | EV_TXEMPTY);
    *handle = reinterpret_cast<DeviceHandle>(h);
    return 1;
}

void serial_device_close(DeviceHandle handle)
{
    CloseHandle(reinterpret_cast<HANDLE>(handle));
}

SerialIo serial_device_write(DeviceHandle handle, std::uint8_t byte)
{
    DWORD written = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(handle), &byte, 1, &written, nullptr))
        return SERIAL_IO_FAILED;
    return written == 1 ? SERIAL_IO_DONE : SERIAL_IO_NOTHING;
}

SerialIo serial_device_read(DeviceHandle handle, std::uint8_t* byte)
{
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(handle), byte, 1, &got, nullptr))
        return SERIAL_IO_FAILED;
    return got == 1 ? SERIAL_IO_DONE : SERIAL_IO_NOTHING;  // 0: the read time-out ran out
}
