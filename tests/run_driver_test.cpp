// The real tobrin binary as a user meets it: keys on standard input, a
// scripted Einstein on a pseudo-terminal for the serial line, and the exact
// console transcript and exit status of every way through a run.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "target/program_stages.h"
#include "tests/support/child_process.h"
#include "tests/support/einstein_peer.h"
#include "tests/support/expected_console.h"
#include "tests/support/scripted_peer.h"

namespace {

// The 2048 bytes the loader must receive: the program, then zeros.
Bytes program_block()
{
    Bytes block(target_program_image, target_program_image + target_program_size);
    block.resize(2048, 0);
    return block;
}

struct RunResult {
    int status = -1;
    std::string out;
    std::string peer_error;
};

// Runs tobrin with args and keys while `script` plays the Einstein on COM1.
RunResult run_tobrin(const std::vector<std::string>& args, const std::string& keys,
               std::function<void(PtyLine&)> script = nullptr)
{
    PtyLine line;
    TobrinLaunch launch = tobrin_launch(args, line.slave_path(), line.slave_path());
    RunResult run;
    ChildProcess child(launch.program, launch.args, launch.env, keys);
    if (script) {
        ScriptedPeer peer(line, script);
        run.status = child.wait();
        peer.settle(2000);  // the bytes tobrin wrote last are still being read
        line.hang_up();     // a peer that waits for more is told that no more will come
        run.peer_error = peer.finish();
    } else {
        run.status = child.wait();
    }
    run.out = tobrin_text(child.output());
    return run;
}

// An Einstein whose format succeeds and which then plays the image write;
// with `program`, it first takes the 2048-byte program block.
std::function<void(PtyLine&)> formats_and_writes(const EinsteinScript& script, EinsteinTranscript& seen,
                                                 bool program = false)
{
    return [&script, &seen, program](PtyLine& l) {
        if (program) {
            EXPECT_EQ(l.receive(2048), program_block());
        }
        EXPECT_EQ(l.receive_byte(), 0x2A);
        l.send({0x00, 0x00});
        play_einstein(l, script, seen);
    };
}

TEST(RunDriver, WithoutArgumentsItShowsTheUsage)
{
    RunResult r = run_tobrin({}, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, BANNER + USAGE);
}

TEST(RunDriver, TheUsageGuideShowsTheUsageThatTobrinPrints)
{
    std::ifstream file(std::string(TOBRIN_SOURCE_DIR) + "/docs/usage.md");
    std::stringstream readme;
    readme << file.rdbuf();
    std::string text = readme.str();
    std::size_t marker = text.find("<!-- the usage of tobrin -? -->\n```\n");
    ASSERT_NE(marker, std::string::npos) << "docs/usage.md lost its usage block";
    std::size_t start = text.find('\n', text.find("```", marker)) + 1;
    std::string shown = text.substr(start, text.find("```\n", start) - start);
    RunResult r = run_tobrin({"-?"}, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(BANNER + shown, r.out);
}

TEST(RunDriver, HelpWithAPortShowsTheUsageAndOpensNothing)
{
    RunResult r = run_tobrin({"1", "-?"}, "", [](PtyLine& l) { EXPECT_TRUE(l.drain(300).empty()); });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, BANNER + USAGE);
    EXPECT_EQ(r.peer_error, "");
}

TEST(RunDriver, HelpGivenTwiceIsOffAndTheRunGoesOn)
{
    RunResult r = run_tobrin({"-?", "1", "/?"}, "n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, BANNER + TYPE_LOADER + PROMPT);
}

TEST(RunDriver, PortNumbersOutsideOneToFourAreUnknown)
{
    for (const char* port : {"0", "5", "-1", "COM0", "COM257", "COM1x", "x", "99999999999999999999", "4294967297",
                             "-4294967295"}) {
        RunResult r = run_tobrin({port}, "");
        EXPECT_EQ(r.status, 1) << port;
        EXPECT_EQ(r.out, BANNER + UNKNOWN_PORT) << port;
    }
}

TEST(RunDriver, PortsThreeAndFourPassTheCheckButDoNotOpen)
{
    for (const char* port : {"3", "4", " +4"}) {
        RunResult r = run_tobrin({port}, "");
        EXPECT_EQ(r.status, 1) << port;
        std::string com = std::string("COM") + port[std::strlen(port) - 1];
        EXPECT_EQ(r.out, BANNER + NO_PORT + "  + " + com + ": a port number opens COM1 or COM2 only; give the port as " +
                             com + " to open it\n" + PORT_FORMS)
            << port;
    }
}

TEST(RunDriver, APortNamedByItsDeviceOpensThatDevice)
{
    // COMn by name (any case) and a device path open that device; one that
    // does not open says which device was tried and why.
    PtyLine line;
    std::string file = write_temp_file(Bytes(10, 0), "not-a-port");
    std::string long_name(300, 'x');
    struct Case {
        std::string port;
        std::string com1;  // what COM1 stands for
        std::string after_banner;
        bool native_only;  // paths and the system's words are POSIX's
    } cases[] = {
        {"COM1", line.slave_path(), TYPE_LOADER + PROMPT, false},
        {"com2", line.slave_path(), TYPE_LOADER + PROMPT, false},
        {line.slave_path(), "/nonexistent/com1", TYPE_LOADER + PROMPT, true},
        {"/nonexistent/ttyUSB9", line.slave_path(),
         NO_PORT + "  + /nonexistent/ttyUSB9: No such file or directory\n" + PORT_FORMS, true},
        {file, line.slave_path(), NO_PORT + "  + " + file + ": not a serial device\n" + PORT_FORMS, true},
        {"COM1", long_name, NO_PORT + "  + COM1: TOBRIN_COM1 is longer than 255 characters\n" + PORT_FORMS, true},
    };
    for (const auto& c : cases) {
        if (c.native_only && tobrin_under_wine()) continue;
        TobrinLaunch launch = tobrin_launch({c.port}, c.com1, line.slave_path());
        ChildProcess child(launch.program, launch.args, launch.env, "N");
        EXPECT_EQ(child.wait(), 1) << c.port;
        EXPECT_EQ(tobrin_text(child.output()), BANNER + c.after_banner) << c.port;
    }
}

TEST(RunDriver, APortArgumentIsReadAsAtoiDoes)
{
    // "2x" is port 2, which opens; the first prompt is then refused.
    RunResult r = run_tobrin({"2x"}, "N");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, BANNER + TYPE_LOADER + PROMPT);
}

TEST(RunDriver, ARefusalAtAnyPromptEndsWithStatusOne)
{
    const std::string refusals[] = {"N", "\r", " ", "\x1b[11~", "q"};
    for (const auto& key : refusals) {
        RunResult r = run_tobrin({"1"}, key);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, BANNER + TYPE_LOADER + PROMPT);
    }
    RunResult second = run_tobrin({"1"}, "YN");
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.out, BANNER + TYPE_LOADER + PROMPT + CHECK_LOADER + PROMPT);
    RunResult third = run_tobrin({"1"}, "YYN");
    EXPECT_EQ(third.status, 1);
    EXPECT_EQ(third.out, BANNER + TYPE_LOADER + PROMPT + CHECK_LOADER + PROMPT + START_LOADER + PROMPT);
}

