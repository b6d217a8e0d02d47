#include "tests/support/stdout_capture.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <unistd.h>

StdoutCapture::StdoutCapture()
{
    std::fflush(stdout);
    char name[] = "/tmp/tobrin-stdout-XXXXXX";
    file_ = mkstemp(name);
    if (file_ < 0) throw std::runtime_error("cannot capture stdout");
    unlink(name);
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
    ssize_t n;
    while ((n = read(file_, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
    close(file_);
    file_ = -1;
    return text;
}
