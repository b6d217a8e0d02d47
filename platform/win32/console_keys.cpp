// console_keys.cpp (Win32) - single key presses through the console input
// functions.  The console's input mode is switched off for the read (no
// line editing, no echo, Ctrl-C a key) and restored after it.  The read
// waits on the input handle instead of polling, so a prompt costs no
// processor time.  Key presses already waiting are kept: they answer the
// next prompt.  When standard input is not a console, one byte is one key.
#include "platform/console_keys.h"

#include <windows.h>

void console_prepare() {}
void console_restore() {}

static int is_modifier(WORD key)
{
    return key == VK_SHIFT || key == VK_CONTROL || key == VK_MENU || key == VK_CAPITAL ||
           key == VK_LSHIFT || key == VK_RSHIFT || key == VK_LCONTROL || key == VK_RCONTROL ||
           key == VK_LMENU || key == VK_RMENU || key == VK_NUMLOCK || key == VK_SCROLL ||
           key == VK_LWIN || key == VK_RWIN;
}

static int read_byte_key(HANDLE input)
{
    unsigned char c = 0;
    DWORD got = 0;
    if (!ReadFile(input, &c, 1, &got, nullptr) || got != 1) return KEY_END_OF_INPUT;
    return c;
}

int console_read_key()
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(input, &mode)) return read_byte_key(input);
    SetConsoleMode(input, 0);
    int key = KEY_END_OF_INPUT;
    for (;;) {
        if (WaitForSingleObject(input, INFINITE) != WAIT_OBJECT_0) break;
        DWORD pending = 0;
        if (!GetNumberOfConsoleInputEvents(input, &pending)) break;
        if (pending == 0) continue;
        INPUT_RECORD record;
        DWORD count = 0;
        if (!PeekConsoleInputA(input, &record, 1, &count) || count == 0) continue;
        if (!ReadConsoleInputA(input, &record, 1, &count) || count == 0) break;
        if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
        WORD virtual_key = record.Event.KeyEvent.wVirtualKeyCode;
        if (is_modifier(virtual_key)) continue;  // a modifier alone is no key press
        unsigned char c = static_cast<unsigned char>(record.Event.KeyEvent.uChar.AsciiChar);
        if (virtual_key == VK_ESCAPE) key = 0x1B;
        else key = c != 0 ? c : KEY_SPECIAL;
        break;
    }
    SetConsoleMode(input, mode);
    return key;
}