TEST(RunDriver, NoKeysAtAllRefuse)
{
    RunResult r = run_tobrin({"1"}, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, BANNER + TYPE_LOADER + PROMPT);
}

TEST(RunDriver, TheProgramGoesAs2048BytesBeforeTheFormatWarning)
{
    Bytes received;
    RunResult r = run_tobrin({"1"}, "YYYN", [&](PtyLine& l) {
        received = l.receive(2048);
        EXPECT_TRUE(l.drain(300).empty()) << "no format command after a refusal";
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.peer_error, "");
    EXPECT_EQ(received, program_block());
    EXPECT_EQ(r.out, BANNER + ALL_LOADER_STEPS + WARNING + PROMPT);
}

TEST(RunDriver, SkippingTheTransferStartsAtTheFormatWarning)
{
    RunResult r = run_tobrin({"-notrans", "1"}, "y", [](PtyLine& l) {
        EXPECT_EQ(l.receive_byte(), 0x2A);
        l.send_byte(0x04);  // drive not ready: the second byte is never read
    });
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.peer_error, "");
    EXPECT_EQ(r.out, BANNER + WARNING + PROMPT + FORMATTING + FORMAT_FAILED);
}

TEST(RunDriver, AFailedFormatAfterTheDriveCheckEndsWithStatusTwo)
{
    // The disk may have changed: a script must not take this for success.
    RunResult r = run_tobrin({"1", "/NOTRANS"}, "Y", [](PtyLine& l) {
        EXPECT_EQ(l.receive_byte(), 0x2A);
        l.send({0x00, 0xFF});
        EXPECT_TRUE(l.drain(300).empty());
    });
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.peer_error, "");
    EXPECT_EQ(r.out, BANNER + WARNING + PROMPT + FORMATTING + FORMAT_FAILED);
}

