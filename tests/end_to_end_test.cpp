// Whole runs of the real tobrin (its console on a pseudo-terminal, keys
// typed) against the real einstein-sim (its line on a pseudo-terminal that
// tobrin opens through TOBRIN_COM1): the console transcript byte for byte,
// the Einstein's screen, and the saved disk compared with the image sector
// by sector.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <sstream>

#include "image/default_image.h"
#include "image/disc_image.h"
#include "link/wire_protocol.h"
#include "target/program_stages.h"
#include "tests/support/child_process.h"
#include "tests/support/disc_builder.h"
#include "tests/support/expected_console.h"
#include "tests/support/stdout_capture.h"

namespace {

// Wall-clock limits here guard against a hang; they never measure.  Each is
// far more than its run takes on a quiet machine: under the sanitizers, on
// a machine busy with other work, the emulation runs several times slower.
constexpr int RUN_LIMIT_MS = 600000;  // a whole run of tobrin
constexpr int SIM_END_MS = 120000;    // einstein-sim's end once tobrin has ended
constexpr int STEP_LIMIT_MS = 60000;  // a step of the dialogue
// The blocks the second stage's second part comes in (each after the first
// brings the PC's marker and checksum, and the Einstein's checksum).
constexpr int rest_pieces = (target_stage_two_rest_size + STAGE_REST_PIECE - 1) / STAGE_REST_PIECE;
// Under the sanitizers the longest runs take a lighter form (half the
// tracks, the same code paths), so that the test command stays short.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool UNDER_SANITIZERS = true;
#else
constexpr bool UNDER_SANITIZERS = false;
#endif

// What tobrin printed in its own terms: its terminal turns "\n" into
// "\r\n" (under wine the pipe carries Windows line ends instead).
std::string program_text(const std::string& printed)
{
    if (tobrin_under_wine()) return tobrin_text(printed);
    const std::string& s = printed;
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) out += s[i];
    return out;
}

// A running einstein-sim.
class VirtualEinstein {
public:
    explicit VirtualEinstein(std::vector<std::string> args)
        : disk_path_(write_temp_file({}, "saved.dsk")), process_(EINSTEIN_SIM_BINARY, with_save(args), {}, "",
                                                                  ChildProcess::Console::OpenPipe)
    {
        if (!process_.wait_for_output("TOBRIN_COM1=", STEP_LIMIT_MS)) throw std::runtime_error("einstein-sim did not start");
        std::string out = process_.output();
        std::size_t at = out.find("line on ") + 8;
        line_ = out.substr(at, out.find('\n', at) - at);
    }
    const std::string& line() const { return line_; }
    ChildProcess& process() { return process_; }
    // The Einstein's screen: the last state of every line it showed.
    std::vector<std::string> screen()
    {
        std::vector<std::string> lines;
        std::istringstream in(process_.output());
        std::string raw;
        while (std::getline(in, raw)) {
            std::size_t at = raw.rfind("Einstein| ");
            if (at == std::string::npos) continue;
            std::string text = raw.substr(at + 10);
            while (!text.empty() && (text.back() == ' ' || text.back() == '\r')) text.pop_back();
            lines.push_back(text);
        }
        return lines;
    }
    bool shows(const std::string& line)
    {
        for (const auto& l : screen())
            if (l == line) return true;
        return false;
    }
    bool wait_for_screen(const std::string& text, int timeout_ms = STEP_LIMIT_MS)
    {
        return process_.wait_for_output("Einstein| " + text, timeout_ms);
    }
    const std::string& saved_path() const { return disk_path_; }
    // Opens the saved disk with TOBRIN's own reader.
    DiscImage* saved_disk()
    {
        StdoutCapture quiet;
        return image_open_file(disk_path_.c_str());
    }

private:
    std::vector<std::string> with_save(std::vector<std::string> args)
    {
        args.push_back("--save");
        args.push_back(disk_path_);
        return args;
    }
    std::string disk_path_;
    ChildProcess process_;
    std::string line_;
};

// tobrin with its console on a terminal; under wine (the Windows stage)
// keys come through a pipe that stays open.
ChildProcess* start_tobrin(VirtualEinstein& einstein, const std::vector<std::string>& args)
{
    TobrinLaunch launch = tobrin_launch(args, einstein.line());
    return new ChildProcess(launch.program, launch.args, launch.env, "",
                            tobrin_under_wine() ? ChildProcess::Console::OpenPipe : ChildProcess::Console::Terminal);
}

