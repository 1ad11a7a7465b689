// SPDX-License-Identifier: MIT
// tarvexctl's argument parsing, through tarvexctl::Run with string streams, on the commands that
// need no emulator (load, sum, help): whatever the arguments, it ends with exit 0, 2 or 3, and
// every line --json prints is one valid JSON value.
#include "fuzzcheck.h"

#include "cli.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

namespace {

// A small JSON reader: true when s[i...] holds one value, advancing i past it.
class JsonCheck {
public:
    explicit JsonCheck(std::string_view s) : m_s(s) {}
    bool Whole()
    {
        return Value() && (Space(), m_i == m_s.size());
    }

private:
    void Space()
    {
        while (m_i < m_s.size() && (m_s[m_i] == ' ' || m_s[m_i] == '\t' || m_s[m_i] == '\n' || m_s[m_i] == '\r'))
            ++m_i;
    }
    bool Eat(char c)
    {
        Space();
        if (m_i < m_s.size() && m_s[m_i] == c) {
            ++m_i;
            return true;
        }
        return false;
    }
    bool Word(std::string_view w)
    {
        if (m_s.substr(m_i, w.size()) != w)
            return false;
        m_i += w.size();
        return true;
    }
    bool String()
    {
        if (!Eat('"'))
            return false;
        const std::size_t start = m_i;
        while (m_i < m_s.size() && m_s[m_i] != '"') {
            const auto c = static_cast<unsigned char>(m_s[m_i]);
            if (c < 0x20)
                return false;
            if (c == '\\') {
                if (++m_i >= m_s.size())
                    return false;
                const char e = m_s[m_i];
                if (e == 'u') {
                    for (int k = 0; k < 4; ++k)
                        if (++m_i >= m_s.size() || !std::isxdigit(static_cast<unsigned char>(m_s[m_i])))
                            return false;
                } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
                    return false;
                }
            }
            ++m_i;
        }
        if (m_i >= m_s.size() || !IsUtf8(m_s.substr(start, m_i - start)))
            return false;
        ++m_i;
        return true;
    }
    bool Number()
    {
        const std::size_t start = m_i;
        if (m_i < m_s.size() && m_s[m_i] == '-')
            ++m_i;
        const std::size_t digits = m_i;
        while (m_i < m_s.size() && m_s[m_i] >= '0' && m_s[m_i] <= '9')
            ++m_i;
        if (m_i == digits || (m_s[digits] == '0' && m_i - digits > 1))
            return false;
        return m_i > start;
    }
    bool Value()
    {
        if (++m_depth > 64)
            return false;
        Space();
        if (m_i >= m_s.size())
            return false;
        bool ok = false;
        switch (m_s[m_i]) {
        case '{':
            ++m_i;
            if (Eat('}')) {
                ok = true;
                break;
            }
            do {
                ok = String() && Eat(':') && Value();
            } while (ok && Eat(','));
            ok = ok && Eat('}');
            break;
        case '[':
            ++m_i;
            if (Eat(']')) {
                ok = true;
                break;
            }
            do {
                ok = Value();
            } while (ok && Eat(','));
            ok = ok && Eat(']');
            break;
        case '"': ok = String(); break;
        case 't': ok = Word("true"); break;
        case 'f': ok = Word("false"); break;
        case 'n': ok = Word("null"); break;
        default: ok = Number(); break;
        }
        --m_depth;
        return ok;
    }

    std::string_view m_s;
    std::size_t m_i = 0;
    int m_depth = 0;
};

// Arguments are picked from these by the input's bytes; FILE and OUT name files of this run.
constexpr const char* kWords[] = {
    "load", "sum", "help", "--help", "--version", "FILE", "FILE", "FILE", "OUT",
    "--format", "auto", "ihex", "bin", "srec", "xtek", "--fill", "FF", "0", "zz", "--rom", "27C64", "27c256",
    "27C080", "7", "9", "--strict", "--json", "--json", "--map", "--out", "--out-format", "--split", "even", "odd",
    "--range", "0:2000", "10:5", "0x100:fffff", "--base", "0xE000", "0x08000000", "ffffffffffffffff",
    "0x", "--skip", "4", "--at", "0x1000", "fffff", "100000", "--wrap", "--segments", "--swap-bytes",
    "--swap-lines", "14,15", "0,1", "12,13", "3,3", "19,0", "--checksum", "sum8:1fff", "crc32le:1ffc",
    "crc32be:0", "sum16le:fffff", "sum16be:10", "crc32:0", "-q", "-v", "--", "--base=0x10", "--at=", "-x",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A folder of its own for FILE and OUT, removed when the run ends.
    static const struct Folder {
        Folder()
        {
            char tmpl[] = "/tmp/fuzz_ctlargs.XXXXXX";
            if (const char* made = ::mkdtemp(tmpl))
                path = made;
        }
        ~Folder()
        {
            std::error_code ec;
            if (!path.empty())
                std::filesystem::remove_all(path, ec);
        }
        std::filesystem::path path;
    } folder;
    if (folder.path.empty())
        return 0;
    static const std::string file = (folder.path / "in").string(), out = (folder.path / "out.hex").string();
    // The first byte picks the command, one that needs no emulator. Then up to 0xFE picks a word;
    // 0xFF takes the following bytes up to a 0 as one argument; a 0 ends the arguments and the
    // rest is FILE's content.
    if (size == 0)
        return 0;
    static constexpr const char* kCommands[] = {"load", "load", "sum", "sum", "help", "--help", "--version"};
    std::vector<std::string> args{"tarvexctl", kCommands[data[0] % 7]};
    std::size_t i = 1;
    for (; i < size && data[i] != 0 && args.size() < 24; ++i) {
        if (data[i] == 0xFF) {
            std::string raw;
            while (++i < size && data[i] != 0)
                raw += static_cast<char>(data[i]);
            // Standard input and output are the fuzzer's; only OUT may be written.
            if (raw != "-" && raw.rfind("--o", 0) != 0)
                args.push_back(raw);
            continue;
        }
        std::string word = kWords[data[i] % (sizeof kWords / sizeof kWords[0])];
        args.push_back(word == "FILE" ? file : word == "OUT" ? out : word);
    }
    {
        std::ofstream f(file, std::ios::binary | std::ios::trunc);
        if (i < size)
            f.write(reinterpret_cast<const char*>(data + i + 1), static_cast<std::streamsize>(size - i - 1));
    }
    // "--out X" writes X: only OUT may be written.
    for (std::size_t k = 1; k + 1 < args.size(); ++k)
        if (args[k] == "--out")
            args[k + 1] = out;
    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());

    std::ostringstream os, es;
    const int code = tarvexctl::Run(static_cast<int>(argv.size()), argv.data(), {os, es});
    FUZZ_CHECK(code == 0 || code == 2 || code == 3);
    // Help and the version are text whatever else is asked.
    bool json = false, help = false;
    for (std::size_t k = 1; k < args.size() && args[k] != "--"; ++k) {
        json = json || args[k] == "--json";
        help = help || args[k] == "--help" || args[k] == "-h";
    }
    if (json && !help && code == 0 && (args[1] == "load" || args[1] == "sum")) {
        std::istringstream lines(os.str());
        for (std::string line; std::getline(lines, line);)
            FUZZ_CHECK(JsonCheck(line).Whole());
    }
    return 0;
}
