// tarvexctl's command frame: dispatch, help texts and option parsing.
#include "cli.h"

#include "buffer/imageloader.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace tarvexctl {
namespace {

constexpr std::string_view kExitCodesHelp =
    "Exit codes:\n"
    "  0  success\n"
    "  2  usage error (unknown command or option, missing argument)\n"
    "  3  a file cannot be read or written\n"
    "  4  no emulator found\n"
    "  5  a transfer to or from the emulator failed\n";

void PrintOverallHelp(std::ostream& os)
{
    os << "Usage: tarvexctl COMMAND [ARGS...]\n"
          "       tarvexctl COMMAND --help\n\n"
          "Commands:\n";
    for (const Command& c : Commands()) {
        std::string name(c.name);
        name.resize(std::max<std::size_t>(name.size(), 10), ' ');
        os << "  " << name << "  " << c.summary << '\n';
    }
    os << '\n' << kExitCodesHelp;
}

const Command* FindCommand(std::string_view name)
{
    for (const Command& c : Commands())
        if (c.name == name)
            return &c;
    return nullptr;
}

bool IsHelp(std::string_view arg)
{
    return arg == "--help" || arg == "-h";
}

}  // namespace

int Run(int argc, const char* const* argv, Io io)
{
    if (argc < 2) {
        PrintOverallHelp(io.err);
        return kExitUsage;
    }
    const std::string_view first = argv[1];
    if (IsHelp(first) || first == "help") {
        if (first == "help" && argc > 2) {
            if (const Command* c = FindCommand(argv[2])) {
                io.out << c->help;
                return kExitOk;
            }
            io.err << "tarvexctl: unknown command '" << argv[2] << "'\n";
            return kExitUsage;
        }
        PrintOverallHelp(io.out);
        return kExitOk;
    }
    const Command* command = FindCommand(first);
    if (command == nullptr) {
        io.err << "tarvexctl: unknown command '" << first << "'\n"
               << "Run 'tarvexctl --help' for the list of commands.\n";
        return kExitUsage;
    }

    std::vector<std::string> args;
    for (int i = 2; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--")
            break;
        if (IsHelp(argv[i])) {
            io.out << command->help;
            return kExitOk;
        }
    }
    args.assign(argv + 2, argv + argc);
    try {
        return command->run(args, io);
    } catch (const UsageError& e) {
        io.err << "tarvexctl " << command->name << ": " << e.what() << '\n'
               << "Run 'tarvexctl " << command->name << " --help' for its usage.\n";
        return kExitUsage;
    }
}

ArgParser::ArgParser(const std::vector<std::string>& args, std::initializer_list<OptionDef> options)
{
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            m_positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0)
            throw UsageError("unknown option '" + arg + "'");
        const std::size_t eq = arg.find('=');
        const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
        const OptionDef* def = nullptr;
        for (const OptionDef& s : options)
            if (s.name == name)
                def = &s;
        if (def == nullptr)
            throw UsageError("unknown option '--" + name + "'");
        if (!def->takesValue) {
            if (eq != std::string::npos)
                throw UsageError("option '--" + name + "' takes no value");
            m_options.emplace_back(name, std::string());
        } else if (eq != std::string::npos) {
            m_options.emplace_back(name, arg.substr(eq + 1));
        } else if (i + 1 < args.size()) {
            m_options.emplace_back(name, args[++i]);
        } else {
            throw UsageError("option '--" + name + "' needs a value");
        }
    }
}

bool ArgParser::Has(std::string_view name) const
{
    for (const auto& [n, v] : m_options)
        if (n == name)
            return true;
    return false;
}

std::optional<std::string> ArgParser::Value(std::string_view name) const
{
    std::optional<std::string> value;
    for (const auto& [n, v] : m_options)
        if (n == name)
            value = v;
    return value;
}

int ParseFormat(const std::optional<std::string>& text)
{
    if (!text || *text == "ihex")
        return 0;
    if (*text == "bin")
        return 1;
    throw UsageError("unknown format '" + *text + "' (use ihex or bin)");
}

std::uint8_t ParseFill(const std::optional<std::string>& text)
{
    if (!text)
        return ParseFillByte("00");
    // The page's field takes two characters; here anything but one or two hex digits is
    // refused rather than silently read as 00.
    const bool ok = !text->empty() && text->size() <= 2 &&
                    std::isxdigit(static_cast<unsigned char>((*text)[0])) &&
                    (text->size() == 1 || std::isxdigit(static_cast<unsigned char>((*text)[1])));
    if (!ok)
        throw UsageError("fill value '" + *text + "' is not one or two hex digits");
    return ParseFillByte(*text);
}

}  // namespace tarvexctl
