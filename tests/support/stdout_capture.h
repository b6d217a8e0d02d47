// stdout_capture.h - captures what the code under test prints to standard
// output (all of TOBRIN's console output goes there).
#pragma once
#include <cstdio>
#include <string>

class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;
    // Everything printed since the capture began; ends the capture.
    std::string finish();

private:
    int saved_ = -1;              // the real standard output
    int file_ = -1;               // where it goes meanwhile
    std::FILE* temporary_ = nullptr;
};