TEST(RunDriver, AWholeRunWithTheBuiltInImage)
{
    EinsteinTranscript seen;
    EinsteinScript script;
    RunResult r = run_tobrin({"1"}, "yyyy", formats_and_writes(script, seen, true));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.peer_error, "");
    EXPECT_EQ(seen.sectors.size(), 400u);
    EXPECT_EQ(r.out, BANNER + ALL_LOADER_STEPS + WARNING + PROMPT + FORMATTING +
                         "2) Sending standard disk image, please wait\n" + progress_labels(400, 10) + DONE);
}

TEST(RunDriver, AWholeRunWithAFileAndAThirdArgumentIgnored)
{
    std::string path = write_temp_file(raw_dump(160), "two-sided.img");
    EinsteinTranscript seen;
    EinsteinScript script;
    script.flags = 0x11;
    RunResult r = run_tobrin({"1", path, "extra", "-notrans"}, "Y", formats_and_writes(script, seen));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.peer_error, "");
    ASSERT_EQ(seen.sectors.size(), 1600u);
    EXPECT_EQ(seen.sectors[1599], sector_pattern(159, 0, 9));
    std::string head = BANNER + WARNING + PROMPT + FORMATTING + "2) Sending disk image " + path +
                       ", please wait.\n + Disc image 80 track, double sided (RAW disc dump)\n";
    EXPECT_EQ(r.out.substr(0, head.size()), head);
    std::string tail = "\r - WRITE 0: Track 79 Sector 19\n\nDisk formatted and disk image transferred. Reset the Einstein.\n";
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
}

