// SPDX-License-Identifier: MIT
// tarvex's command line: which first arguments are the parser's standard options, which a document.
#include "app/tarvexapp.h"

#include <QCommandLineParser>

#include <gtest/gtest.h>

namespace {

struct SCase {
    const char* arg;
    bool bOption;
};
const SCase kCases[] = {
    {"-h", true},        {"--help", true},       {"--help-all", true},   {"-v", true},
    {"--version", true}, {"./--version", false}, {"--version=1", false},
    {"--foo", false},    {"-", false},           {"-?", false},          {"fw.hex", false},
    {"", false},         {"-V", false},          {"--Version", false},
};

TEST(CommandLine, OnlyTheStandardOptionsAreNotADocument)
{
    for (const SCase& c : kCases)
        EXPECT_EQ(CTarvexApp::IsInfoOption(QString::fromUtf8(c.arg)), c.bOption) << c.arg;
}

// What main() treats as an option must be what the parser answers, or a document named like
// an option would be refused as "Unknown option".
TEST(CommandLine, TheParserKnowsEveryOptionTreatedAsOne)
{
    for (const SCase& c : kCases) {
        if (!c.bOption)
            continue;
        const char* arg = c.arg;
        QCommandLineParser parser;
        CTarvexApp::AddCommandLineOptions(parser);
        EXPECT_TRUE(parser.parse({QStringLiteral("tarvex"), QString::fromUtf8(arg)})) << arg << ": "
                                                                                     << parser.errorText().toStdString();
        EXPECT_TRUE(parser.unknownOptionNames().isEmpty()) << arg;
    }
}

} // namespace
