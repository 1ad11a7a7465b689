// SPDX-License-Identifier: MIT
// tarvexctl's command frame: dispatch, help texts and option parsing.
#include "cli.h"

#include "toolload.h"

#include "image/imageloader.h"
#include "tarvex_version.h"

#include <algorithm>
#include <iterator>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>

namespace tarvexctl {
namespace {

constexpr std::string_view kExitCodesHelp =
    "Exit codes:\n"
    "  0  success\n"
    "  2  usage error (unknown command or option, missing argument)\n"
    "  3  a file cannot be read, is refused (--strict), or cannot be written\n"
    "  4  no emulator found (or none that may be opened)\n"
    "  5  the emulator is busy, or a transfer to or from it failed\n"
    "  6  verify: the emulator does not hold what the file says\n";

void PrintOverallHelp(std::ostream& os)
{
    os << "Usage: tarvexctl COMMAND [ARGS...] [-q] [-v] [-h]\n"
          "  or:  tarvexctl help COMMAND\n"
          "  or:  tarvexctl -V|--version\n\n"
          "Commands:\n";
    for (const Command& c : Commands()) {
        std::string name(c.name);
        name.resize(std::max<std::size_t>(name.size(), 10), ' ');
        os << "  " << name << "  " << c.summary << '\n';
    }
    os << "\n"
          "Every command takes:\n"
          "  -q, --quiet        print nothing but errors\n"
          "  -v, --verbose      say more: the format read, what was sent and its CRC-32\n"
          "  -h, --help         show the command's usage and options\n"
          "Short options combine (-qv). Addresses, sizes and bytes are hex numbers,\n"
          "with or without 0x. FILE - is standard input, OUT - standard output.\n"
          "\n"
          "Examples:\n"
          "  tarvexctl write build/fw.hex --rom 27C256 --verify\n"
          "  tarvexctl watch build/fw.hex --rom 27C64 --base 0xE000\n"
          "\n"
       << kExitCodesHelp;
}

constexpr OptionDef kCommonOptions[] = {
    {"quiet", {}, 'q'},
    {"verbose", {}, 'v'},
    {"help", {}, 'h'},
};

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
                io.out << UsageOf(*c) << c->help;
                return kExitOk;
            }
            io.err << "tarvexctl: unknown command '" << argv[2] << "'\n";
            return kExitUsage;
        }
        PrintOverallHelp(io.out);
        return kExitOk;
    }
    if (first == "--version" || first == "-V" || first == "version") {
        io.out << "tarvexctl " << TARVEX_VERSION << '\n';
        return kExitOk;
    }
    const Command* command = FindCommand(first);
    if (command == nullptr) {
        io.err << "tarvexctl: unknown command '" << first << "'\n"
               << "Run 'tarvexctl --help' for the list of commands.\n";
        return kExitUsage;
    }

    const std::vector<std::string> args(argv + 2, argv + argc);
    // Help wins over whatever else is wrong on the line.
    for (const std::string& arg : args) {
        if (arg == "--")
            break;
        if (IsHelp(arg)) {
            io.out << UsageOf(*command) << command->help;
            return kExitOk;
        }
    }
    try {
        const std::vector<OptionDef> options = OptionsOf(*command);
        const ArgParser parser(args, options);
        if (parser.Has("help")) {
            io.out << UsageOf(*command) << command->help;
            return kExitOk;
        }
        const int code = command->run(parser, io);
        // What a script reads must have arrived: a full disk or a closed pipe is a failure.
        errno = 0;
        io.out.flush();
        if (!io.out) {
            const int err = errno;
            io.err << "tarvexctl " << command->name << ": cannot write standard output"
                   << (err != 0 ? std::string(": ") + std::strerror(err) : std::string()) << '\n';
            return code == kExitOk ? kExitFile : code;
        }
        return code;
    } catch (const UsageError& e) {
        io.err << "tarvexctl " << command->name << ": " << e.what() << '\n'
               << "Run 'tarvexctl " << command->name << " --help' for its usage.\n";
        return kExitUsage;
    }
}

std::vector<OptionDef> OptionsOf(const Command& command)
{
    std::vector<OptionDef> options(command.options.begin(), command.options.end());
    if (command.bLoads)
        options.insert(options.end(), LoadOptionDefs().begin(), LoadOptionDefs().end());
    options.insert(options.end(), std::begin(kCommonOptions), std::end(kCommonOptions));
    return options;
}

