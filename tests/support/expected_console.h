// expected_console.h - what tobrin prints, byte for byte, for the tests
// that compare whole console transcripts.
#pragma once
#include <cstdio>
#include <string>

#include "version.h"

// The version comes from the build, as the programs' own banners take it.
inline const std::string BANNER = std::string("TOBRIN: Einstein System Disk Transfer V") + TOBRIN_VERSION + "\n\n";
// The banner the program shows on the Einstein's screen.
inline const std::string EINSTEIN_BANNER = std::string("TOBRIN: System Disk Transfer V") + TOBRIN_VERSION;
inline const std::string USAGE =
    "Usage:\n"
    "  TOBRIN <port> [<disc image>] [-notrans] [-verify] [-fast]\n"
    "  TOBRIN <port> -read <file> [-notrans] [-fast]\n"
    "  TOBRIN -ports\n"
    "\n"
    "Where:\n"
    "  <port>        Serial port number (COM <port>) which is connected to the\n"
    "                Einstein.\n"
    "                Or the port's name: COM1 to COM256, or a device such as\n"
    "                /dev/ttyUSB0 (tobrin -ports lists them).\n"
    "  <disc image>  Optional disc image to use, if this is not supplied then the\n"
    "                default disc image contained within TOBRIN is used.\n"
    "  -notrans      Command line option to skip program transfer, this should only\n"
    "                be used if the Einstein TOBRIN is running (ie if an error occur\n"
    "                during execution such as a disk error).\n"
    "  -verify       Read every sector back after writing it and compare it with\n"
    "                the image; a sector that differs is written again (up to\n"
    "                three tries).  Costs about 10 s on a 40-track disk.\n"
    "  -read <file>  Read the disk in Einstein drive 0 into a new extended .DSK\n"
    "                image file instead of writing a disk (no format).\n"
    "  -fast         Agree a faster line with the Einstein (31250 or 20833 baud,\n"
    "                when the adapter makes the rate within 2%), send the sectors\n"
    "                compressed, and read every sector back as -verify does.\n"
    "                A 40-track disk of files takes about 41 s instead of 195 s.\n"
    "  -ports        List the serial ports of this computer.\n"
    "\n"
    "Exit status: 0 the disk was written (or read) whole; 1 the Einstein was not\n"
    "asked to do anything; 2 the run failed after the format (or read) began.\n";
inline const std::string PROMPT =
    "Press Y to proceed, any other key to exit :\r                                           \r";
inline const std::string TYPE_LOADER =
    "Reset the Einstein now, once it has booted up into the MOS and is displaying\n"
    "the READY prompt enter the following command:\n\n"
    "   M1000\n\n"
    "This should display the address (1000) and its contents with a flashing cursor\n"
    "over the first value, something like:\n\n"
    "   1000 FF\n\n"
    "Now type the following lines pressing ENTER between each, please note the last\n"
    "line is a single full stop\n\n"
    "   3E27D311DB10DB11\n"
    "   CB4F20F83E07D311\n"
    "   2100011100083E27\n"
    "   D311DB11CB4F28FA\n"
    "   DB10773E07D31123\n"
    "   1B7BB220E9C30001\n"
    "   .\n";
inline const std::string CHECK_LOADER =
    "\n"
    "This entire procedure should have left the Einstein with a display similar to\n"
    "the following. Please make sure to verify the strings entered above are correct\n"
    "before proceeding:\n\n"
    "   READY\n"
    "   >M1000\n"
    "   1000 3E27D311DB10DB11\n"
    "   1008 CB4F20F83E07D311\n"
    "   1010 2100011100083E27\n"
    "   1018 D311DB11CB4F28FA\n"
    "   1020 DB10773E07D31123\n"
    "   1028 1B7BB220E9C30001\n"
    "   1030 .F\n"
    "   >\n";
inline const std::string START_LOADER =
    "\n"
    "Now to execute the program you have just entered type in the following command:\n\n"
    "   G1000\n";
inline const std::string SENDING = "\n * Transferring format and disk write program to Einstein\n";
inline const std::string WARNING =
    "\nWARNING: About to format disk in Einstein drive 0:, please make sure a disk is\n"
    "         in the drive and its the one you want to use as a system disk.\n\n";
inline const std::string FORMATTING = "1) Formatting, please wait.\n";
inline const std::string FORMAT_FAILED = "*** TOBRIN HALTED ***\nEinstein Error -> Formatting disk has failed.\n";
// Under a port that is not one, or does not open: the forms a port takes.
inline const std::string PORT_FORMS = "  + A port is 1 or 2 (COM1, COM2), a name from COM1 to COM256, or a device such "
                                      "as /dev/ttyUSB0: tobrin -ports lists the serial ports of this computer\n";
inline const std::string UNKNOWN_PORT = "*** TOBRIN HALTED ***\nResource Error -> Unknown port number\n" + PORT_FORMS;
inline const std::string NO_PORT = "ERROR: Cannot open serial port.\n";
inline const std::string ALL_LOADER_STEPS = TYPE_LOADER + PROMPT + CHECK_LOADER + PROMPT + START_LOADER + PROMPT + SENDING;

inline const std::string DONE = "\n\nDisk formatted and disk image transferred. Reset the Einstein.\n";

// The per-sector progress labels of n sectors, spc to a cylinder.
inline std::string progress_labels(int n, int spc)
{
    std::string all;
    char label[64];
    for (int i = 0; i < n; ++i) {
        std::snprintf(label, sizeof label, "\r - WRITE 0: Track %02d Sector %02d", i / spc, i % spc);
        all += label;
    }
    return all;
}
