#include "tests/support/stdout_capture.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

StdoutCapture::StdoutCapture()
{
    std::fflush(stdout);
    temporary_ = std::tmpfile();
    if (temporary_ == nullptr) throw std::runtime_error("cannot capture stdout");
    file_ = fileno(temporary_);
    saved_ = dup(1);
    dup2(file_, 1);
}

StdoutCapture::~StdoutCapture()
{
    if (saved_ >= 0) finish();
}

std::string StdoutCapture::finish()
{
    if (saved_ < 0) return {};
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
    saved_ = -1;
    std::string text;
    lseek(file_, 0, SEEK_SET);
    char buffer[4096];
    int n;
    while ((n = static_cast<int>(read(file_, buffer, sizeof buffer))) > 0) text.append(buffer, static_cast<std::size_t>(n));
    std::fclose(temporary_);
    temporary_ = nullptr;
    file_ = -1;
    return text;
}
