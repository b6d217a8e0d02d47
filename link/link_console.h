// link_console.h - what the link tells the user while it works.  The link
// never prints: it hands each event to the console that run/ installs
// (run/link_lines.cpp words and prints them).  Until one is installed the
// events go nowhere.
#pragma once

// The image did not fit the drive the Einstein reported.
struct DriveFit {
    int drive_tracks;      // the drive's tracks (40 or 80)
    bool one_side;         // the drive has one side
    int tracks_left_out;   // the image's tracks past the drive's last
    bool side_left_out;    // a two-sided image on a one-sided drive: side 1 left out
};

// A recovery about to be tried at a position.
struct LineFault {
    const char* cause;       // the fault in words (block_fault_text)
    const char* restarting;  // what the try does: "resuming at", "reading on from"
    int track, sector;       // where
    int attempt, attempts;   // the try, of how many at most
};

// The events, one function each (a null one is not told).
struct LinkConsole {
    // The progress line, rewritten in place with `label` (padded by the
    // caller to cover a longer label before it).
    void (*progress)(const char* label);
    // A block of the line needed another pass (told once a block) ...
    void (*checksum_retry)();
    // ... and then got across: the notice goes, the label stays.
    void (*checksum_cleared)(const char* label);
    // The progress line ends here: a report or a line of its own follows.
    void (*progress_ends)();
    // The image is larger than the drive: what is left out.
    void (*drive_fit)(const DriveFit& fit);
    // A batch takes longer than a healthy disk needs: TOBRIN waits while
    // the Einstein says it works.
    void (*still_writing)();
    // A recovery is tried.
    void (*line_fault)(const LineFault& fault);
};

// The console the link tells from now on (copied; null: none).
void link_console_install(const LinkConsole* console);
const LinkConsole& link_console();