std::string UsageOf(const Command& command)
{
    constexpr std::size_t kWidth = 79;
    std::string head = "Usage: tarvexctl " + std::string(command.name);
    if (!command.operands.empty())
        head += " " + std::string(command.operands);
    const std::string indent(std::min<std::size_t>(head.size() + 1, 30), ' ');
    std::string usage = head;
    std::size_t lineStart = 0;
    for (const OptionDef& o : OptionsOf(command)) {
        const std::string item = o.shortName != 0 && !o.TakesValue()
                                     ? "[-" + std::string(1, o.shortName) + "]"
                                     : "[--" + std::string(o.name) + (o.TakesValue() ? " " + std::string(o.value) : "") + "]";
        if (usage.size() - lineStart + 1 + item.size() > kWidth) {
            usage += "\n";
            lineStart = usage.size();
            usage += indent.substr(1);
        }
        usage += " " + item;
    }
    return usage + "\n\n";
}

ArgParser::ArgParser(const std::vector<std::string>& args, std::span<const OptionDef> options)
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
        const OptionDef* def = nullptr;
        if (arg.rfind("--", 0) != 0) {
            // Short flags, alone or combined ("-q", "-qv").
            for (std::size_t k = 1; k < arg.size(); ++k) {
                def = nullptr;
                for (const OptionDef& s : options)
                    if (s.shortName != 0 && s.shortName == arg[k] && !s.TakesValue())
                        def = &s;
                if (def == nullptr)
                    throw UsageError("unknown option '" + (arg.size() == 2 ? arg : "-" + std::string(1, arg[k])) +
                                     "'" + (arg.size() == 2 ? "" : " in '" + arg + "'"));
                m_options.emplace_back(std::string(def->name), std::string());
            }
            continue;
        }
        const std::size_t eq = arg.find('=');
        const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
        for (const OptionDef& s : options)
            if (s.name == name)
                def = &s;
        if (def == nullptr)
            throw UsageError("unknown option '--" + name + "'");
        if (!def->TakesValue()) {
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

std::string JsonString(std::string_view text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            // Pass a well-formed UTF-8 sequence through; anything else (F5 to FF among it) is not
            // JSON text.
            const std::size_t n = c >= 0xF5 ? 0 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
            bool ok = n != 0 && i + n <= text.size();
            for (std::size_t k = 1; ok && k < n; ++k)
                ok = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
            if (ok && n == 3) {
                const auto c1 = static_cast<unsigned char>(text[i + 1]);
                ok = !(c == 0xE0 && c1 < 0xA0) && !(c == 0xED && c1 >= 0xA0);
            } else if (ok && n == 4) {
                const auto c1 = static_cast<unsigned char>(text[i + 1]);
                ok = !(c == 0xF0 && c1 < 0x90) && !(c == 0xF4 && c1 >= 0x90);
            }
            if (ok) {
                out.append(text.substr(i, n));
                i += n - 1;
            } else {
                out += "\xEF\xBF\xBD";
            }
        }
    }
    return out + "\"";
}

ImageFormat ParseFormat(const std::optional<std::string>& text)
{
    ImageFormat format = ImageFormat::Auto;
    if (text && !ParseImageFormat(*text, format))
        throw UsageError("unknown format '" + *text + "' (use auto, ihex, bin, srec or xtek)");
    return format;
}

std::uint64_t ParseHex(const std::string& text, std::uint64_t max, std::string_view option)
{
    std::string_view digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits.remove_prefix(2);
    bool ok = !digits.empty() && digits.size() <= 16;
    std::uint64_t value = 0;
    for (char c : digits) {
        const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        ok = ok && d >= 0;
        value = value << 4 | static_cast<unsigned>(d < 0 ? 0 : d);
    }
    if (!ok)
        throw UsageError(std::string(option) + " '" + text + "' is not a hex number (digits 0-9 and a-f, 0x allowed)");
    if (value > max) {
        char limit[24];
        std::snprintf(limit, sizeof limit, "0x%llx", static_cast<unsigned long long>(max));
        throw UsageError(std::string(option) + " '" + text + "' is too large (at most " + limit + ")");
    }
    return value;
}

std::uint8_t ParseFill(const std::optional<std::string>& text)
{
    if (!text)
        return 0x00;
    // The page's field takes two characters; here anything but one or two hex digits (0x
    // allowed, as every number here) is refused rather than silently read as 00.
    std::string_view digits = *text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits.remove_prefix(2);
    const bool ok = !digits.empty() && digits.size() <= 2 &&
                    std::all_of(digits.begin(), digits.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
    if (!ok)
        throw UsageError("fill value '" + *text + "' is not one or two hex digits (0x allowed)");
    return ParseFillByte(std::string(digits));
}

}  // namespace tarvexctl
