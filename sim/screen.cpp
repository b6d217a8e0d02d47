#include "sim/screen.h"

void screen_init(Screen* screen)
{
    screen->lines.assign(1, std::string());
    screen->column = 0;
    screen->changed = false;
    screen->transcript.clear();
}

void screen_put(Screen* screen, char c)
{
    screen->transcript += c;
    std::string& line = screen->lines.back();
    if (c == '\r') {
        screen->column = 0;
        return;
    }
    if (c == '\n') {
        screen->lines.emplace_back();
        screen->changed = true;
        return;
    }
    if (screen->column >= SCREEN_COLUMNS) {
        screen->lines.emplace_back();
        screen->column = 0;
        screen->transcript.pop_back();  // put again below
        screen_put(screen, c);
        return;
    }
    if (static_cast<int>(line.size()) <= screen->column) line.resize(static_cast<std::size_t>(screen->column) + 1, ' ');
    line[static_cast<std::size_t>(screen->column++)] = c;
    screen->changed = true;
}

std::vector<std::string> screen_text(const Screen* screen)
{
    std::vector<std::string> out;
    for (std::string line : screen->lines) {
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out.push_back(line);
    }
    return out;
}
