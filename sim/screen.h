// screen.h - the Einstein's text screen as the MOS print call fills it:
// 40 columns, carriage return to column 0, line feed to the next line,
// wrapping at the right edge.  Tests read the lines; the einstein-sim tool
// shows each line as it changes.
#pragma once
#include <string>
#include <vector>

constexpr int SCREEN_COLUMNS = 40;

struct Screen {
    std::vector<std::string> lines;  // every line since the start, the last is the current one
    int column;                      // cursor column in the current line
    bool changed;                    // the current line changed since the last look
    std::string transcript;          // every character ever printed, in order
};

void screen_init(Screen* screen);
void screen_put(Screen* screen, char c);
// The lines with trailing spaces removed.
std::vector<std::string> screen_text(const Screen* screen);
