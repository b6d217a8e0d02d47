// run_driver.cpp - the order of one run: banner, command line, port, the
// loader steps with their confirmations, the program send, the format
// warning, the format command and its two status bytes, the image transfer,
// and the closing path.  Exit status 1 for every way out before the format
// (or read) command is sent; after it, 0 when the disk was written (or read)
// whole and 2 when it was not.
#include "run/run_driver.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "image/disc_image.h"
#include "image/dsk_writer.h"
#include "link/disk_read.h"
#include "link/fast_line.h"
#include "link/link_limits.h"
#include "link/recovery.h"
#include "link/serial_port.h"
#include "link/wire_forms.h"
#include "platform/serial_device.h"
#include "report/halt_report.h"
#include "run/image_send.h"
#include "run/link_lines.h"
#include "run/prompts.h"
#include "target/loader_listing.h"
#include "target/program_stages.h"
#include "version.h"

RunOptions run_options = {0, 0, 0, 0, "", 0, 0};

const OptionSpec option_table[] = {
    {"?", OPT_TOGGLE, &run_options.help, {.integer = 0}},
    {"notrans", OPT_TOGGLE, &run_options.notrans, {.integer = 0}},
    {"verify", OPT_TOGGLE, &run_options.verify, {.integer = 0}},
    {"read", OPT_STRING, run_options.read_image, {.text = nullptr}},
    {"ports", OPT_TOGGLE, &run_options.ports, {.integer = 0}},
    {"fast", OPT_TOGGLE, &run_options.fast, {.integer = 0}},
    {nullptr, OPT_TOGGLE, nullptr, {.integer = 0}},
};


void print_banner()
{
    std::printf("TOBRIN: Einstein System Disk Transfer V%s\n\n", TOBRIN_VERSION);
}

void print_usage()
{
    std::printf("Usage:\n");
    std::printf("  TOBRIN <port> [<disc image>] [-notrans] [-verify] [-fast]\n");
    std::printf("  TOBRIN <port> -read <file> [-notrans] [-fast]\n");
    std::printf("  TOBRIN -ports\n");
    std::printf("\n");
    std::printf("Where:\n");
    std::printf("  <port>        Serial port number (COM <port>) which is connected to the\n");
    std::printf("                Einstein.\n");
    std::printf("                Or the port's name: COM1 to COM256, or a device such as\n");
    std::printf("                /dev/ttyUSB0 (tobrin -ports lists them).\n");
    std::printf("  <disc image>  Optional disc image to use, if this is not supplied then the\n");
    std::printf("                default disc image contained within TOBRIN is used.\n");
    std::printf("  -notrans      Command line option to skip program transfer, this should only\n");
    std::printf("                be used if the Einstein TOBRIN is running (ie if an error occur\n");
    std::printf("                during execution such as a disk error).\n");
    std::printf("  -verify       Read every sector back after writing it and compare it with\n");
    std::printf("                the image; a sector that differs is written again (up to\n");
    std::printf("                three tries).  Costs about 10 s on a 40-track disk.\n");
    std::printf("  -read <file>  Read the disk in Einstein drive 0 into a new extended .DSK\n");
    std::printf("                image file instead of writing a disk (no format).\n");
    std::printf("  -fast         Agree a faster line with the Einstein (31250 or 20833 baud,\n");
    std::printf("                when the adapter makes the rate within 2%%), send the sectors\n");
    std::printf("                compressed, and read every sector back as -verify does.\n");
    std::printf("                A 40-track disk of files takes about 41 s instead of 195 s.\n");
    std::printf("  -ports        List the serial ports of this computer.\n");
    std::printf("\n");
    std::printf("Exit status: 0 the disk was written (or read) whole; 1 the Einstein was not\n");
    std::printf("asked to do anything; 2 the run failed after the format (or read) began.\n");
}

int parse_port(const char* text)
{
    // atoi's syntax: white space, an optional sign, decimal digits up to the
    // first non-digit.  The value is bounded instead of overflowing, so a
    // huge number stays out of range.
    while (std::isspace(static_cast<unsigned char>(*text))) ++text;
    int negative = 0;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        if (value <= 1000) value = value * 10 + (*text - '0');
    if (negative) value = -value;
    return (value >= 1 && value <= 4) ? static_cast<int>(value) : 0;
}

