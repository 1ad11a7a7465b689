// SPDX-License-Identifier: MIT
// What each command accepts, what its usage lists and what its help describes are the same
// options; short flags combine; numbers take 0x.
#include "cli.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>

using namespace tarvexctl;

namespace {

std::string Spelled(const OptionDef& o) { return "--" + std::string(o.name); }

int RunLine(const std::vector<std::string>& args, std::string& out, std::string& err)
{
    std::vector<const char*> argv{"tarvexctl"};
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    std::ostringstream o, e;
    const int code = Run(static_cast<int>(argv.size()), argv.data(), {o, e});
    out = o.str();
    err = e.str();
    return code;
}

}  // namespace

TEST(CliOptions, UsageAndHelpNameEveryOptionACommandTakesAndNoOther)
{
    // An option line of a help text: two blanks, perhaps "-x, ", then the option.
    const std::regex optionLine(R"(^  (?:-[a-zA-Z], )?(--[a-z][a-z0-9-]*))");
    for (const Command& command : Commands()) {
        SCOPED_TRACE(std::string(command.name));
        const std::string usage = UsageOf(command);
        std::set<std::string> accepted;
        for (const OptionDef& o : OptionsOf(command)) {
            accepted.insert(Spelled(o));
            const std::string inUsage = o.shortName != 0 && !o.TakesValue() ? "[-" + std::string(1, o.shortName) + "]"
                                                                            : "[" + Spelled(o);
            EXPECT_NE(usage.find(inUsage), std::string::npos) << inUsage << " missing from\n" << usage;
            EXPECT_NE(std::string(command.help).find("  " + (o.shortName ? "-" + std::string(1, o.shortName) + ", " : "") + Spelled(o)),
                      std::string::npos)
                << Spelled(o) << " is taken but not described";
        }
        std::istringstream lines{std::string(command.help)};
        for (std::string line; std::getline(lines, line);) {
            std::smatch m;
            if (std::regex_search(line, m, optionLine)) {
                EXPECT_TRUE(accepted.count(m[1])) << m[1] << " is described but not taken";
            }
        }
        // Every command takes the common flags, alone and combined.
        std::string out, err;
        std::vector<std::string> args{std::string(command.name), "-qvh"};
        EXPECT_EQ(RunLine(args, out, err), kExitOk) << err;
        EXPECT_EQ(out.rfind(usage, 0), 0u);
    }
}

TEST(CliOptions, ShortFlagsCombineAndNumbersTakeHexPrefixes)
{
    const std::vector<OptionDef> options{{"quiet", {}, 'q'}, {"verbose", {}, 'v'}, {"fill", "HH"}};
    const ArgParser both({"-qv", "FILE"}, options);
    EXPECT_TRUE(both.Has("quiet"));
    EXPECT_TRUE(both.Has("verbose"));
    EXPECT_EQ(both.Positional(), std::vector<std::string>{"FILE"});
    EXPECT_THROW(ArgParser({"-qx"}, options), UsageError);
    EXPECT_THROW(ArgParser({"--fill"}, options), UsageError);

    for (const auto& [text, value] : std::vector<std::pair<std::string, int>>{{"FF", 0xFF}, {"0xff", 0xFF}, {"0X5", 5},
                                                                              {"7", 7}})
        EXPECT_EQ(ParseFill(text), value) << text;
    for (const char* bad : {"0x", "0x100", "1FF", "zz", "-1"})
        EXPECT_THROW(ParseFill(std::string(bad)), UsageError) << bad;

    std::string out, err;
    EXPECT_EQ(RunLine({"-V"}, out, err), kExitOk);
    EXPECT_EQ(out.rfind("tarvexctl ", 0), 0u);
    EXPECT_EQ(RunLine({"help", "write"}, out, err), kExitOk);
    EXPECT_EQ(out.rfind("Usage: tarvexctl write FILE", 0), 0u);
}
