// halt_report.h - the one way every part of the program tells the user of a
// fatal condition: "*** TOBRIN HALTED ***" and a line naming the category
// and the message.  It never ends the process: the caller fails upward,
// and only the run driver decides the exit status.  It sits below run/,
// link/ and image/ so that each of them can report without reaching up.
#pragma once

enum HaltCategory {
    HALT_RESOURCE = 1,   // "Resource": port number, program size, memory
    HALT_FILE = 2,       // "File": the disc image
    HALT_EINSTEIN = 3,   // "Einstein": what the Einstein reported
    HALT_EINSTEIN_RUN = 4, // "Einstein": the format or the transfer failed
    HALT_SYNTAX = 5        // "Syntax": options that do not go together
};

// message is a text; with a non-null parameter it is a format with one %s.
void halt_report(const char* message, const char* parameter, int category);
// One more line under a report: what to do, or why ("  + <text>").
void halt_hint(const char* text);
