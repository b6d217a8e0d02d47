// serial_device.cpp (Win32) - the serial device through the Win32
// communications functions: CreateFileA, a DCB read, changed field by
// field and written back, the event mask, and synchronous single-byte
// ReadFile/WriteFile.  Queue sizes and data already waiting stay as the
// driver has them; the time-outs are set for each wait, so that no read or
// write waits longer than TOBRIN allows it (a wait without limit keeps
// the driver's own blocking behaviour: all time-outs zero).
#include "platform/serial_device.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

static char last_error[320];  // why the last open failed

const char* serial_device_error()
{
    return last_error;
}

// The system's words for an error code, without the line end.
static void set_system_error(DWORD code)
{
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                             last_error, sizeof last_error, nullptr);
    if (n == 0) std::snprintf(last_error, sizeof last_error, "system error %lu", static_cast<unsigned long>(code));
    for (char* end = last_error + std::strlen(last_error); end > last_error && (end[-1] == '\n' || end[-1] == '\r' || end[-1] == ' ' || end[-1] == '.');)
        *--end = '\0';
}

// COMn goes through the device namespace, \\.\COMn: only that way do
// COM10 and above open.
const char* serial_device_path(const char* port_name)
{
    static char path[MAX_PATH];
    int number = serial_com_number(port_name);
    if (number != 0) {
        std::snprintf(path, sizeof path, "\\\\.\\COM%d", number);
        return path;
    }
    if (std::strlen(port_name) >= sizeof path) {
        std::snprintf(last_error, sizeof last_error, "the device name is longer than %d characters", MAX_PATH - 1);
        return nullptr;
    }
    std::snprintf(path, sizeof path, "%s", port_name);
    return path;
}

int serial_device_open(const char* port_name, const SerialLine* line, DeviceHandle* handle)
{
    *handle = DEVICE_INVALID;
    const char* path = serial_device_path(port_name);
    if (path == nullptr) return 0;
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0 /* exclusive */, nullptr,
                           OPEN_EXISTING, 0 /* synchronous */, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        set_system_error(GetLastError());
        return 0;
    }

    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb)) {
        set_system_error(GetLastError());  // not a serial device
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
        set_system_error(GetLastError());
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

// The device's time-outs for the next read or write: one byte, or nothing
// after timeout_ms (negative: without limit).  Set only when they change.
static void set_timeouts(HANDLE h, bool reading, int timeout_ms)
{
    static HANDLE last_handle = INVALID_HANDLE_VALUE;
    static int last_read = -2, last_write = -2;
    if (h != last_handle) {
        last_handle = h;
        last_read = last_write = -2;
    }
    if ((reading ? last_read : last_write) == timeout_ms) return;
    (reading ? last_read : last_write) = timeout_ms;
    COMMTIMEOUTS t;
    ZeroMemory(&t, sizeof t);
    if (last_read >= 0) {
        // Return at once with what has come, or wait up to the constant for one byte.
        t.ReadIntervalTimeout = MAXDWORD;
        t.ReadTotalTimeoutMultiplier = MAXDWORD;
        t.ReadTotalTimeoutConstant = static_cast<DWORD>(last_read > 0 ? last_read : 1);
    }
    if (last_write >= 0) t.WriteTotalTimeoutConstant = static_cast<DWORD>(last_write > 0 ? last_write : 1);
    SetCommTimeouts(h, &t);
}

SerialIo serial_device_write(DeviceHandle handle, std::uint8_t byte, int timeout_ms)
{
    HANDLE h = reinterpret_cast<HANDLE>(handle);
    set_timeouts(h, false, timeout_ms);
    DWORD written = 0;
    if (!WriteFile(h, &byte, 1, &written, nullptr)) {
        // A write time-out is not a line error: the Einstein held CTS off.
        if (GetLastError() == ERROR_TIMEOUT || GetLastError() == ERROR_COUNTER_TIMEOUT) return SERIAL_IO_NOTHING;
        return SERIAL_IO_FAILED;
    }
    return written == 1 ? SERIAL_IO_DONE : SERIAL_IO_NOTHING;
}

SerialIo serial_device_read(DeviceHandle handle, std::uint8_t* byte, int timeout_ms)
{
    HANDLE h = reinterpret_cast<HANDLE>(handle);
    set_timeouts(h, true, timeout_ms);
    DWORD got = 0;
    if (!ReadFile(h, byte, 1, &got, nullptr)) return SERIAL_IO_FAILED;
    return got == 1 ? SERIAL_IO_DONE : SERIAL_IO_NOTHING;  // 0: the time-out ran out
}

int serial_device_output_pending(DeviceHandle handle)
{
    DWORD errors = 0;
    COMSTAT state;
    if (!ClearCommError(reinterpret_cast<HANDLE>(handle), &errors, &state)) return -1;
    return static_cast<int>(state.cbOutQue);
}

void serial_device_discard_input(DeviceHandle handle)
{
    PurgeComm(reinterpret_cast<HANDLE>(handle), PURGE_RXCLEAR);
}

int serial_device_set_rate(DeviceHandle handle, std::int32_t baud, std::int32_t stop_bits, std::int32_t* actual)
{
    HANDLE h = reinterpret_cast<HANDLE>(handle);
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb)) return 0;
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.StopBits = stop_bits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    if (!SetCommState(h, &dcb) || !GetCommState(h, &dcb)) return 0;
    *actual = static_cast<std::int32_t>(dcb.BaudRate);
    return 1;
}

// The ports the system has: the SERIALCOMM device map names each port
// ("COM5") after its driver's device ("\\Device\\VCP0" for a USB adapter,
// "\\Device\\Serial0" for a UART).
std::vector<SerialDeviceInfo> serial_device_list()
{
    std::vector<SerialDeviceInfo> ports;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD i = 0;; ++i) {
        char name[256], value[256];
        DWORD name_length = sizeof name, value_length = sizeof value - 1, type = 0;
        LONG r = RegEnumValueA(key, i, name, &name_length, nullptr, &type, reinterpret_cast<BYTE*>(value), &value_length);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS || type != REG_SZ) continue;
        value[value_length] = '\0';
        ports.push_back({value, name});
    }
    RegCloseKey(key);
    // COM2 before COM10.
    std::sort(ports.begin(), ports.end(), [](const SerialDeviceInfo& a, const SerialDeviceInfo& b) {
        return a.path.size() != b.path.size() ? a.path.size() < b.path.size() : a.path < b.path;
    });
    return ports;
}
