// run_driver.h - one run of TOBRIN, from the banner to the exit status.
#pragma once
#include <cstdint>

#include "run/arg_parser.h"

// The run's option values; the option table points at all but port.
struct RunOptions {
    std::int32_t help;     // nonzero: show the usage
    std::int32_t port;     // the serial port number from the first argument
    std::int32_t notrans;  // nonzero: skip the loader steps and the program send
    std::int32_t verify;   // nonzero: read every written sector back and compare it
    char read_image[256];  // not empty: read the disk into this new image file instead
    std::int32_t ports;    // nonzero: list the serial ports and end
    std::int32_t fast;     // nonzero: agree a faster line, and verify
};
extern RunOptions run_options;
extern const OptionSpec option_table[];

// The exit status: the disk written (and verified) or read whole; a way out
// before the Einstein was asked to format or read (nothing on the disk
// changed); a run that failed after that (the disk may have changed).
constexpr int EXIT_DONE = 0;
constexpr int EXIT_NOTHING_DONE = 1;
constexpr int EXIT_FAILED = 2;

// Exactly this many bytes go to the monitor loader: the program, then zeros.
constexpr int PROGRAM_BLOCK_SIZE = 2048;

void print_banner();
void print_usage();
// The port argument converted as atoi does, but a number outside the int
// range is out of range too; 1 to 4 is valid.  Returns the port or 0.
int parse_port(const char* text);
// A port argument that names a device rather than a number: "COMn" (n from
// 1 to 256, any case) or a path ("/dev/ttyUSB0", "\\.\COM12").
bool port_names_device(const char* text);
// Sends the given program padded with zeros to PROGRAM_BLOCK_SIZE bytes;
// 0 (and a halt report) when it is longer than that.
int send_program_block(const unsigned char* image, std::int32_t length);
// Sends the carried target program.
int send_target_program();
// The whole run; returns the exit status (EXIT_DONE, EXIT_NOTHING_DONE or
// EXIT_FAILED).
int run_main(int argc, char** argv);
