// tobrin on a real terminal: keys typed ahead answer the prompts to come,
// nothing typed is echoed, and the terminal gets its settings back however
// the run ends, Ctrl-C and signals included.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <termios.h>
#include <unistd.h>

#include "tests/support/child_process.h"
#include "tests/support/expected_console.h"
#include "tests/support/pty_line.h"

namespace {

// The terminal turns "\n" into "\r\n"; compare in the program's own terms.
std::string program_text(std::string s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
        out += s[i];
    }
    return out;
}

const char PROMPT_TEXT[] = "Press Y to proceed, any other key to exit :";

class ConsoleTest : public testing::Test {
protected:
    // tobrin on a terminal of its own: natively, or tobrin.exe under wine's
    // console (the Windows stage).
    ChildProcess* start(const std::vector<std::string>& args)
    {
        TobrinLaunch launch = tobrin_launch(args, line.slave_path());
        return new ChildProcess(launch.program, launch.args, launch.env, "", ChildProcess::Console::Terminal);
    }
    // Started and showing its first prompt.
    std::unique_ptr<ChildProcess> at_first_prompt(const std::vector<std::string>& args)
    {
        std::unique_ptr<ChildProcess> child(start(args));
        EXPECT_TRUE(child->wait_for_output(PROMPT_TEXT));
        return child;
    }
    static void expect_terminal_restored(const ChildProcess& child)
    {
        struct termios tio;
        ASSERT_TRUE(child.final_terminal(&tio));
        EXPECT_TRUE(tio.c_lflag & ECHO);
        EXPECT_TRUE(tio.c_lflag & ICANON);
        EXPECT_TRUE(tio.c_lflag & ISIG);
    }
    PtyLine line;
};

TEST_F(ConsoleTest, KeysTypedAheadAnswerLaterPromptsUnseen)
{
    auto child = at_first_prompt({"1"});
    child->type("YYYN");  // three of these are typed before their prompts appear
    EXPECT_EQ(line.receive(2048).size(), 2048u);
    EXPECT_EQ(child->wait(), 1);
    // Exactly the four prompts, each blanked, and not one key on the screen.
    EXPECT_EQ(program_text(child->output()), BANNER + ALL_LOADER_STEPS + WARNING + PROMPT);
    expect_terminal_restored(*child);
}

TEST_F(ConsoleTest, CtrlCAtAPromptRefusesAndRestoresTheTerminal)
{
    auto started = at_first_prompt({"1", "-notrans"});
    ChildProcess& child = *started;
    child.type("\x03");
    EXPECT_EQ(child.wait(), 1);
    EXPECT_TRUE(line.drain(100).empty()) << "no format command after a refusal";
    expect_terminal_restored(child);
}

TEST_F(ConsoleTest, ACursorKeyIsOneKeyThatRefuses)
{
    auto started = at_first_prompt({"1", "-notrans"});
    ChildProcess& child = *started;
    child.type("\x1b[A");
    EXPECT_EQ(child.wait(), 1);
    std::string out = program_text(child.output());
    EXPECT_EQ(out.find("[A"), std::string::npos);
    expect_terminal_restored(child);
}

TEST_F(ConsoleTest, ASignalDuringASerialWaitRestoresTheTerminal)
{
    auto started = at_first_prompt({"1", "-notrans"});
    ChildProcess& child = *started;
    child.type("y");
    EXPECT_EQ(line.receive_byte(), 0x2A);  // now it waits for the format status
    ASSERT_TRUE(child.wait_for_output("1) Formatting, please wait."));
    child.send_signal(SIGTERM);
    EXPECT_EQ(child.wait(), 128 + SIGTERM);
    expect_terminal_restored(child);
}

TEST_F(ConsoleTest, TheTerminalIsTouchedOnlyByARunThatPromptsOutsideItsBackground)
{
    // timeout(1), started by a shell, runs its command outside the
    // terminal's foreground: a run there that changed the terminal, or read
    // it, would be stopped by the system and killed by timeout (status 124)
    // instead of ending.
    TobrinLaunch launch = tobrin_launch({}, line.slave_path());
    struct Case {
        std::vector<std::string> args;
        std::string output;
    } background[] = {
        {{"-?"}, BANNER + USAGE},
        {{"1", "-notrans"}, BANNER + WARNING + PROMPT},  // the prompt finds no key: it refuses
    };
    for (const auto& c : background) {
        std::vector<std::string> args = {"-c", "timeout 2 \"$0\" \"$@\"", launch.program};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ChildProcess child("/bin/sh", args, launch.env, "", ChildProcess::Console::Terminal);
        EXPECT_EQ(child.wait(3000), 1) << c.args[0] << ": 124 is a run stopped in the background";
        EXPECT_EQ(program_text(child.output()), c.output);
        expect_terminal_restored(child);
    }

    // In the foreground the prompt takes the terminal: no echo while it waits.
    auto child = at_first_prompt({"1", "-notrans"});
    int fd = open(child->terminal_path().c_str(), O_RDONLY | O_NOCTTY);
    ASSERT_GE(fd, 0);
    struct termios at_prompt;
    ASSERT_EQ(tcgetattr(fd, &at_prompt), 0);
    close(fd);
    EXPECT_FALSE(at_prompt.c_lflag & ECHO);
    EXPECT_FALSE(at_prompt.c_lflag & ICANON);
    child->type("n");
    EXPECT_EQ(child->wait(), 1);
    expect_terminal_restored(*child);

    // A terminal that is standard input but not the run's controlling
    // terminal (a session of its own without one, as a harness, a front-end
    // or setsid(1) may start it): it cannot stop the run, so the prompt takes
    // its keys one at a time all the same - "N" without Enter refuses.
    ChildProcess detached(launch.program, {"1", "-notrans"}, launch.env, "", ChildProcess::Console::DetachedTerminal);
    ASSERT_TRUE(detached.wait_for_output(PROMPT_TEXT));
    detached.type("N");
    EXPECT_EQ(detached.wait(10000), 1);
    EXPECT_EQ(program_text(detached.output()), BANNER + WARNING + PROMPT);
    expect_terminal_restored(detached);
}

}  // namespace
