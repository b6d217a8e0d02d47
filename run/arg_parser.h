// arg_parser.h - a small table-driven command-line parser.
//
// A table of option rows says which option words exist (led by '-' or '/',
// matched ignoring case), what value each takes and where it goes.  Every
// other argument, and every option word that matches no row, is collected
// in order into an ArgList of positional arguments.
#pragma once
#include <cstdint>
#include <memory>

enum OptionKind { OPT_TOGGLE = 0, OPT_INTEGER = 1, OPT_FLOAT = 2, OPT_STRING = 3 };

// A row's default: the member that its kind names is the one used.
union OptionDefault {
    std::int32_t integer;  // OPT_TOGGLE, OPT_INTEGER
    float real;            // OPT_FLOAT
    const char* text;      // OPT_STRING: a text or null
};

struct OptionSpec {
    const char* name;             // option word without its prefix; null ends the table
    std::int32_t kind;            // an OptionKind
    void* target;                 // int32_t, float, or a char buffer of at least 256 bytes
    OptionDefault default_value;  // stored by apply_option_defaults
};

struct ArgList {
    std::int32_t count;  // number of entries
    char** items;        // the argument texts themselves, in command-line order
};

// Stores every row's default into its target.  A null table does nothing.
void apply_option_defaults(const OptionSpec* table);
// Parses argv[1..argc-1] against table (or null).  Returns a new list, or
// null when it cannot be allocated.  Ends the process with status 1 on an
// option that lacks its value.
ArgList* parse_args(int argc, char** argv, const OptionSpec* table);
int arg_count(const ArgList* list);
// Entry index (0 is the first positional argument), or null.
char* arg_item(const ArgList* list, int index);
void arg_list_free(ArgList* list);

// The owner of a parsed list: releases it when it goes.
struct ArgListFreer {
    void operator()(ArgList* list) const { arg_list_free(list); }
};
using ArgListOwner = std::unique_ptr<ArgList, ArgListFreer>;