TEST(RunDriver, ChecksumRetriesAndFailedWritesThroughTheWholeProgram)
{
    std::string path = write_temp_file(extended_image(40, 1), "retries.dsk");
    EinsteinTranscript seen;
    EinsteinScript script;
    script.bad_passes = [](int sector) { return sector == 3 ? 2 : 0; };
    script.status = [](int batch) {
        Bytes status(80, 0);
        if (batch == 2) status[5] = 0x03;
        return status;
    };
    RunResult r = run_tobrin({"-notrans", "1", path}, "Y", formats_and_writes(script, seen));
    EXPECT_EQ(r.status, 2) << "a sector not written is a failed run";
    EXPECT_EQ(r.peer_error, "");
    ASSERT_EQ(seen.sectors.size(), 400u);
    EXPECT_EQ(seen.sectors[3], sector_pattern(0, 0, 3));
    const std::string label = "\r - WRITE 0: Track 00 Sector 03";
    EXPECT_NE(r.out.find(label + " (checksum error)" + label + std::string(17, ' ') + label), std::string::npos);
    std::string tail = "\r - WRITE 0: Track 39 Sector 09\n  + Track 16 side 0: sector 05: sector not found\n"
                       "*** TOBRIN HALTED ***\nEinstein Error -> 1 sector(s) could not be written\n"
                       "*** TOBRIN HALTED ***\nEinstein Error -> Disk image transfer failed.\n";
    ASSERT_GE(r.out.size(), tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
}

TEST(RunDriver, AnImageThatCannotBeSentIsRefusedBeforeTheEinsteinIsTouched)
{
    // A mistyped name, a file that is not a disc image, a FIFO (which would
    // block an open): each ends the run before the first prompt, with
    // status 1, and not one byte goes on the line - the disk in the drive
    // is not formatted for nothing.
    std::string folder = write_temp_file({}, "here");
    folder = folder.substr(0, folder.rfind('/'));
    std::string fifo = folder + "/a-fifo.dsk";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string short_image = write_temp_file(Bytes(1024, 0), "short.img");
    struct Case {
        std::string path;
        std::string message;
    } cases[] = {
        {folder + "/mistyped.dsk",
         "File Error -> Cannot open disc image '" + folder + "/mistyped.dsk'\n  + There is no file of that name\n"},
        {short_image, "File Error -> Disc image contains incomplete tracks\n  + " + short_image +
                          ": 1024 bytes. An image is an extended or standard DSK file, or a raw dump of 204800 (40 "
                          "tracks), 409600 (80 tracks) or 819200 bytes (80 tracks, two sides)\n"},
        // (Under wine the FIFO's POSIX path names nothing.)
        {fifo, "File Error -> Cannot open disc image '" + fifo + "'\n  + " +
                   (tobrin_under_wine() ? "There is no file of that name\n"
                                        : "It is a device or a pipe, not a file: name an image file\n")},
    };
    for (const auto& c : cases)
        for (const char* notrans : {"", "-notrans"}) {
            RunResult r = run_tobrin({"1", c.path, notrans}, "YYYY", [](PtyLine& l) {
                EXPECT_TRUE(l.drain(300).empty()) << "a byte went to the Einstein";
            });
            EXPECT_EQ(r.status, 1) << c.path;
            EXPECT_EQ(r.peer_error, "");
            EXPECT_EQ(r.out, BANNER + "*** TOBRIN HALTED ***\n" + c.message) << c.path;
        }
}

TEST(RunDriver, ReadingJudgesItsFileBeforeTheEinsteinIsAsked)
{
    // An existing file is replaced only after Y; a folder, or a name in a
    // folder that is not there, is refused at once; nothing is created
    // before the last answer.  Not one byte goes
    // to the Einstein in any of these.
    std::string existing = write_temp_file(Bytes(100, 0x42), "mine.dsk");
    std::string folder = write_temp_file({}, "a-folder");
    std::remove(folder.c_str());
    std::filesystem::create_directory(folder);
    std::string fresh = folder + "/new.dsk";
    struct Case {
        std::string path;
        std::string keys;
        std::string after_banner;
    } cases[] = {
        {existing, "N", "The file " + existing + " exists already: reading the disk replaces it.\n" + PROMPT},
        {folder, "YY",
         "*** TOBRIN HALTED ***\nFile Error -> '" + folder +
             "' is a folder or a device, not a file: name a new file, or a file to replace\n"},
        {fresh, "N", "\nAbout to read the disk in Einstein drive 0: into " + fresh + ".\n\n" + PROMPT},
        {folder + "/not-there/new.dsk", "YY",
         "*** TOBRIN HALTED ***\nFile Error -> Cannot create a file beside '" + folder +
             "/not-there/new.dsk' to write the image into\n  + The folder '" + folder +
             "/not-there' does not exist: create it, or name a file in a folder that exists\n"},
    };
    for (const auto& c : cases) {
        RunResult r = run_tobrin({"1", "-read", c.path, "-notrans"}, c.keys, [](PtyLine& l) {
            EXPECT_TRUE(l.drain(300).empty()) << "a byte went to the Einstein";
        });
        EXPECT_EQ(r.status, 1) << c.path;
        EXPECT_EQ(r.peer_error, "");
        EXPECT_EQ(r.out, BANNER + c.after_banner);
        EXPECT_FALSE(std::filesystem::exists(c.path + ".part")) << c.path;
    }
    std::FILE* f = std::fopen(existing.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    Bytes kept(200);
    kept.resize(std::fread(kept.data(), 1, kept.size(), f));
    std::fclose(f);
    EXPECT_EQ(kept, Bytes(100, 0x42));
    EXPECT_FALSE(std::filesystem::exists(fresh));
}

}  // namespace
