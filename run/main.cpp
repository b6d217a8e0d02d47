// main.cpp - TOBRIN: makes an Einstein system disk over RS-232.
#include "run/run_driver.h"

int main(int argc, char** argv)
{
    return run_main(argc, argv);
}
