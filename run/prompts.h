// prompts.h - the "Press Y to proceed" confirmation and its key read.
#pragma once

// Asks "Press Y to proceed, any other key to exit :", takes one key, blanks
// the prompt line.  1 for Y or y, 0 for any other key or none.
int confirm();
// One key press, upper-cased (a-z only); 0 when no key will ever come.
int read_key();
