// console_keys.cpp (POSIX) - single key presses from a terminal or a pipe.
//
// On a terminal, console_prepare (called by the first prompt) switches echo
// and line editing off for the rest of the run (signals stay on, so Ctrl-C
// still stops a long serial wait);
// console_read_key also switches signals off while it waits, so that Ctrl-C
// at a prompt is a key that refuses.  Keys typed before a prompt wait in the
// terminal's queue unseen: no switch here flushes it.  The terminal's own
// settings come back at exit and on a fatal signal.
//
// A terminal is touched only by a run that prompts, and never from the
// background of the terminal that controls the run: a process there that
// changed the terminal's settings (or read from it) would be stopped by the
// system.  In the background the run takes its input as from a pipe, and a
// read that the terminal refuses is the end of input: the prompt refuses
// instead of stopping.  A terminal that is not the run's controlling
// terminal at all (a harness, a front-end, setsid) cannot stop it, so its
// keys are taken one at a time like a foreground terminal's.
#include "platform/console_keys.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

static struct termios saved_terminal;         // the settings found at start
static volatile sig_atomic_t terminal_taken;  // 1 while ours are in force

// Sets the terminal even when the run has been moved to the background
// since (SIGTTOU held back, so the change is not stopped).
static bool put_terminal(const struct termios* tio)
{
    sigset_t hold, before;
    sigemptyset(&hold);
    sigaddset(&hold, SIGTTOU);
    sigprocmask(SIG_BLOCK, &hold, &before);
    bool done = tcsetattr(STDIN_FILENO, TCSANOW, tio) == 0;
    sigprocmask(SIG_SETMASK, &before, nullptr);
    return done;
}

void console_restore()
{
    if (terminal_taken) {
        put_terminal(&saved_terminal);
        terminal_taken = 0;
    }
}

// Restores the terminal, then lets the signal do what it would have done.
static void restore_and_reraise(int sig)
{
    if (terminal_taken) put_terminal(&saved_terminal);
    terminal_taken = 0;
    signal(sig, SIG_DFL);
    raise(sig);
}

static bool set_terminal(bool signals_on)
{
    struct termios tio = saved_terminal;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | IEXTEN);
    if (!signals_on) tio.c_lflag &= ~ISIG;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    return put_terminal(&tio);
}

// Standard input is a terminal this run may set and read: its controlling
// terminal with the run in the foreground, or a terminal that does not
// control the run (tcgetpgrp says ENOTTY), which can never stop it.
static bool terminal_ours()
{
    if (!isatty(STDIN_FILENO)) return false;
    pid_t foreground = tcgetpgrp(STDIN_FILENO);
    if (foreground == -1) return errno == ENOTTY;
    return foreground == getpgrp();
}

void console_prepare()
{
    if (terminal_taken) return;
    if (!terminal_ours()) {
        // Input as from a pipe; a read of a background terminal fails (EIO)
        // instead of stopping the run.
        if (isatty(STDIN_FILENO)) signal(SIGTTIN, SIG_IGN);
        return;
    }
    if (tcgetattr(STDIN_FILENO, &saved_terminal) != 0) return;
    static int hooks_installed = 0;
    if (!hooks_installed) {
        hooks_installed = 1;
        std::atexit(console_restore);
        const int fatal[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
        for (int sig : fatal) {
            struct sigaction action {};
            action.sa_handler = restore_and_reraise;
            sigemptyset(&action.sa_mask);
            sigaction(sig, &action, nullptr);
        }
    }
    terminal_taken = 1;
    if (!set_terminal(true)) terminal_taken = 0;
}

static int read_one(unsigned char* byte)
{
    for (;;) {
        ssize_t n = read(STDIN_FILENO, byte, 1);
        if (n == 1) return 1;
        if (n < 0 && errno == EINTR) continue;
        return 0;
    }
}

// Is another byte of the same key press already there?  Terminals send a
// cursor or function key as several bytes at once.
static int more_follows()
{
    struct pollfd p = {STDIN_FILENO, POLLIN, 0};
    return poll(&p, 1, 30) == 1;
}

// The rest of an escape sequence: ESC [ params final, ESC O x, or ESC x.
static void swallow_escape_sequence()
{
    unsigned char c;
    if (!more_follows() || !read_one(&c)) return;
    if (c == 'O') {
        if (more_follows()) read_one(&c);
        return;
    }
    if (c != '[') return;
    while (more_follows() && read_one(&c))
        if (c >= 0x40 && c <= 0x7E) return;
}

int console_read_key()
{
    unsigned char c;
    if (!terminal_taken) {
        // Not a terminal: one byte is one key, the end of input refuses.
        return read_one(&c) ? c : KEY_END_OF_INPUT;
    }
    set_terminal(false);  // Ctrl-C at a prompt is a key, not a signal
    int key = KEY_END_OF_INPUT;
    if (read_one(&c)) {
        key = c;
        if (c == 0x1B && more_follows()) {
            swallow_escape_sequence();
            key = KEY_SPECIAL;
        } else if (c >= 0xC0) {
            // A character of several UTF-8 bytes is one key press.
            int rest = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
            while (rest-- > 0 && more_follows()) read_one(&c);
            key = KEY_SPECIAL;
        }
    }
    set_terminal(true);
    return key;
}
