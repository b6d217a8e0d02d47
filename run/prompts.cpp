// prompts.cpp - confirmations.
#include "run/prompts.h"

#include <cstdio>

#include "platform/console_keys.h"

int read_key()
{
    std::fflush(stdout);  // the prompt must be visible before the wait
    int key = console_read_key();
    if (key == KEY_END_OF_INPUT) return 0;
    if (key >= 'a' && key <= 'z') key -= 'a' - 'A';
    return key;
}

static const char CONFIRM_PROMPT[] = "Press Y to proceed, any other key to exit :";

int confirm()
{
    // The first prompt takes the terminal (no echo from here on), before the
    // prompt shows: a key typed once it is seen is never echoed.
    console_prepare();
    std::printf("%s", CONFIRM_PROMPT);
    int key = read_key();
    // A carriage return, as many spaces as the prompt has characters and a
    // carriage return blank the prompt.
    std::printf("\r%*s\r", static_cast<int>(sizeof CONFIRM_PROMPT - 1), "");
    std::fflush(stdout);
    return key == 'Y';
}