bool port_names_device(const char* text)
{
    return serial_com_number(text) != 0 || std::strchr(text, '/') != nullptr || std::strchr(text, '\\') != nullptr;
}

// tobrin -ports: the serial ports the system knows, with their adapters.
static void list_ports()
{
    std::vector<SerialDeviceInfo> ports = serial_device_list();
    if (ports.empty()) {
        std::printf("No serial ports found.\n");
        return;
    }
    std::printf("Serial ports:\n");
    for (const SerialDeviceInfo& port : ports)
        std::printf("  %-16s %s\n", port.path.c_str(), port.description.c_str());
    std::printf("\nName one as the port: tobrin %s\n", ports.front().path.c_str());
}

int send_program_block(const unsigned char* image, std::int32_t length)
{
    if (length > PROGRAM_BLOCK_SIZE) {
        halt_report("Program too big, need rebuild!", nullptr, HALT_RESOURCE);
        return 0;
    }
    for (int i = 0; i < PROGRAM_BLOCK_SIZE; ++i)
        send_byte(i < length ? image[i] : 0);
    return 1;
}

int send_target_program()
{
    return send_program_block(target_program_image, target_program_size);
}

// The last time this run sent something, or opened the port: the format
// command goes no earlier than COMMAND_QUIET_S after it.  The program has
// then started (a "Y" typed ahead at the format warning must not reach the
// Einstein before its program listens), and the Einstein takes a command
// only after a silence (so that no byte of a block is ever taken for one).
static std::chrono::steady_clock::time_point line_quiet_since;
// ... and how long the silence must last: COMMAND_QUIET_S, or
// COMMAND_AFTER_ANSWER_S when the Einstein's answer came last.
static double line_quiet_s = COMMAND_QUIET_S;

// Sends the program and waits until its bytes have left the port.  They
// have reached the Einstein no sooner than their line time after the
// first (a port, or an adapter's buffer, may report them gone earlier):
// the silence a command needs is counted from then, so that the next
// block never runs into the program's start.
static int send_and_drain_program()
{
    auto started = std::chrono::steady_clock::now();
    if (!send_target_program()) return 0;
    if (!serial_drain(PROGRAM_SEND_S)) {
        char pending[16];
        std::snprintf(pending, sizeof pending, "%d", serial_output_pending());
        halt_report("The Einstein did not take the program: %s bytes have not left the port. Check that the "
                    "loader was started with G1000 and that the cable carries RTS and CTS",
                    pending, HALT_EINSTEIN);
        return 0;
    }
    auto arrived = started + std::chrono::microseconds(static_cast<long long>(PROGRAM_BLOCK_SIZE * LINK_BYTE_S * 1e6));
    line_quiet_since = std::max(std::chrono::steady_clock::now(), arrived);
    return 1;
}

// Waits out the rest of the silence that a command needs.
static void let_line_fall_quiet()
{
    auto ready = line_quiet_since + std::chrono::milliseconds(static_cast<int>(line_quiet_s * 1000));
    std::this_thread::sleep_until(ready);
}

// -verify, -fast: the second stage's first part; with -fast, which it
// holds the line switch for, the fastest line both ends carry, then the
// second part at that rate.  False after a halt report (the second stage
// did not get across).
static bool prepare_program(ProgramState* program)
{
    let_line_fall_quiet();
    if (!send_stage_two(program, false)) return false;
    bool agreed = run_options.fast != 0 && print_line_agreed(agree_fast_line(program)) > 0;
    line_quiet_since = std::chrono::steady_clock::now();
    line_quiet_s = agreed ? COMMAND_AFTER_ANSWER_S : COMMAND_QUIET_S;
    if (run_options.fast == 0) return true;
    let_line_fall_quiet();
    if (!send_stage_two(program, true)) return false;
    line_quiet_since = std::chrono::steady_clock::now();
    line_quiet_s = COMMAND_AFTER_ANSWER_S;
    return true;
}

