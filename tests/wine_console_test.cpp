// tobrin.exe's key read in a real console under wine (the Windows stage):
// the program runs in a tmux window and its keys go in with send-keys, as a
// user types at a Windows console; what it prints goes to a file, read
// byte for byte.  Skipped outside the Windows stage.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/disc_builder.h"
#include "tests/support/expected_console.h"
#include "tests/support/pty_line.h"

namespace {

std::string run_command(const std::string& command)
{
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return out;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0) out.append(buffer, n);
    return out;
}

// The tests' own tmux server: a socket of their own, so that a tmux the
// caller works in (whose environment knows nothing of the test's wine
// prefix) is never used, and ended when the tests end.
class TmuxServer : public testing::Environment {
public:
    static std::string command()
    {
        // No TMUX: the caller's session must not be taken as ours.
        return "env -u TMUX tmux -S '" + socket() + "'";
    }
    static const std::string& socket()
    {
        static const std::string path = [] {
            std::string marker = write_temp_file({}, "tmux.here");  // the test's temporary folder
            return marker.substr(0, marker.rfind('/')) + "/tmux.sock";
        }();
        return path;
    }
    void TearDown() override { run_command(command() + " kill-server 2>/dev/null"); }
};

// The environment tobrin.exe runs with, passed explicitly to the window.
std::string wine_environment()
{
    std::string env = "env";
    for (const char* name : {"WINEPREFIX", "WINEDEBUG", "WINEDLLOVERRIDES", "HOME", "PATH"}) {
        const char* value = std::getenv(name);
        if (value != nullptr) env += std::string(" ") + name + "='" + value + "'";
    }
    return env;
}

// tobrin.exe in a tmux window of its own, its output in a file.
class ConsoleWindow {
public:
    ConsoleWindow(const std::vector<std::string>& args, const std::string& com1)
        : name_("tobrin-wine-" + std::to_string(counter_++)), output_(write_temp_file({}, name_ + ".out"))
    {
        TobrinLaunch launch = tobrin_launch(args, com1);
        std::string command = wine_environment() + " " + launch.program;
        for (const auto& a : launch.args) command += " '" + a + "'";
        command += " >" + output_ + "; echo EXIT=\\$? >>" + output_ + "; sleep 60";  // $? for the inner shell
        run_command(TmuxServer::command() + " new-session -d -s " + name_ + " -x 100 -y 50 \"" + command + "\"");
    }
    ~ConsoleWindow() { run_command(TmuxServer::command() + " kill-session -t " + name_ + " 2>/dev/null"); }
    // What tobrin printed so far, in its own terms, and the exit line.
    std::string screen() { return tobrin_text(run_command("cat " + output_)); }
    // Keys by tmux name (Up, Escape, C-c) or, with literal, as text.
    void keys(const std::string& keys, bool literal = false)
    {
        run_command(TmuxServer::command() + " send-keys -t " + name_ + (literal ? " -l '" : " '") + keys + "'");
    }
    bool wait_for(const std::string& text, int timeout_ms = 30000)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (std::chrono::steady_clock::now() < end) {
            if (screen().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

private:
    static inline int counter_ = 0;
    std::string name_;
    std::string output_;
};

const testing::Environment* const tmux_server = testing::AddGlobalTestEnvironment(new TmuxServer);

class WineConsoleTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!tobrin_under_wine()) GTEST_SKIP() << "only in the Windows stage (TOBRIN_WINE_EXE)";
    }
    PtyLine line;
};

const char PROMPT_TEXT[] = "Press Y to proceed, any other key to exit :";

TEST_F(WineConsoleTest, KeysTypedAheadAnswerThePromptsUnseen)
{
    ConsoleWindow window({"1"}, line.slave_path());
    ASSERT_TRUE(window.wait_for(PROMPT_TEXT)) << window.screen();
    window.keys("yyyn", true);  // three typed before their prompts appear
    EXPECT_EQ(line.receive(2048, 30000).size(), 2048u);
    ASSERT_TRUE(window.wait_for("EXIT=1")) << window.screen();
    // Exactly the four prompts, each blanked, and not one key on the screen.
    EXPECT_EQ(window.screen(), BANNER + ALL_LOADER_STEPS + WARNING + PROMPT + "EXIT=1\n");
}

TEST_F(WineConsoleTest, YProceedsAndTheFormatCommandGoesOut)
{
    ConsoleWindow window({"1", "-notrans"}, line.slave_path());
    ASSERT_TRUE(window.wait_for(PROMPT_TEXT)) << window.screen();
    window.keys("Y", true);
    EXPECT_EQ(line.receive_byte(30000), 0x2A);
    line.send_byte(0x04);
    ASSERT_TRUE(window.wait_for("EXIT=2")) << window.screen();  // failed after the format command
    EXPECT_NE(window.screen().find("Einstein Error -> Formatting disk has failed."), std::string::npos);
}

// (Ctrl-C is not among them: wine's terminal console ends the program on
// it, where a Windows console with its input mode off hands it over as a key.)
TEST_F(WineConsoleTest, SpecialKeysRefuse)
{
    for (const char* key : {"Up", "F1", "Escape", "Enter", "Space", "n"}) {
        PtyLine own;
        ConsoleWindow window({"1", "-notrans"}, own.slave_path());
        ASSERT_TRUE(window.wait_for(PROMPT_TEXT)) << key << "\n" << window.screen();
        window.keys(key);
        ASSERT_TRUE(window.wait_for("EXIT=1")) << key << "\n" << window.screen();
        EXPECT_TRUE(own.drain(100).empty()) << key << ": no format command after a refusal";
    }
}

}  // namespace
