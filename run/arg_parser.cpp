// arg_parser.cpp - the command-line parser.
#include "run/arg_parser.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

static const int STRING_TARGET_SIZE = 256;

void apply_option_defaults(const OptionSpec* table)
{
    if (table == nullptr) return;
    for (const OptionSpec* row = table; row->name != nullptr; ++row) {
        switch (row->kind) {
        case OPT_TOGGLE:
        case OPT_INTEGER:
            *static_cast<std::int32_t*>(row->target) = row->default_value.integer;
            break;
        case OPT_FLOAT:
            *static_cast<float*>(row->target) = row->default_value.real;
            break;
        case OPT_STRING: {
            char* buffer = static_cast<char*>(row->target);
            buffer[0] = '\0';
            const char* text = row->default_value.text;
            if (text != nullptr && std::strlen(text) < STRING_TARGET_SIZE - 1)
                std::strcpy(buffer, text);
            break;
        }
        default:
            break;  // unknown kinds are skipped
        }
    }
}

// Whole text against whole text, ignoring the case of A to Z only.
static bool same_word(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a + 32) : *a;
        char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b + 32) : *b;
        if (x != y) return false;
        if (x == '\0') return true;
    }
}

// One row acting on a matched option word; argv[*i] is the argument after
// the word.  Returns 1 (taken) or -1 (its value is missing or too long).
static int act_on_row(const OptionSpec* row, int argc, char** argv, int* i)
{
    switch (row->kind) {
    case OPT_TOGGLE:
        *static_cast<std::int32_t*>(row->target) ^= 1;
        return 1;
    case OPT_INTEGER:
        if (*i >= argc) return -1;
        *static_cast<std::int32_t*>(row->target) = std::atoi(argv[(*i)++]);
        return 1;
    case OPT_FLOAT:
        if (*i >= argc) return -1;
        *static_cast<float*>(row->target) = static_cast<float>(std::atof(argv[(*i)++]));
        return 1;
    case OPT_STRING:
        if (*i >= argc || std::strlen(argv[*i]) > STRING_TARGET_SIZE - 1) return -1;
        std::strcpy(static_cast<char*>(row->target), argv[(*i)++]);
        return 1;
    default:
        return 1;  // not reached: rows of unknown kinds never match
    }
}

ArgList* parse_args(int argc, char** argv, const OptionSpec* table)
{
    apply_option_defaults(table);
    int slots = argc > 0 ? argc : 1;
    // One block: the list record, then room for every argument's pointer.
    void* block = std::malloc(sizeof(ArgList) + sizeof(char*) * static_cast<std::size_t>(slots));
    if (block == nullptr) return nullptr;
    ArgList* list = static_cast<ArgList*>(block);
    list->count = 0;
    list->items = reinterpret_cast<char**>(list + 1);

    int i = 1;
    while (i < argc) {
        int result = 0;
        if (table != nullptr && (argv[i][0] == '-' || argv[i][0] == '/')) {
            // After a match the following rows are tried against the next
            // argument, from its second character, whatever it begins with.
            // An empty argument has no second character and matches nothing.
            for (const OptionSpec* row = table; row->name != nullptr && i < argc; ++row) {
                if (row->kind < OPT_TOGGLE || row->kind > OPT_STRING) continue;
                if (argv[i][0] == '\0' || !same_word(argv[i] + 1, row->name)) continue;
                ++i;
                result = act_on_row(row, argc, argv, &i);
                if (result < 0) break;
            }
        }
        if (result == 0) {
            list->items[list->count++] = argv[i++];
        } else if (result < 0) {
            std::printf("%s : Invalid options, try -? option.\n", argv[0]);
            std::fflush(stdout);
            std::exit(1);
        }
    }
    return list;
}

int arg_count(const ArgList* list)
{
    return list == nullptr ? 0 : list->count;
}

char* arg_item(const ArgList* list, int index)
{
    if (list == nullptr || index < 0 || index >= list->count) return nullptr;
    return list->items[index];
}

void arg_list_free(ArgList* list)
{
    std::free(list);
}