// The loader steps: type it in, check it, start it, then the program send.
static int load_target_program()
{
    int address = loader_address();
    std::printf("Reset the Einstein now, once it has booted up into the MOS and is displaying\n");
    std::printf("the READY prompt enter the following command:\n\n");
    std::printf("   M%04X\n\n", address);
    std::printf("This should display the address (%04X) and its contents with a flashing cursor\n", address);
    std::printf("over the first value, something like:\n\n");
    std::printf("   %04X FF\n\n", address);
    std::printf("Now type the following lines pressing ENTER between each, please note the last\n");
    std::printf("line is a single full stop\n\n");
    print_loader_lines("   ", 0);
    std::printf("   .\n");
    if (!confirm()) return 0;

    std::printf("\n");
    std::printf("This entire procedure should have left the Einstein with a display similar to\n");
    std::printf("the following. Please make sure to verify the strings entered above are correct\n");
    std::printf("before proceeding:\n\n");
    std::printf("   READY\n");
    std::printf("   >M%04X\n", address);
    print_loader_lines("   ", 1);
    std::printf("   %04X .F\n", address + loader_length());
    std::printf("   >\n");
    if (!confirm()) return 0;

    std::printf("\n");
    std::printf("Now to execute the program you have just entered type in the following command:\n\n");
    std::printf("   G%04X\n", address);
    if (!confirm()) return 0;

    std::printf("\n * Transferring format and disk write program to Einstein\n");
    std::fflush(stdout);
    return send_and_drain_program();
}

// One format status byte within `seconds`; false after a halt report that
// says what TOBRIN waited for.  With `checked` (the checked format of a
// -fast run) the byte comes with its complement, and TOBRIN has the two
// again until both come whole.
static bool format_status(std::uint8_t* status, double seconds, bool checked, const char* waiting_for)
{
    for (int pass = 0; pass < LINK_MAX_PASSES; ++pass) {
        std::uint8_t complement = 0;
        if (!recv_byte_within(status, pass == 0 ? seconds : link_answer_s(2))) break;
        if (!checked || *status == TIMEOUT_NOTICE) return true;
        bool whole = recv_byte_within(&complement, link_answer_s(1)) && checked_value(*status, complement);
        if (!send_byte(whole ? STATUS_CONFIRMED : ANSWER_AGAIN)) break;
        if (whole) return true;
    }
    if (serial_port.failed) {
        halt_report("Serial link to the Einstein lost", nullptr, HALT_EINSTEIN);
        return false;
    }
    char limit[16];
    std::snprintf(limit, sizeof limit, "%.0f", seconds);
    halt_report(waiting_for, limit, HALT_EINSTEIN);
    return false;
}

enum FormatResult { FORMATTED, FORMAT_FAILED, FORMAT_NOT_SENT };

// Times the format command goes when the Einstein answers it with its
// time-out notice (it was inside a wait of its own when the command came).
static const int FORMAT_COMMAND_TRIES = 3;

