// child_process.h - runs the real tobrin binary (or another program) for
// end-to-end tests: arguments, extra environment, keys on standard input
// (a pipe, or a terminal of its own), and everything it prints.
#pragma once
#include <map>
#include <termios.h>
#include <string>
#include <thread>
#include <vector>

class ChildProcess {
public:
    // Pipe: keys, then end of input.  OpenPipe: keys, and type() writes more
    // until the process ends.  Terminal: a pseudo-terminal to type into,
    // the child's controlling terminal.  DetachedTerminal: the same, but
    // the child has no controlling terminal (as under setsid(1)).
    enum class Console { Pipe, OpenPipe, Terminal, DetachedTerminal };

    // Starts program with args (argv[0] is program).  With Console::Pipe,
    // `keys` are written to its standard input, which is then closed (end of
    // input); with Console::Terminal, standard input and output are a
    // pseudo-terminal that the test types into with type().
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env, const std::string& keys,
                 Console console = Console::Pipe);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Terminal mode: types bytes as keys.
    void type(const std::string& keys);
    // Terminal mode: the terminal's slave side, for reading its settings.
    const std::string& terminal_path() const { return terminal_path_; }
    // Waits until the output contains text; false after timeout_ms (a guard
    // against a hang: generous, for a machine busy with other work).
    bool wait_for_output(const std::string& text, int timeout_ms = 60000);
    // Waits for the exit; kills the child and throws after timeout_ms (a
    // guard against a hang: a whole two-sided run of tobrin.exe under wine
    // takes nearly a minute on a quiet machine, and several on a busy one).
    // Returns the exit status, or 128 + the signal number.
    int wait(int timeout_ms = 600000);
    void send_signal(int sig);
    // Everything printed so far.
    std::string output();
    int pid() const { return pid_; }
    // Terminal mode, after wait(): the terminal's settings as the child left
    // them; false when they could not be read.
    bool final_terminal(struct termios* settings) const
    {
        if (has_final_terminal_) *settings = final_terminal_;
        return has_final_terminal_;
    }

private:
    void collect();
    int pid_ = -1;
    int out_fd_ = -1;       // stdout pipe, or the terminal's master side
    int in_fd_ = -1;        // where type() writes: the input pipe or the terminal's master side
    int terminal_fd_ = -1;  // a slave descriptor kept so settings can be read
    std::string terminal_path_;
    std::thread reader_;
    std::string output_;
    bool exited_ = false;
    bool has_final_terminal_ = false;
    struct termios final_terminal_ {};
    int status_ = -1;
};

// The path of the tobrin binary under test.
std::string tobrin_binary();

// How a test starts tobrin with its serial ports on the given devices:
// natively (TOBRIN_COM1/TOBRIN_COM2), or - in the Windows stage, when
// TOBRIN_WINE_EXE names tobrin.exe - under wine, whose COM1 and COM2 are
// mapped to links in TOBRIN_WINE_PORTS that this points at the devices.
struct TobrinLaunch {
    std::string program;
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
};
TobrinLaunch tobrin_launch(const std::vector<std::string>& args, const std::string& com1,
                           const std::string& com2 = "");
bool tobrin_under_wine();
// What tobrin printed, in its own terms: a Windows console program's "\r\n"
// line ends become "\n" under wine.
std::string tobrin_text(const std::string& printed);
