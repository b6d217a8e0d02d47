// The command-line parser: option words, positionals, and the way a match
// carries on into the next argument.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif
#include <vector>

#include "run/arg_parser.h"
#include "run/run_driver.h"

namespace {

// Parses with TOBRIN's own table; argv[0] is "tobrin".
struct Parsed {
    std::vector<std::string> storage;
    std::vector<char*> argv;
    ArgList* list = nullptr;

    explicit Parsed(std::vector<std::string> args)
    {
        storage.push_back("tobrin");
        for (auto& a : args) storage.push_back(a);
        for (auto& s : storage) argv.push_back(s.data());
        list = parse_args(static_cast<int>(argv.size()), argv.data(), option_table);
    }
    ~Parsed() { arg_list_free(list); }
    std::vector<std::string> positionals() const
    {
        std::vector<std::string> out;
        for (int i = 0; i < arg_count(list); ++i) out.push_back(arg_item(list, i));
        return out;
    }
};

using Strings = std::vector<std::string>;

TEST(ArgParser, NoArgumentsGiveAnEmptyListAndTheDefaults)
{
    run_options.help = run_options.notrans = 7;
    Parsed p({});
    EXPECT_EQ(arg_count(p.list), 0);
    EXPECT_EQ(run_options.help, 0);
    EXPECT_EQ(run_options.notrans, 0);
}

TEST(ArgParser, OptionWordsMatchIgnoringCaseWithEitherPrefix)
{
    for (const char* word : {"-notrans", "-NOTRANS", "/notrans", "-NoTrans", "/NOTRANS"}) {
        Parsed p({"1", word});
        EXPECT_EQ(run_options.notrans, 1) << word;
        EXPECT_EQ(p.positionals(), Strings{"1"}) << word;
    }
}

TEST(ArgParser, UnknownOptionWordsArePositionalsInTheirPlace)
{
    Parsed p({"--notrans", "1", "-x", "-", "/", "image.dsk"});
    EXPECT_EQ(p.positionals(), (Strings{"--notrans", "1", "-x", "-", "/", "image.dsk"}));
    EXPECT_EQ(run_options.notrans, 0);
    EXPECT_EQ(run_options.help, 0);
}

TEST(ArgParser, AToggleGivenTwiceIsOffAgain)
{
    Parsed a({"-notrans", "1", "-notrans"});
    EXPECT_EQ(run_options.notrans, 0);
    Parsed b({"-?", "-?", "1"});
    EXPECT_EQ(run_options.help, 0);
    EXPECT_EQ(b.positionals(), Strings{"1"});
}

TEST(ArgParser, AMatchCarriesOnIntoTheNextArgumentFromItsSecondCharacter)
{
    // After -? the next argument is tried against the "notrans" row from its
    // second character on, whatever its first character is.
    Parsed p({"-?", "xnotrans", "2"});
    EXPECT_EQ(run_options.help, 1);
    EXPECT_EQ(run_options.notrans, 1);
    EXPECT_EQ(p.positionals(), Strings{"2"});
}

TEST(ArgParser, BothOrdersOfTheTwoOptionsSetBoth)
{
    Parsed a({"-?", "-notrans"});
    EXPECT_EQ(run_options.help, 1);
    EXPECT_EQ(run_options.notrans, 1);
    EXPECT_EQ(arg_count(a.list), 0);
    Parsed b({"-notrans", "-?"});
    EXPECT_EQ(run_options.help, 1);
    EXPECT_EQ(run_options.notrans, 1);
    EXPECT_EQ(arg_count(b.list), 0);
}

TEST(ArgParser, AnEmptyArgumentAfterAMatchIsAPositionalNotReadPastItsEnd)
{
    Parsed p({"-?", "", "1"});
    EXPECT_EQ(run_options.help, 1);
    EXPECT_EQ(p.positionals(), (Strings{"", "1"}));
}

TEST(ArgParser, PositionalsAreTheArgumentTextsThemselves)
{
    Parsed p({"1", "disk.dsk"});
    ASSERT_EQ(arg_count(p.list), 2);
    EXPECT_EQ(arg_item(p.list, 0), p.argv[1]);
    EXPECT_EQ(arg_item(p.list, 1), p.argv[2]);
}

TEST(ArgParser, ItemsOutsideTheListAndANullListAreEmpty)
{
    Parsed p({"1"});
    EXPECT_EQ(arg_item(p.list, 1), nullptr);
    EXPECT_EQ(arg_item(p.list, -1), nullptr);
    EXPECT_EQ(arg_count(nullptr), 0);
    EXPECT_EQ(arg_item(nullptr, 0), nullptr);
    arg_list_free(nullptr);  // does nothing
}

// A table with every kind, to prove defaults and value-taking rows.
struct AllKinds {
    std::int32_t flag = 99, number = 99;
    float real = 9.5f;
    char text[256] = "junk";
    OptionSpec table[5] = {
        {"flag", OPT_TOGGLE, &flag, {.integer = 1}},
        {"n", OPT_INTEGER, &number, {.integer = 42}},
        {"f", OPT_FLOAT, &real, {.real = 1.5f}},
        {"s", OPT_STRING, text, {.text = "default"}},
        {nullptr, OPT_TOGGLE, nullptr, {.integer = 0}},
    };
};

TEST(ArgParser, DefaultsAreStoredForEveryKind)
{
    AllKinds k;
    apply_option_defaults(k.table);
    EXPECT_EQ(k.flag, 1);
    EXPECT_EQ(k.number, 42);
    EXPECT_FLOAT_EQ(k.real, 1.5f);
    EXPECT_STREQ(k.text, "default");
    apply_option_defaults(nullptr);  // does nothing
}

TEST(ArgParser, AStringDefaultOf255CharactersLeavesTheTargetEmpty)
{
    AllKinds k;
    std::string long_default(255, 'a');
    k.table[3].default_value.text = long_default.c_str();
    apply_option_defaults(k.table);
    EXPECT_STREQ(k.text, "");
    std::string fits(254, 'b');
    k.table[3].default_value.text = fits.c_str();
    apply_option_defaults(k.table);
    EXPECT_EQ(std::string(k.text), fits);
}

TEST(ArgParser, ValueRowsTakeTheFollowingArgument)
{
    AllKinds k;
    char a0[] = "p", a1[] = "-n", a2[] = "17", a3[] = "-F", a4[] = "2.25", a5[] = "/s", a6[] = "name", a7[] = "pos";
    char* argv[] = {a0, a1, a2, a3, a4, a5, a6, a7};
    ArgList* list = parse_args(8, argv, k.table);
    EXPECT_EQ(k.number, 17);
    EXPECT_FLOAT_EQ(k.real, 2.25f);
    EXPECT_STREQ(k.text, "name");
    ASSERT_EQ(arg_count(list), 1);
    EXPECT_STREQ(arg_item(list, 0), "pos");
    arg_list_free(list);
}

TEST(ArgParserDeathTest, AValueRowAsTheLastArgumentIsAnInvalidOption)
{
    AllKinds k;
    char a0[] = "prog", a1[] = "-n";
    char* argv[] = {a0, a1};
    // The message goes to standard output; the death test reads stderr.
    EXPECT_EXIT((dup2(2, 1), parse_args(2, argv, k.table)), testing::ExitedWithCode(1),
                "^prog : Invalid options, try -\\? option\\.\n$");
}

TEST(ArgParserDeathTest, AStringValueOver255CharactersIsAnInvalidOption)
{
    AllKinds k;
    std::string value(256, 'v');
    char a0[] = "prog", a1[] = "-s";
    char* argv[] = {a0, a1, value.data()};
    EXPECT_EXIT((dup2(2, 1), parse_args(3, argv, k.table)), testing::ExitedWithCode(1),
                "^prog : Invalid options, try -\\? option\\.\n$");
}

}  // namespace