// Waits for a question and for the prompt after it, then types the key, as
// a user who reads before typing: a key typed before the prompt shows may
// meet a terminal not yet set to single keys, which echoes it.
void answer(ChildProcess& tobrin, const std::string& question, const std::string& key)
{
    auto prompt_shown = [&] {
        std::string out = tobrin.output();
        std::size_t at = out.find(question);
        return at != std::string::npos && out.find(PROMPT.substr(0, 40), at) != std::string::npos;
    };
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(STEP_LIMIT_MS);
    while (!prompt_shown() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(prompt_shown()) << tobrin.output();
    tobrin.type(key);
}

// Types the loader confirmations, waits for the program to wait, confirms
// the format.
void confirm_all(ChildProcess& tobrin, VirtualEinstein& einstein, bool with_loader = true)
{
    ASSERT_TRUE(tobrin.wait_for_output(PROMPT.substr(0, 40), STEP_LIMIT_MS));
    if (with_loader) tobrin.type("YYY");
    ASSERT_TRUE(einstein.wait_for_screen("[ Waiting to proceed"));
    answer(tobrin, "WARNING: About to format", "y");
}

// The same for -read: the loader confirmations, then the question before
// reading.
void confirm_read(ChildProcess& tobrin, VirtualEinstein& einstein)
{
    ASSERT_TRUE(tobrin.wait_for_output(PROMPT.substr(0, 40), STEP_LIMIT_MS));
    tobrin.type("YYY");
    ASSERT_TRUE(einstein.wait_for_screen("[ Waiting to proceed"));
    answer(tobrin, "About to read the disk", "Y");
}

// Compares every sector of two images, cylinder by cylinder, as TOBRIN reads them.
void expect_same_sectors(DiscImage* written, DiscImage* source, int cylinders, int spc)
{
    ASSERT_NE(written, nullptr);
    ASSERT_NE(source, nullptr);
    DiscImageOwner written_owner(written), source_owner(source);
    std::vector<std::pair<Bytes, Bytes>> sectors;  // written, source
    StdoutCapture quiet;  // (a failure goes to standard output: they are judged after it)
    for (int c = 0; c < cylinders; ++c) {
        image_load_track(written);
        image_load_track(source);
        for (int i = 0; i < spc; ++i)
            sectors.emplace_back(Bytes(image_find_sector(written, c, i), image_find_sector(written, c, i) + 512),
                                 Bytes(image_find_sector(source, c, i), image_find_sector(source, c, i) + 512));
    }
    std::string warnings = quiet.finish();
    EXPECT_EQ(warnings, "");
    for (std::size_t k = 0; k < sectors.size(); ++k)
        ASSERT_EQ(sectors[k].first, sectors[k].second)
            << "cylinder " << k / static_cast<std::size_t>(spc) << " index " << k % static_cast<std::size_t>(spc);
}

// Side 1 of every cylinder formatted and blank: IDs 10-19 of E5h bytes
// (a one-sided image on a two-sided drive).
void expect_blank_side_one(DiscImage* written, int cylinders)
{
    ASSERT_NE(written, nullptr);
    DiscImageOwner owner(written);
    std::vector<Bytes> side_one;
    StdoutCapture quiet;  // (the failures below go to standard output: they are judged after it)
    for (int c = 0; c < cylinders; ++c) {
        image_load_track(written);
        for (int i = 10; i < 20; ++i)
            side_one.emplace_back(image_find_sector(written, c, i), image_find_sector(written, c, i) + 512);
    }
    std::string warnings = quiet.finish();
    EXPECT_EQ(warnings, "") << "every sector of side 1 is there";
    for (std::size_t k = 0; k < side_one.size(); ++k)
        ASSERT_EQ(side_one[k], Bytes(512, 0xE5)) << "cylinder " << k / 10 << " index " << 10 + k % 10;
}

TEST(EndToEnd, TheBuiltInImageOnAOneSided40TrackDriveBoots)
{
    VirtualEinstein einstein({"--boot"});
    std::unique_ptr<ChildProcess> tobrin(start_tobrin(einstein, {"1"}));
    confirm_all(*tobrin, einstein);
    ASSERT_EQ(tobrin->wait(RUN_LIMIT_MS), 0);
    ASSERT_EQ(einstein.process().wait(SIM_END_MS), 0);

    EXPECT_EQ(program_text(tobrin->output()), BANNER + ALL_LOADER_STEPS + WARNING + PROMPT + FORMATTING +
                                                  "2) Sending standard disk image, please wait\n" +
                                                  progress_labels(400, 10) + DONE);
    for (const std::string& line : {EINSTEIN_BANNER, std::string("] Formatting"), std::string("] Writing disk image"),
                             std::string("[ Transfer successful reboot Einstein.")})
        EXPECT_TRUE(einstein.shows(line)) << line;
    // The written disk boots into the program, as the typed loader started it.
    std::vector<std::string> screen = einstein.screen();
    auto booted = std::find(screen.begin(), screen.end(), "[ Transfer successful reboot Einstein.");
    ASSERT_NE(booted, screen.end());
    EXPECT_NE(std::find(booted, screen.end(), EINSTEIN_BANNER), screen.end());
    std::string figures = einstein.process().output();
    std::printf("%s\n", figures.substr(figures.find("einstein-sim: emulated")).c_str());
    EXPECT_NE(figures.find("lost data 0"), std::string::npos);
    EXPECT_EQ(figures.find("stores into the monitor"), std::string::npos);
    expect_same_sectors(einstein.saved_disk(), image_open_memory(default_image, default_image_length), 40, 10);
}

TEST(EndToEnd, TheTobrinDiskBootsAndWritesTheNextDisksWithoutTheLoader)
{
    // The TOBRIN boot disk, as `tobrin 1` writes it ...
    std::string boot_disk;
    {
        VirtualEinstein einstein({});
        std::unique_ptr<ChildProcess> tobrin(start_tobrin(einstein, {"1"}));
        confirm_all(*tobrin, einstein);
        ASSERT_EQ(tobrin->wait(RUN_LIMIT_MS), 0);
        ASSERT_EQ(einstein.process().wait(SIM_END_MS), 0);
        boot_disk = einstein.saved_path();
    }
    // ... boots another Einstein into the program: no loader typed.
    VirtualEinstein einstein({"--disk", boot_disk, "--boot-disk"});
    ASSERT_TRUE(einstein.wait_for_screen("[ Waiting to proceed"));
    EXPECT_TRUE(einstein.shows(EINSTEIN_BANNER));
    // Out with it, in with a blank disk: a second disk from the same boot,
    // and the program waits again instead of restarting the machine.
    einstein.process().type("swap\n");
    std::unique_ptr<ChildProcess> second(start_tobrin(einstein, {"1", "-notrans"}));
    confirm_all(*second, einstein, false);
    ASSERT_EQ(second->wait(RUN_LIMIT_MS), 0);
    EXPECT_NE(program_text(second->output()).find(DONE), std::string::npos) << second->output();
    // (The Einstein's screen may show the waiting line a moment after
    // tobrin has ended: the emulation goes on at its own pace.)
    ASSERT_TRUE(einstein.process().wait_for_output("Einstein| [ Transfer successful reboot Einstein.", STEP_LIMIT_MS));
    std::string shown = einstein.process().output();
    std::size_t done_at = shown.rfind("Einstein| [ Transfer successful reboot Einstein.");
    bool waits_again = false;
    for (int i = 0; i < STEP_LIMIT_MS / 10 && !waits_again; ++i) {
        waits_again = einstein.process().output().find("Einstein| [ Waiting to proceed", done_at) != std::string::npos;
        if (!waits_again) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(waits_again) << "the program waits for the next disk";
    // A third from the same boot with -fast: the line agreed, and given
    // back at the monitor's rate when the disk is done, so the program
    // waits again as the monitor left the line.
    einstein.process().type("save " + einstein.saved_path() + "\n");
    einstein.process().type("swap\n");
    std::unique_ptr<ChildProcess> third(start_tobrin(einstein, {"1", "-notrans", "-fast"}));
    confirm_all(*third, einstein, false);
    ASSERT_EQ(third->wait(RUN_LIMIT_MS), 0);
    std::string out = program_text(third->output());
    EXPECT_NE(out.find(" * The line runs at 31250 baud\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  + 400 sectors verified, 0 needed a rewrite\n"), std::string::npos) << out;
    // The second disk boots too.
    std::size_t before = einstein.process().output().size();
    einstein.process().type("boot\n");
    bool booted = false;
    for (int i = 0; i < 2000 && !booted; ++i) {
        booted = einstein.process().output().find(EINSTEIN_BANNER, before) != std::string::npos;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(booted) << einstein.process().output().substr(before);
    einstein.process().type("quit\n");
    ASSERT_EQ(einstein.process().wait(SIM_END_MS), 0);
    EXPECT_NE(einstein.process().output().find("the Einstein sends at 9615 baud 8N2 and takes 9615 baud 8N2"),
              std::string::npos);
    expect_same_sectors(einstein.saved_disk(), image_open_memory(default_image, default_image_length), 40, 10);
}

TEST(EndToEnd, FastAgreesTheFastestLineBothEndsCarry)
{
    // -fast tries 31250 baud, then 20833, and stays at 9600 - with one
    // stop bit - when the line carries neither (here an Einstein whose line
    // cannot keep up above a rate); a byte of the second stage damaged on
    // the line costs a pass of its block, and a byte of a compressed sector
    // is never taken (the first block's form: after "S" and "T", the
    // stage's blocks and their checksums, the rate's 3 bytes and its
    // 32-byte probe, "X" and the two words on its status bytes, 3 geometry
    // bytes, the batch byte with its place's 3, the header of the stream
    // of the batch's rest and the block's 5 header bytes); the built-in disk's blank last batch goes first; at the pace of
    // the machine the second stage's first try runs into the program's last
    // bytes (the pseudo-terminal reports them gone at once) and goes again;
    // on a two-sided drive the one-sided image's blank side 1 is formatted
    // too (each side is formatted as it is written); a drive that is not
    // ready at the first check (-fast checks a usable one once) is checked
    // again.  Every run writes the disk compressed, verified.
    const std::string first_form_byte = std::to_string(target_stage_two_size + 61 + 2 * (rest_pieces - 1));
    // (The built-in image is made for a one-sided drive: TOBRIN writes the
    // drive's own flags into its boot sector, so a two-sided drive gets an
    // image file.)
    const std::string one_sided = write_temp_file(extended_image(40, 1), "one-sided.dsk");
    struct Case {
        std::vector<std::string> einstein;
        std::string line;
        std::string image = "";  // the built-in one when empty
    } cases[] = {
        {{"--change-byte", "5"}, " * The line runs at 31250 baud\n"},
        {{"--change-byte", first_form_byte}, " * The line runs at 31250 baud\n", one_sided},
        // The probe's echo damaged (the Einstein's bytes: the checksum of
        // the stage's first part and its "S", "F", the echo; the second
        // part goes at the rate agreed): the Einstein stays at 31250 while
        // the PC saw the switch fail; the PC finds it there, brings it back
        // to 9600, and the next rate goes through.
        {{"--change-byte-from-einstein", "3"}, " * The line runs at 20833 baud\n"},
        {{"--pace", "real"}, " * The line runs at 31250 baud\n"},
        {{"--max-baud", "25000"}, " * The line runs at 20833 baud\n"},
        {{"--max-baud", "9700"},
         " * The line stays at 9600 baud, with one stop bit: the line did not carry 31250 baud; the line did not carry "
         "20833 baud\n"},
        {{"--sides", "2"}, " * The line runs at 31250 baud\n", one_sided},
        // A PC late with every byte (a busy machine, a hub): what it was
        // granted is still coming in when the side is read back, and comes
        // in before the blank side 1 is laid down, not into an 8251 that
        // nobody reads.
        {{"--sides", "2", "--pc-late", "60"}, " * The line runs at 31250 baud\n", one_sided},
        {{"--fail-first-check"}, " * The line runs at 31250 baud\n"},
    };
    for (const Case& c : cases) {
        VirtualEinstein einstein(c.einstein);
        std::vector<std::string> arguments = {"1"};
        if (!c.image.empty()) arguments.push_back(c.image);
        arguments.push_back("-fast");
        std::unique_ptr<ChildProcess> tobrin(start_tobrin(einstein, arguments));
        confirm_all(*tobrin, einstein);
        ASSERT_EQ(tobrin->wait(RUN_LIMIT_MS), 0) << c.line;
        ASSERT_EQ(einstein.process().wait(SIM_END_MS), 0);
        std::string out = program_text(tobrin->output());
        EXPECT_NE(out.find(c.line), std::string::npos) << out;
        EXPECT_NE(out.find("  + 400 sectors verified, 0 needed a rewrite\n"), std::string::npos) << out;
        EXPECT_NE(out.find("  + 204800 bytes of sectors went as "), std::string::npos) << out;
        // The next batch's blocks come while the disk works, without a byte
        // lost in the 8251 or a data request missed.
        std::string figures = einstein.process().output();
        if (c.einstein.back() == first_form_byte) {
            EXPECT_NE(figures.find("changed 1 to the Einstein, 0 to the PC;"), std::string::npos) << figures;
            EXPECT_NE(figures.find("blocks taken in with a changed byte 0 "), std::string::npos) << figures;
        }
        EXPECT_NE(figures.find("lost data 0\n"), std::string::npos) << figures;
        EXPECT_NE(figures.find(", overruns 0\n"), std::string::npos) << figures;
        std::size_t together = figures.find("line and disk together: ");
        ASSERT_NE(together, std::string::npos) << figures;
        EXPECT_GT(std::atoll(figures.c_str() + together + 24), 0) << figures;
        // The progress line counts the sectors written, from none to the
        // whole disk, and the time left falls as they are.
        EXPECT_NE(out.find("\r - WRITE 0: 0 of 400 sectors (0%)  --- KB/s, --:-- left"), std::string::npos) << out;
        EXPECT_NE(out.find("\r - WRITE 0: 400 of 400 sectors (100%)  "), std::string::npos) << out;
        EXPECT_NE(out.find(" KB/s, 0:00 left"), std::string::npos) << out;
        int last_done = -1, lines = 0;
        for (std::size_t at = out.find("WRITE 0: "); at != std::string::npos; at = out.find("WRITE 0: ", at + 1)) {
            int done = std::atoi(out.c_str() + at + 9);
            EXPECT_GE(done, last_done) << out.substr(at, 60);
            last_done = done;
            ++lines;
        }
        EXPECT_EQ(last_done, 400);
        EXPECT_GE(lines, 40) << "at least once a track side";
        if (c.image.empty()) {
            expect_same_sectors(einstein.saved_disk(), image_open_memory(default_image, default_image_length), 40, 10);
        } else {
            StdoutCapture quiet;
            DiscImage* source = image_open_file(c.image.c_str());
            quiet.finish();
            expect_same_sectors(einstein.saved_disk(), source, 40, 10);
            if (c.einstein.front() == "--sides") expect_blank_side_one(einstein.saved_disk(), 40);
        }
    }
}

// The adapters people have: one that goes on sending a few bytes after
// the Einstein drops RTS, a 16550 that empties its FIFO, one that ignores
// CTS altogether, one that makes another rate than the one set.  Every
// mode writes the disk as the image, without a byte overrun in the 8251.
TEST(EndToEnd, AdaptersThatStopLateAtCtsOrNeverStillWriteTheImage)
{
    struct Case {
        std::vector<std::string> adapter;  // einstein-sim's options
        std::vector<std::string> options;  // tobrin's, after the port
        std::string shown;                 // what the console shows
    } cases[] = {
        {{"--cts-lag", "2"}, {}, DONE},
        {{"--adapter", "16550-fifo"}, {"-verify"}, "  + 400 sectors verified, 0 needed a rewrite\n"},
        {{"--adapter", "ch340-linux"}, {"-fast"}, " * The line runs at 31250 baud\n"},
        // 31250 and 20833 asked, 38400 and 28800 made, 31250 and 20833 read
        // back: neither probe gets across.
        {{"--adapter", "cp2102"}, {"-fast"}, " * The line stays at 9600 baud, with one stop bit: the line did not carry"},
    };
    for (const Case& c : cases) {
        VirtualEinstein einstein(c.adapter);
        std::vector<std::string> arguments = {"1"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        std::unique_ptr<ChildProcess> tobrin(start_tobrin(einstein, arguments));
        confirm_all(*tobrin, einstein);
        ASSERT_EQ(tobrin->wait(RUN_LIMIT_MS), 0) << c.shown;
        ASSERT_EQ(einstein.process().wait(SIM_END_MS), 0);
        std::string out = program_text(tobrin->output());
        EXPECT_NE(out.find(c.shown), std::string::npos) << out;
        EXPECT_EQ(out.find("Line fault"), std::string::npos) << out;
        std::string figures = einstein.process().output();
        EXPECT_NE(figures.find(", overruns 0\n"), std::string::npos) << figures;
        expect_same_sectors(einstein.saved_disk(), image_open_memory(default_image, default_image_length), 40, 10);
    }
}

// An adapter that gives another rate than the one asked for, without a
// word: under wine the Windows port is a pseudo-terminal behind wine's
// serial layer, which turns 31250 and 20833 into the nearest standard rate
// (the Windows stage of the test command runs this).  The line stays at
// 9600 baud, with one stop bit, and says why; the sectors still go
// compressed and verified.
TEST(EndToEnd, AnAdapterThatRoundsTheRateKeepsTheLineAt9600)
{
    if (!tobrin_under_wine()) GTEST_SKIP() << "a pseudo-terminal takes any rate: run under wine";
    VirtualEinstein einstein({});
    std::unique_ptr<ChildProcess> tobrin(start_tobrin(einstein, {"1", "-fast"}));
    confirm_all(*tobrin, einstein);
    ASSERT_EQ(tobrin->wait(RUN_LIMIT_MS), 0);
    ASSERT_EQ(einstein.process().wait(SIM_END_MS), 0);
    std::string out = program_text(tobrin->output());
    EXPECT_NE(out.find(" * The line stays at 9600 baud, with one stop bit: the adapter makes "), std::string::npos) << out;
    EXPECT_NE(out.find(" baud when asked for 31250; the adapter makes "), std::string::npos) << out;
    EXPECT_NE(out.find("  + 204800 bytes of sectors went as "), std::string::npos) << out;
    EXPECT_NE(out.find("  + 400 sectors verified, 0 needed a rewrite\n"), std::string::npos) << out;
    EXPECT_NE(einstein.process().output().find("the Einstein sends at 9615 baud 8N1"), std::string::npos);
    expect_same_sectors(einstein.saved_disk(), image_open_memory(default_image, default_image_length), 40, 10);
}

TEST(EndToEnd, AnExtendedImageOnATwoSided80TrackDrive)
{
    const int tracks = UNDER_SANITIZERS ? 40 : 80;  // the lighter form: a two-sided 40-track drive
    std::string path = write_temp_file(extended_image(tracks, 2, 10), "einstein-ds80.dsk");
    VirtualEinstein einstein({"--tracks", std::to_string(tracks), "--sides", "2"});
    std::unique_ptr<ChildProcess> tobrin(start_tobrin(einstein, {"1", path}));
    confirm_all(*tobrin, einstein);
    ASSERT_EQ(tobrin->wait(RUN_LIMIT_MS), 0);
    ASSERT_EQ(einstein.process().wait(SIM_END_MS), 0);
    std::string out = program_text(tobrin->output());
    std::string head = BANNER + ALL_LOADER_STEPS + WARNING + PROMPT + FORMATTING + "2) Sending disk image " + path +
                       ", please wait.\n + Disc image " + std::to_string(tracks) +
                       " track, double sided (extended .DSK format)\n";
    EXPECT_EQ(out, head + progress_labels(tracks * 20, 20) + DONE);
    StdoutCapture quiet;
    DiscImage* source = image_open_file(path.c_str());
    quiet.finish();
    expect_same_sectors(einstein.saved_disk(), source, tracks, 20);
}

TEST(EndToEnd, ARawDumpOfBothSides)
{
    // The lighter form: the dump on a two-sided 40-track drive, which takes
    // its first 40 cylinders (both sides of each, as the dump alternates).
    const int tracks = UNDER_SANITIZERS ? 40 : 80;
    std::string path = write_temp_file(raw_dump(160), "dump.img");
    VirtualEinstein einstein({"--tracks", std::to_string(tracks), "--sides", "2"});
    std::unique_ptr<ChildProcess> tobrin(start_tobrin(einstein, {"1", path}));
    confirm_all(*tobrin, einstein);
    ASSERT_EQ(tobrin->wait(RUN_LIMIT_MS), 0);
    ASSERT_EQ(einstein.process().wait(SIM_END_MS), 0);
    EXPECT_NE(program_text(tobrin->output()).find(" + Disc image 80 track, double sided (RAW disc dump)\n"),
              std::string::npos);
    StdoutCapture quiet;
    DiscImage* source = image_open_file(path.c_str());
    quiet.finish();
    // The raw dump's side 1 sectors carry IDs 0-9 in its synthesized blocks;
    // on the disk they are 10-19: the reader finds both.
    expect_same_sectors(einstein.saved_disk(), source, tracks, 20);
}

TEST(EndToEnd, ImagesAsUsersBringThemAreWrittenSectorForSector)
{
    // A standard DSK image with its sectors stored interleaved, the port
    // named by its path; an image removed while the disk is formatted (it
    // was read once, before the loader); an image of 82 tracks on an
    // 80-track drive (written as far as the drive goes: no line fault); an
    // Einstein whose emulation stalls now and then, after many fast
    // answers (each stall makes one answer merely late: no pad, no line
    // fault).
    std::array<int, 10> interleaved = {0, 5, 1, 6, 2, 7, 3, 8, 4, 9};
    struct Case {
        Bytes image;
        std::vector<std::string> drive;
        bool port_as_path;
        bool remove_during_format;
        std::string line;  // a line the console must show
        int cylinders;
    } cases[] = {
        {standard_image(40, 1, interleaved), {}, true, false,
         " + Disc image 40 track, single sided (standard .DSK format)\n", 40},
        {extended_image(40, 1), {}, false, true, " + Disc image 40 track, single sided (extended .DSK format)\n", 40},
        {extended_image(82, 1), {"--tracks", "80"}, false, false,
         "  + The image is larger than the drive (80 tracks): 2 tracks left out\n", 80},
        {extended_image(40, 1), {"--pace", "varying", "--seed", "1"}, false, false,
         " + Disc image 40 track, single sided (extended .DSK format)\n", 40},
    };
    for (const auto& c : cases) {
        std::string path = write_temp_file(c.image, "brought.dsk");
        std::string kept = write_temp_file(c.image, "kept.dsk");
        VirtualEinstein einstein(c.drive);
        std::unique_ptr<ChildProcess> tobrin(
            start_tobrin(einstein, {c.port_as_path ? einstein.line() : std::string("1"), path}));
        confirm_all(*tobrin, einstein);
        if (c.remove_during_format) {
            ASSERT_TRUE(tobrin->wait_for_output("1) Formatting", STEP_LIMIT_MS));
            std::remove(path.c_str());
        }
        ASSERT_EQ(tobrin->wait(RUN_LIMIT_MS), 0) << c.line;
        ASSERT_EQ(einstein.process().wait(SIM_END_MS), 0);
        std::string out = program_text(tobrin->output());
        EXPECT_NE(out.find(c.line), std::string::npos) << out;
        EXPECT_EQ(out.find("Line fault"), std::string::npos) << out;
        StdoutCapture quiet;
        DiscImage* source = image_open_file(kept.c_str());
        quiet.finish();
        expect_same_sectors(einstein.saved_disk(), source, c.cylinders, 10);
    }
}

TEST(EndToEnd, AWriteProtectedDiskThenTheRestWithoutSendingTheProgramAgain)
{
    VirtualEinstein einstein({"--write-protect"});
    std::unique_ptr<ChildProcess> first(start_tobrin(einstein, {"1"}));
    confirm_all(*first, einstein);
    ASSERT_EQ(first->wait(RUN_LIMIT_MS), 2);
    EXPECT_EQ(program_text(first->output()),
              BANNER + ALL_LOADER_STEPS + WARNING + PROMPT + FORMATTING + FORMAT_FAILED);
    EXPECT_FALSE(einstein.shows("] Writing disk image"));

    einstein.process().type("unprotect\n");
    std::unique_ptr<ChildProcess> second(start_tobrin(einstein, {"1", "-notrans"}));
    answer(*second, "WARNING: About to format", "Y");
    ASSERT_EQ(second->wait(RUN_LIMIT_MS), 0);
    EXPECT_EQ(program_text(second->output()), BANNER + WARNING + PROMPT + FORMATTING +
                                                  "2) Sending standard disk image, please wait\n" +
                                                  progress_labels(400, 10) + DONE);
    ASSERT_EQ(einstein.process().wait(SIM_END_MS), 0);
    expect_same_sectors(einstein.saved_disk(), image_open_memory(default_image, default_image_length), 40, 10);
}

TEST(EndToEnd, WhenThePcStopsMidTransferTheEinsteinTimesOutAndWaitsAgain)
{
    std::string path = write_temp_file(extended_image(40, 1), "varied.dsk");
    VirtualEinstein einstein({});
    std::unique_ptr<ChildProcess> tobrin(start_tobrin(einstein, {"1", path}));
    confirm_all(*tobrin, einstein);
    ASSERT_TRUE(tobrin->wait_for_output("Track 01 Sector 05", 120000));
    tobrin->send_signal(SIGKILL);
    tobrin->wait();
    ASSERT_TRUE(einstein.wait_for_screen("---- RESET ----"));
    ASSERT_TRUE(einstein.process().wait_for_output("Einstein| [ Waiting to proceed", STEP_LIMIT_MS));
    // " - TIMEOUT!" follows the progress line, wrapping at the screen's 40 columns.
    std::vector<std::string> screen = einstein.screen();
    bool timeout_after_progress = false;
    for (std::size_t i = 0; i + 1 < screen.size(); ++i)
        if (screen[i].find(" - Write 0: Track") == 0 && (screen[i] + screen[i + 1]).find(" - TIMEOUT!") != std::string::npos)
            timeout_after_progress = true;
    EXPECT_TRUE(timeout_after_progress) << einstein.process().output();
    // A new format can start: -notrans finishes the job.
    std::unique_ptr<ChildProcess> again(start_tobrin(einstein, {"1", path, "-notrans"}));
    answer(*again, "WARNING: About to format", "Y");
    ASSERT_EQ(again->wait(RUN_LIMIT_MS), 0);
    EXPECT_NE(program_text(again->output()).find(DONE), std::string::npos) << again->output() << einstein.process().output();
    ASSERT_EQ(einstein.process().wait(SIM_END_MS), 0);
}

TEST(EndToEnd, KeysAllTypedAheadStillFormatAndWrite)
{
    // Four Y at once, through an adapter that stops three bytes late at
    // CTS: the format command must not be lost while the program starts.
    VirtualEinstein einstein({"--adapter", "ftdi"});
    TobrinLaunch launch = tobrin_launch({"1"}, einstein.line());
    ChildProcess tobrin(launch.program, launch.args, launch.env, "YYYY");
    ASSERT_EQ(tobrin.wait(RUN_LIMIT_MS), 0);
    ASSERT_EQ(einstein.process().wait(SIM_END_MS), 0);
    EXPECT_NE(program_text(tobrin.output()).find(DONE), std::string::npos) << tobrin.output();
    expect_same_sectors(einstein.saved_disk(), image_open_memory(default_image, default_image_length), 40, 10);
}

TEST(EndToEnd, ASingleFaultOnTheLineIsRecoveredAndTheDiskIsTheImage)
{
    const std::string image_ds = write_temp_file(extended_image(40, 2, 10), "two-sided.dsk");
    const std::string builtin_disk = write_temp_file(Bytes(default_image, default_image + default_image_length), "builtin.dsk");
    const std::string resumed = "): resuming at track 00 sector 00, try 1 of 5\n";
    const std::string one_fault = "\n  + 1 line fault recovered (";
    struct Case {
        std::vector<std::string> fault;    // einstein-sim's options
        std::vector<std::string> options;  // tobrin's, after the port
        const char* what;
        std::vector<std::string> shown;    // what the console shows
        bool resumed;                      // the write resumed (not formatted again)
        const std::string* image;          // the image written, or null: the built-in disk
    } cases[] = {
        // The PC's byte 2576 is the fill value of sector 5 (after the format
        // command, the geometry, the batch byte and sectors 0-4 in full):
        // the Einstein takes the next sector's marker for it and loses step.
        {{"--drop-byte", "2576"}, {}, "a lost fill value", {resumed, one_fault}, true, nullptr},
        // Byte 518 is the PC's checksum of the boot sector: the Einstein
        // disagrees while the PC has moved on - they must not repeat the
        // block for ever.
        {{"--change-byte", "518"}, {}, "a damaged checksum", {resumed, one_fault}, true, nullptr},
        // Byte 2602 after the second stage's first part ("S", its block and
        // checksum) is the fill value of sector 18, which has no checksum: the
        // Einstein writes the wrong value, its rewrites cannot mend it, and
        // only the PC sending the batch again can.
        {{"--change-byte", std::to_string(3 + target_stage_two_first_size + 2602)}, {"-verify"}, "a damaged fill value, verified",
         {resumed, one_fault}, true, nullptr},
        // The Einstein's third byte is the drive flags byte (after the two
        // format status bytes): lost, the resume brings it, and the
        // two-sided image is fitted to the one-sided drive before a batch
        // goes out - the resume that went with both sides is given up, and
        // the next one has one.
        {{"--drop-byte-from-einstein", "2"}, {image_ds}, "a lost drive flags byte",
         {resumed, "  + The image is larger than the drive (one side): side 1 left out\n"}, true, &image_ds},
        // -fast: the PC's checksum of the second stage's first block,
        // damaged: the Einstein waits for another pass and never says it
        // took the stage, which goes again once it is back in its command
        // loop.
        {{"--change-at", "stage-checksum"}, {"-fast"}, "a damaged second stage",
         {" * The line runs at 31250 baud\n"}, false, nullptr},
        // -fast: the first format status byte, damaged: the checked format
        // has it again.
        {{"--change-at", "format-status"}, {"-fast"}, "a damaged format status", {"2) Sending standard disk image"},
         false, nullptr},
        // -fast: the drive flags byte, damaged to name an 80-track drive:
        // the blank batch that goes first is that drive's last, which the
        // Einstein does not take; the resume brings the flags, and the batch
        // past the drive's end is dropped.
        {{"--change-at", "drive-flags"}, {"-fast"}, "a damaged drive flags byte, -fast",
         {"): resuming at track 76 sector 00, try 1 of 5\n", one_fault}, true, nullptr},
        // -fast: the answer to the stream of the first batch's rest, damaged
        // when the Einstein has the whole batch: the PC sends nothing more
        // of it, the Einstein works, and no resume is needed.
        {{"--change-at", "follow-answer"}, {"-fast"}, "a damaged answer to a follow",
         {"  + 400 sectors verified, 0 needed a rewrite\n"}, false, nullptr},
    };
    for (const auto& c : cases) {
        // Every way the exchange ends (the Einstein runs out of bytes and
        // says so, the checksums disagree too often, a sector reads back
        // wrong) the batch is resumed - without a new format, and with no
        // key.
        VirtualEinstein einstein(c.fault);
        std::vector<std::string> args = {"1"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        std::unique_ptr<ChildProcess> tobrin(start_tobrin(einstein, args));
        confirm_all(*tobrin, einstein);
        ASSERT_EQ(tobrin->wait(RUN_LIMIT_MS), 0) << c.what << "\n" << program_text(tobrin->output());
        ASSERT_EQ(einstein.process().wait(SIM_END_MS), 0);
        std::string out = program_text(tobrin->output());
        for (const std::string& line : c.shown) EXPECT_NE(out.find(line), std::string::npos) << c.what << "\n" << out;
        EXPECT_EQ(out.substr(out.size() - DONE.size()), DONE) << c.what;
        std::string screen = einstein.process().output();
        EXPECT_NE(screen.find("einstein-sim: faults: "), std::string::npos) << c.what << ": the fault was made";
        if (c.fault[0] == "--change-at") {
            EXPECT_NE(screen.find("einstein-sim: the protocol event " + c.fault[1] + " was changed"), std::string::npos)
                << c.what;
        }
        EXPECT_EQ(einstein.shows("] Resuming"), c.resumed) << c.what;
        EXPECT_EQ(screen.find("] Formatting", screen.find("] Formatting") + 1), std::string::npos) << "formatted again";
        if (c.image == nullptr) {
            expect_same_sectors(einstein.saved_disk(), image_open_memory(default_image, default_image_length), 40, 10);
            continue;
        }
        // Side 0 of each of the image's cylinders.
        StdoutCapture quiet;
        DiscImageOwner source(image_open_file(c.image->c_str())), written(einstein.saved_disk());
        ASSERT_TRUE(source && written);
        for (int t = 0; t < 40; ++t) {
            image_load_track(source.get());
            image_load_track(written.get());
            for (int i = 0; i < 10; ++i)
                ASSERT_EQ(Bytes(image_find_sector(written.get(), t, i), image_find_sector(written.get(), t, i) + 512),
                          Bytes(image_find_sector(source.get(), t, i), image_find_sector(source.get(), t, i) + 512))
                    << c.what << ": track " << t << " sector " << i;
        }
    }

    // -read: the value of the blank sector 5's block (the sixth record),
    // damaged: its record's CRC disagrees, and it comes again at once (no
    // recovery) - the image is the disk.
    VirtualEinstein einstein({"--disk", builtin_disk, "--change-at", "record-fill-value:6"});
    std::string copy = write_temp_file({}, "blank-read.dsk");
    std::remove(copy.c_str());
    std::unique_ptr<ChildProcess> tobrin(start_tobrin(einstein, {"1", "-read", copy}));
    confirm_read(*tobrin, einstein);
    ASSERT_EQ(tobrin->wait(RUN_LIMIT_MS), 0) << program_text(tobrin->output());
    einstein.process().type("quit\n");
    ASSERT_EQ(einstein.process().wait(SIM_END_MS), 0);
    EXPECT_NE(einstein.process().output().find("changed 0 to the Einstein, 1 to the PC"), std::string::npos);
    EXPECT_NE(einstein.process().output().find("the protocol event record-fill-value was changed"), std::string::npos);
    EXPECT_EQ(program_text(tobrin->output()).find("Line fault"), std::string::npos) << "the record came again by itself";
    StdoutCapture quiet;
    DiscImage* read_back = image_open_file(copy.c_str());
    quiet.finish();
    expect_same_sectors(read_back, image_open_memory(default_image, default_image_length), 40, 10);
}

TEST(EndToEnd, ABadAreaIsWaitedOutAndNamedNotTakenForAGoneEinstein)
{
    // A sector of track 38 that never takes a write, at the machine's pace
    // from the last batch on (the rest of the run fast): the monitor tries
    // it ten times, restoring between the tries, for longer than a healthy
    // batch takes.  TOBRIN asks whether the Einstein still works, waits
    // while it does, and names the sector at the end - it never takes the
    // long silence for an Einstein that is gone.
    VirtualEinstein einstein({"--fail-write", "38:3", "--real-from", "40"});
    std::unique_ptr<ChildProcess> tobrin(start_tobrin(einstein, {"1"}));
    confirm_all(*tobrin, einstein);
    ASSERT_EQ(tobrin->wait(RUN_LIMIT_MS), 2);
    std::string out = program_text(tobrin->output());
    EXPECT_NE(out.find("\n  + The Einstein is still writing this batch (a sector is being tried again; its screen shows "
                       "which): waiting while it works\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\n  + Track 38 side 0: sector 03: sector not found\n*** TOBRIN HALTED ***\n"
                       "Einstein Error -> 1 sector(s) could not be written\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("stopped answering"), std::string::npos) << out;
    EXPECT_EQ(out.find("Line fault"), std::string::npos) << out;
    ASSERT_EQ(einstein.process().wait(SIM_END_MS), 0);
}

TEST(EndToEnd, VerifyRewritesAWeakSectorAndNamesABadOne)
{
    // Track 3 sector 7 does not keep its first write; track 5 sector 2 can
    // never be read back.  Track 5's bytes are 7-bit (text holds no F5h-F7h):
    // with -fast the Write Track that formats the side lays them down, the
    // others (every byte value) are written after it.
    Bytes image = extended_image(40, 1);
    const std::size_t track_5 = 256 + 5 * (256 + 10 * 512) + 256;  // its first sector's bytes
    for (std::size_t i = track_5; i < track_5 + 10 * 512; ++i) image[i] &= 0x7F;
    std::string path = write_temp_file(image, "verified.dsk");
    for (const char* option : {"-verify", "-fast"}) {
        VirtualEinstein einstein({"--weak-sector", "3:7", "--bad-read", "5:2"});
        std::unique_ptr<ChildProcess> tobrin(start_tobrin(einstein, {"1", path, option}));
        confirm_all(*tobrin, einstein);
        ASSERT_EQ(tobrin->wait(RUN_LIMIT_MS), 2) << option;
        ASSERT_EQ(einstein.process().wait(SIM_END_MS), 0);
        std::string out = program_text(tobrin->output());
        // (-fast's progress line counts the sectors written, with the rate
        // and the time left.)
        const std::string last_sector = std::string(option) == "-verify" ? "\r - WRITE 0: Track 39 Sector 09\n" : "";
        const std::string tail = last_sector + "  + 399 sectors verified, 1 needed a rewrite\n"
                                 "  + Track 05 side 0: sector 02: read error\n"
                                 "*** TOBRIN HALTED ***\nEinstein Error -> 1 sector(s) could not be written\n"
                                 "*** TOBRIN HALTED ***\nEinstein Error -> Disk image transfer failed.\n";
        ASSERT_GT(out.size(), tail.size());
        EXPECT_EQ(out.substr(out.size() - tail.size()), tail) << option;
        const std::string last_shown = std::string(option) == "-verify" ? "\r - WRITE 0: Track 39 Sector 09"
                                                                        : "\r - WRITE 0: 400 of 400 sectors (100%)";
        EXPECT_NE(out.find(last_shown), std::string::npos) << out;
        StdoutCapture quiet;
        DiscImage* source = image_open_file(path.c_str());
        quiet.finish();
        expect_same_sectors(einstein.saved_disk(), source, 40, 10);  // the weak sector holds its data now
    }
}

TEST(EndToEnd, AWrittenDiskReadsBackIntoTheSameImage)
{
    // Written by TOBRIN on one virtual Einstein ...
    std::string path = write_temp_file(extended_image(40, 1), "original.dsk");
    std::string written;
    {
        VirtualEinstein einstein({});
        std::unique_ptr<ChildProcess> tobrin(start_tobrin(einstein, {"1", path}));
        confirm_all(*tobrin, einstein);
        ASSERT_EQ(tobrin->wait(RUN_LIMIT_MS), 0);
        ASSERT_EQ(einstein.process().wait(SIM_END_MS), 0);
        written = einstein.saved_path();
    }
    // ... and read back on another, through the typed loader, with the
    // PC's answer to the first sector's checksum damaged on the line: the
    // Einstein sends that block again while the PC waits for the next
    // sector, whose position tells that the stream is out of step, and the
    // read goes on from it through the same recovery as the write (once:
    // a byte of the time-out notice's value among the data sent again is not
    // taken for the notice).
    std::string copy = write_temp_file({}, "copy.dsk");
    std::remove(copy.c_str());
    VirtualEinstein einstein(
        {"--disk", written, "--change-at", "record-answer"});
    std::unique_ptr<ChildProcess> tobrin(start_tobrin(einstein, {"1", "-read", copy}));
    confirm_read(*tobrin, einstein);
    ASSERT_EQ(tobrin->wait(RUN_LIMIT_MS), 0);
    std::string out = program_text(tobrin->output());
    EXPECT_NE(out.find("1) Reading disk, please wait.\n\r - READ 0: Track 00 Sector 00"), std::string::npos) << out;
    // (How many tries the recovery takes depends on how fast the host runs
    // the emulation: the run's success says they stayed within their bound.)
    EXPECT_NE(out.find("): reading on from track 00 sector 01, try 1 of 5\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\r - READ 0: Track 39 Sector 09\n2) Writing image " + copy + "\n\nDisk read into " + copy +
                       " (40 tracks, single sided).\n"),
              std::string::npos)
        << out;
    StdoutCapture quiet;
    DiscImage* read_back = image_open_file(copy.c_str());
    DiscImage* source = image_open_file(path.c_str());
    quiet.finish();
    expect_same_sectors(read_back, source, 40, 10);
    // libdsk takes it too: its dsktrans turns it into the raw dump of the
    // same sectors (with the Einstein's geometry given as a format).
    std::string home = write_temp_file({}, "libdsk-home");
    std::remove(home.c_str());
    std::filesystem::create_directory(home);
    std::FILE* rc = std::fopen((home + "/.libdskrc").c_str(), "w");
    ASSERT_NE(rc, nullptr);
    std::fputs("[einstein]\ndescription = Einstein 40 track single sided\nsides = alt\ncylinders = 40\n"
               "heads = 1\nsecsize = 512\nsectors = 10\nsecbase = 0\ndatarate = DD\n",
               rc);
    std::fclose(rc);
    std::string raw = home + "/copy.raw";
    ChildProcess dsktrans("/usr/bin/dsktrans", {"-format", "einstein", "-otype", "raw", copy, raw}, {{"HOME", home}}, "");
    ASSERT_EQ(dsktrans.wait(STEP_LIMIT_MS), 0) << dsktrans.output();
    std::FILE* f = std::fopen(raw.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    Bytes raw_bytes(204800 + 1);
    raw_bytes.resize(std::fread(raw_bytes.data(), 1, raw_bytes.size(), f));
    std::fclose(f);
    Bytes expected;
    for (int n = 0; n < 400; ++n) {
        Bytes sector = sector_pattern(n / 10, 0, n % 10);
        expected.insert(expected.end(), sector.begin(), sector.end());
    }
    EXPECT_EQ(raw_bytes, expected);
}

TEST(EndToEnd, AReadThatFailsEndsWithStatusTwoAndLeavesNoFile)
{
    std::string copy = write_temp_file({}, "never.dsk");
    std::remove(copy.c_str());
    VirtualEinstein einstein({"--no-disk"});
    std::unique_ptr<ChildProcess> tobrin(start_tobrin(einstein, {"1", "-read", copy}));
    confirm_read(*tobrin, einstein);
    ASSERT_EQ(tobrin->wait(RUN_LIMIT_MS), 2);
    std::string out = program_text(tobrin->output());
    EXPECT_NE(out.find("Einstein Error -> Reading the disk has failed; no image was written.\n"), std::string::npos)
        << out;
    EXPECT_FALSE(std::filesystem::exists(copy));
    EXPECT_FALSE(std::filesystem::exists(copy + ".part"));
    einstein.process().send_signal(SIGTERM);
}

TEST(EndToEnd, ATransferThatCannotGoOnEndsTheRunWithItsReason)
{
    struct Case {
        std::vector<std::string> fault;
        const char* reason;
        const char* screen;  // what the Einstein's screen shows at the end
    } cases[] = {
        // The transfer begins at about 22 s; the monitor's prompt comes back.
        {{"--reset-at", "25"}, "Einstein Error -> The Einstein stopped answering at track 00 sector 00", ">"},
        // One byte in a hundred changed: no full block gets through, though
        // the Einstein answers every time.
        {{"--seed", "1", "--corrupt-to-einstein", "0.01", "--corrupt-from-einstein", "0.01"},
         "Einstein Error -> The batch from track 00 sector 00 did not get across after five resumes: the Einstein "
         "answered, but the checksums kept disagreeing. The line is too noisy",
         "] Resuming"},
        // Two bytes in a hundred of the PC's lost: every block comes short,
        // the Einstein times out and takes up each resume.
        {{"--seed", "1", "--drop-to-einstein", "0.02"},
         "Einstein Error -> The batch from track 00 sector 00 did not get across after five resumes: the Einstein "
         "answered each time, but bytes were lost on the line. That is most often an adapter that goes on sending "
         "when the Einstein drops RTS",
         "] Resuming"},
    };
    std::string path = write_temp_file(extended_image(40, 1), "ends.dsk");
    for (const auto& c : cases) {
        VirtualEinstein einstein(c.fault);
        std::unique_ptr<ChildProcess> tobrin(start_tobrin(einstein, {"1", path}));
        confirm_all(*tobrin, einstein);
        ASSERT_EQ(tobrin->wait(RUN_LIMIT_MS), 2) << c.reason;
        std::string out = program_text(tobrin->output());
        EXPECT_NE(out.find(c.reason), std::string::npos) << out;
        const std::string failed = "*** TOBRIN HALTED ***\nEinstein Error -> Disk image transfer failed.\n";
        ASSERT_GT(out.size(), failed.size());
        EXPECT_EQ(out.substr(out.size() - failed.size()), failed);
        EXPECT_TRUE(einstein.shows(c.screen)) << c.reason;
    }
}

}  // namespace