// Formats the disk: FORMATTED when both status bytes came back 0.  A -fast
// run (the second stage in place) sends the checked format, whose status
// bytes a damaged byte cannot change.  The Einstein's time-out notice is
// never taken for a status byte: in place of the first, the command goes
// again once the Einstein is back in its command loop.
static FormatResult format_disk(bool checked)
{
    let_line_fall_quiet();
    std::printf("1) Formatting, please wait.\n");
    std::fflush(stdout);
    std::uint8_t status = TIMEOUT_NOTICE;
    for (int tries = 0; tries < FORMAT_COMMAND_TRIES && status == TIMEOUT_NOTICE; ++tries) {
        if (tries > 0 && !wait_for_command_loop(true).back) break;
        if (!send_byte(checked ? CHECKED_FORMAT_COMMAND : FORMAT_COMMAND)) {
            if (tries > 0) break;
            halt_report("The format command could not be sent: the port took no byte. Check that the Einstein "
                        "shows \"[ Waiting to proceed\" and that the cable carries RTS and CTS",
                        nullptr, HALT_EINSTEIN);
            return FORMAT_NOT_SENT;
        }
        if (!format_status(&status, FORMAT_CHECK_S, checked,
                           "No answer to the format command within %s s. Check that the Einstein shows "
                           "\"[ Waiting to proceed\" and that the cable is in, then run TOBRIN again "
                           "(with -notrans when the Einstein shows that line)"))
            return FORMAT_FAILED;
    }
    if (status == 0 &&
        !format_status(&status, FORMAT_S, checked,
                       "The format did not end within %s s: the Einstein stopped answering (its screen may "
                       "show TIMEOUT). Check the drive and the cable, then run TOBRIN again with -notrans"))
        return FORMAT_FAILED;
    if (status == TIMEOUT_NOTICE) {
        halt_report("The Einstein timed out instead of answering the format command (its screen shows TIMEOUT). "
                    "Check the cable, then run TOBRIN again with -notrans",
                    nullptr, HALT_EINSTEIN_RUN);
        return FORMAT_FAILED;
    }
    if (status != 0) {
        halt_report("Formatting disk has failed.", nullptr, HALT_EINSTEIN_RUN);
        return FORMAT_FAILED;
    }
    return FORMATTED;
}

// -read: the disk in drive 0 into a new image file, after the port is
// open; returns the exit status.  The name is judged before anything is
// asked of the Einstein, and nothing is created before the last answer.
static int read_steps(const ArgList* list, ProgramState* program)
{
    const char* path = run_options.read_image;
    if (arg_item(list, 1) != nullptr) {
        halt_report("Name a disc image to write, or -read and a file to read the disk into, not both", nullptr,
                    HALT_SYNTAX);
        return EXIT_NOTHING_DONE;
    }
    NewImageTarget target = new_image_check(path);
    if (target == NEW_IMAGE_REFUSED) return EXIT_NOTHING_DONE;
    if (target == NEW_IMAGE_REPLACES) {
        std::printf("The file %s exists already: reading the disk replaces it.\n", path);
        if (!confirm()) return EXIT_NOTHING_DONE;
    }
    if (run_options.notrans == 0 && !load_target_program()) return EXIT_NOTHING_DONE;

    if (run_options.fast != 0 && !prepare_program(program)) return EXIT_NOTHING_DONE;

    std::printf("\nAbout to read the disk in Einstein drive 0: into %s.\n\n", path);
    if (!confirm()) {
        return_to_monitor_rate(program);
        return EXIT_NOTHING_DONE;
    }
    NewImageFile file;
    if (!new_image_begin(&file, path)) return EXIT_NOTHING_DONE;
    let_line_fall_quiet();
    std::printf("1) Reading disk, please wait.\n");
    std::fflush(stdout);
    DiskRead disk;
    bool read = read_disk(&disk, program) != 0;
    return_to_monitor_rate(program);
    if (!read) {
        halt_report("Reading the disk has failed; no image was written.", nullptr, HALT_EINSTEIN_RUN);
        return EXIT_FAILED;
    }
    std::vector<std::uint8_t> status;
    for (const ReadSector& s : disk.sectors) status.push_back(s.status);
    int unreadable = 0;
    for (std::uint8_t s : status) unreadable += s != 0;
    std::printf("\n2) Writing image %s\n", path);
    if (unreadable > 0) {
        print_sector_failures(status, disk.sides * SECTORS_PER_SIDE);
        std::printf("  + %d sector(s) could not be read: kept as read (or E5h), flagged in the image\n", unreadable);
    }
    if (!new_image_finish(&file, dsk_image_of(disk))) return EXIT_FAILED;
    std::printf("\nDisk read into %s (%d tracks, %s sided).\n", path, disk.tracks, disk.sides == 2 ? "double" : "single");
    return unreadable > 0 ? EXIT_FAILED : EXIT_DONE;
}

// What a port argument may be, under a port that does not open.
static const char PORT_FORMS[] = "A port is 1 or 2 (COM1, COM2), a name from COM1 to COM256, or a device such as "
                                 "/dev/ttyUSB0: tobrin -ports lists the serial ports of this computer";

