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

int confirm()
{
    std::printf("Press Y to proceed, any other key to exit :");
    int key = read_key();
    // A carriage return, 43 spaces and a carriage return blank the prompt.
    std::printf("\r                                           \r");
    std::fflush(stdout);
    return key == 'Y';
}
