// SPDX-License-Identifier: MIT
// tarvexctl's command frame: exit codes, the sub-command table and option parsing.
#pragma once

#include "image/imageloader.h"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarvexctl {

// Exit codes; the overall --help lists them.
enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 2,        // bad command line
    kExitFile = 3,         // a file cannot be read or written
    kExitNoEmulator = 4,   // no emulator found (emulator commands)
    kExitTransfer = 5,     // a transfer to or from the emulator failed (emulator commands)
    kExitVerify = 6,       // the emulator does not hold what the file says (verify)
};

struct Io {
    std::ostream& out;
    std::ostream& err;
};

// A command line that does not fit the command's usage; reported with the usage, exit 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One option of a command: "--name VALUE" or a flag.
struct OptionDef {
    std::string_view name;   // without the leading "--"
    std::string_view value;  // what the usage calls its value ("TYPE"); empty for a flag
    char shortName = 0;      // "-q" for "--quiet"; 0: none
    bool TakesValue() const { return !value.empty(); }
};

class ArgParser;

struct Command {
    std::string_view name;
    std::string_view summary;   // one line in the overall help
    std::string_view operands;  // what follows the name in the usage ("FILE"); may be empty
    std::span<const OptionDef> options;  // its own options
    bool bLoads;                // takes the options of every loading command too (LoadOptionDefs)
    std::string_view help;      // what `tarvexctl CMD --help` prints after the usage
    int (*run)(const ArgParser& parser, Io& io);
};

// Every sub-command, in the order the overall help lists them (commands.cpp).
std::span<const Command> Commands();

// Every option `command` accepts: its own, the loading ones when it loads, then -q, -v and -h,
// which every command takes.
std::vector<OptionDef> OptionsOf(const Command& command);
// "Usage: tarvexctl NAME OPERANDS [--option VALUE] ... [-q] [-v] [-h]", wrapped under 80 columns.
std::string UsageOf(const Command& command);

// The whole tool: dispatches argv to a sub-command and returns the exit code.
int Run(int argc, const char* const* argv, Io io);

// The --format value: auto (the default: chosen from the file's first characters), ihex, bin,
// srec or xtek; anything else is a usage error.
ImageFormat ParseFormat(const std::optional<std::string>& text);
// The --fill value: one or two hex digits, 0x allowed (default 00); anything else is a usage
// error, where the page's field would silently read it as 00.
std::uint8_t ParseFill(const std::optional<std::string>& text);
// An address or a byte count as every option takes them: hex digits, with or without 0x, at
// most `max`; anything else is a usage error naming `option`.
std::uint64_t ParseHex(const std::string& text, std::uint64_t max, std::string_view option);

// Options of one sub-command: "--name value", "--name=value" and flags; "--" ends options.
// Short flags combine ("-qv").
class ArgParser {
public:
    ArgParser(const std::vector<std::string>& args, std::span<const OptionDef> options);

    bool Has(std::string_view name) const;
    std::optional<std::string> Value(std::string_view name) const;
    const std::vector<std::string>& Positional() const { return m_positional; }
    // Every option given, in command-line order, for those that may be repeated.
    const std::vector<std::pair<std::string, std::string>>& Options() const { return m_options; }

private:
    std::vector<std::pair<std::string, std::string>> m_options;  // last one given wins
    std::vector<std::string> m_positional;
};

// A JSON string literal of `text` (quotes and escapes; bytes that are not UTF-8 become U+FFFD).
std::string JsonString(std::string_view text);

}  // namespace tarvexctl