// Opens the port the first argument names: a device by its name, or COM1
// and COM2 by number.  Returns EXIT_DONE when open, else the exit status
// after saying why.
static int open_port(const char* argument)
{
    bool opened;
    if (port_names_device(argument)) {
        run_options.port = 0;
        opened = serial_open_device(argument, 9600, 8, PARITY_NONE, 2, HANDSHAKE_RTS_CTS) != 0;
    } else {
        run_options.port = parse_port(argument);
        if (run_options.port == 0) {
            halt_report("Unknown port number", nullptr, HALT_RESOURCE);
            halt_hint(PORT_FORMS);
            return EXIT_NOTHING_DONE;
        }
        opened = serial_open(run_options.port, 9600, 8, PARITY_NONE, 2, HANDSHAKE_RTS_CTS) != 0;
    }
    if (!opened) {
        std::printf("ERROR: Cannot open serial port.\n");
        std::printf("  + %s\n", serial_open_error());
        std::printf("  + %s\n", PORT_FORMS);
        return EXIT_NOTHING_DONE;
    }
    return EXIT_DONE;
}

// The run from the command line on; returns the exit status.
static int run_steps(const ArgList* list)
{
    if (run_options.help != 0 || (arg_count(list) == 0 && run_options.ports == 0)) {
        print_usage();
        return EXIT_NOTHING_DONE;
    }
    if (run_options.ports != 0) {
        list_ports();
        return EXIT_DONE;
    }
    int opened = open_port(arg_item(list, 0));
    if (opened != EXIT_DONE) return opened;
    line_quiet_since = std::chrono::steady_clock::now();
    ProgramState program;  // this run's: nothing sent yet, the monitor's rate
    if (run_options.read_image[0] != '\0') return read_steps(list, &program);
    // The image is read and checked before the Einstein is asked to do
    // anything (a mistyped name must not cost a formatted disk), and never
    // read again: what was checked is what is written.
    const char* image_name = arg_item(list, 1);
    DiscImageOwner image;
    if (image_name != nullptr) {
        image.reset(image_load_file(image_name));
        if (!image) return EXIT_NOTHING_DONE;
    }

    if (run_options.notrans == 0 && !load_target_program()) return EXIT_NOTHING_DONE;
    bool staged = run_options.verify != 0 || run_options.fast != 0;  // verified batches are the second stage's
    if (staged && !prepare_program(&program)) return EXIT_NOTHING_DONE;

    std::printf("\nWARNING: About to format disk in Einstein drive 0:, please make sure a disk is\n");
    std::printf("         in the drive and its the one you want to use as a system disk.\n\n");
    if (!confirm()) {
        return_to_monitor_rate(&program);
        return EXIT_NOTHING_DONE;
    }

    FormatResult formatted = format_disk(run_options.fast != 0);
    bool transferred = formatted == FORMATTED &&
                       transfer_loaded_image(image.get(), image_name, staged, run_options.fast != 0, &program);
    return_to_monitor_rate(&program);
    if (formatted == FORMAT_NOT_SENT) return EXIT_NOTHING_DONE;
    if (formatted == FORMAT_FAILED) return EXIT_FAILED;
    if (!transferred) {
        halt_report("Disk image transfer failed.", nullptr, HALT_EINSTEIN_RUN);
        return EXIT_FAILED;
    }
    std::printf("\n\nDisk formatted and disk image transferred. Reset the Einstein.\n");
    return EXIT_DONE;
}

// The serial port's owner for the run: whatever way the run ends, the port
// is closed (closing a port that is not open does nothing).  Declared after
// the argument list, so it goes first: the port, then the list.
struct PortCloser {
    ~PortCloser() { serial_close(); }
};

int run_main(int argc, char** argv)
{
    print_link_events();
    print_banner();
    // The ways out before the port is open release the list too: nothing
    // depends on it then, and leak checkers see a clean exit.
    ArgListOwner list(parse_args(argc, argv, option_table));
    PortCloser port;
    int status = run_steps(list.get());
    std::fflush(stdout);
    return status;
}
