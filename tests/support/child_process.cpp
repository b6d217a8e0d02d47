#include "tests/support/child_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <poll.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {
std::mutex output_mutex;
}

std::string tobrin_binary()
{
    return TOBRIN_BINARY;
}

bool tobrin_under_wine()
{
    const char* exe = std::getenv("TOBRIN_WINE_EXE");
    return exe != nullptr && exe[0] != '\0';
}

static void point_link(const std::string& link, const std::string& device)
{
    std::error_code ignored;
    std::filesystem::remove(link, ignored);
    if (!device.empty()) std::filesystem::create_symlink(device, link);
}

TobrinLaunch tobrin_launch(const std::vector<std::string>& args, const std::string& com1, const std::string& com2)
{
    TobrinLaunch launch;
    if (!tobrin_under_wine()) {
        launch.program = tobrin_binary();
        launch.args = args;
        launch.env = {{"TOBRIN_COM1", com1}, {"TOBRIN_COM2", com2.empty() ? "/nonexistent/com2" : com2}};
        return launch;
    }
    const char* ports = std::getenv("TOBRIN_WINE_PORTS");
    std::string folder = ports ? ports : "/tmp";
    point_link(folder + "/com1", com1);
    point_link(folder + "/com2", com2);
    launch.program = "/usr/bin/wine";
    launch.args.push_back(std::getenv("TOBRIN_WINE_EXE"));
    launch.args.insert(launch.args.end(), args.begin(), args.end());
    return launch;
}

std::string tobrin_text(const std::string& printed)
{
    if (!tobrin_under_wine()) return printed;
    std::string out;
    for (std::size_t i = 0; i < printed.size(); ++i)
        if (!(printed[i] == '\r' && i + 1 < printed.size() && printed[i + 1] == '\n')) out += printed[i];
    return out;
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& env, const std::string& keys,
                           Console console)
{
    std::signal(SIGPIPE, SIG_IGN);  // a child that ended must not end the test
    const bool on_terminal = console == Console::Terminal || console == Console::DetachedTerminal;
    int in_pipe[2] = {-1, -1}, out_pipe[2] = {-1, -1};
    int master = -1;
    if (!on_terminal) {
        if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        // The keys wait in the pipe before the program starts: one that ends
        // before it reads them (a refusal before the first prompt) must not
        // make the typing fail.  They fit the pipe's buffer.
        in_fd_ = in_pipe[1];
        if (keys.size() <= 4096) type(keys);
        in_fd_ = -1;
    } else {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            throw std::runtime_error("cannot create the console terminal");
        terminal_path_ = ptsname(master);
        terminal_fd_ = open(terminal_path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    }

    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        if (!on_terminal) {
            dup2(in_pipe[0], 0);
            dup2(out_pipe[1], 1);
            dup2(out_pipe[1], 2);
        } else {
            setsid();
            int slave = open(terminal_path_.c_str(), O_RDWR | O_NOCTTY);
            if (console == Console::Terminal) ioctl(slave, TIOCSCTTY, 0);
            dup2(slave, 0);
            dup2(slave, 1);
            dup2(slave, 2);
        }
        for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }

    if (!on_terminal) {
        close(in_pipe[0]);
        close(out_pipe[1]);
        in_fd_ = in_pipe[1];
        out_fd_ = out_pipe[0];
        if (keys.size() > 4096) type(keys);
        if (console == Console::Pipe) {
            close(in_fd_);
            in_fd_ = -1;
        }
    } else {
        out_fd_ = in_fd_ = master;
        if (!keys.empty()) type(keys);
    }
    reader_ = std::thread([this] { collect(); });
}

ChildProcess::~ChildProcess()
{
    if (!exited_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    // The reader ends at end of output: in terminal mode once no slave
    // descriptor is left open.
    if (terminal_fd_ >= 0) close(terminal_fd_);
    terminal_fd_ = -1;
    if (reader_.joinable()) reader_.join();
    if (in_fd_ >= 0 && in_fd_ != out_fd_) close(in_fd_);
    if (out_fd_ >= 0) close(out_fd_);
}

void ChildProcess::collect()
{
    char buffer[4096];
    for (;;) {
        ssize_t n = read(out_fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        std::lock_guard<std::mutex> lock(output_mutex);
        output_.append(buffer, static_cast<std::size_t>(n));
    }
}

void ChildProcess::type(const std::string& keys)
{
    std::size_t done = 0;
    while (done < keys.size()) {
        ssize_t n = write(in_fd_, keys.data() + done, keys.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error("typing failed");
        done += static_cast<std::size_t>(n);
    }
}

std::string ChildProcess::output()
{
    std::lock_guard<std::mutex> lock(output_mutex);
    return output_;
}

bool ChildProcess::wait_for_output(const std::string& text, int timeout_ms)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < end) {
        if (output().find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

void ChildProcess::send_signal(int sig)
{
    kill(pid_, sig);
}

int ChildProcess::wait(int timeout_ms)
{
    if (exited_) return status_;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    int raw = 0;
    for (;;) {
        pid_t r = waitpid(pid_, &raw, WNOHANG);
        if (r == pid_) break;
        if (std::chrono::steady_clock::now() >= end) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &raw, 0);
            exited_ = true;
            throw std::runtime_error("tobrin did not end in time; output so far:\n" + output());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    exited_ = true;
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    // In terminal mode the master never reports end of output while the
    // test holds a slave descriptor: close it so the reader can finish.
    if (terminal_fd_ >= 0) {
        has_final_terminal_ = tcgetattr(terminal_fd_, &final_terminal_) == 0;
        close(terminal_fd_);
        terminal_fd_ = -1;
    }
    if (reader_.joinable()) reader_.join();
    return status_;
}
