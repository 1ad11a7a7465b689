// SPDX-License-Identifier: MIT
// CIniFile and the profile-file reader/writer under it.
#include "settings/inifile.h"

#include "util/fileutil.h"
#include "util/textutil.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace profile {
namespace {

using util::Trim;

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool EqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z')
            x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// One line of the file: its text and its own end (CRs and the LF, or nothing at the file's end),
// so that a rewrite gives back every line it did not change byte for byte.
struct Line {
    std::string text;
    std::string end;
};

struct Document {
    std::vector<Line> lines;
    std::string eol = "\n"; // for new lines: what the first ended line uses
    bool bom = false;
};

Document Parse(std::string_view rest)
{
    Document doc;
    if (rest.starts_with(kBom)) {
        doc.bom = true;
        rest.remove_prefix(kBom.size());
    }
    bool eolKnown = false;
    while (!rest.empty()) {
        const auto lf = rest.find('\n');
        std::string_view text = rest.substr(0, lf);
        rest = lf == std::string_view::npos ? std::string_view{} : rest.substr(lf + 1);
        std::size_t crs = 0;
        while (crs < text.size() && text[text.size() - 1 - crs] == '\r')
            ++crs;
        Line line;
        line.end = std::string(text.substr(text.size() - crs)) + (lf == std::string_view::npos ? "" : "\n");
        line.text = std::string(text.substr(0, text.size() - crs));
        if (!eolKnown && lf != std::string_view::npos) {
            doc.eol = crs > 0 ? "\r\n" : "\n";
            eolKnown = true;
        }
        doc.lines.push_back(std::move(line));
    }
    return doc;
}

std::string Serialize(const Document& doc)
{
    std::string out(doc.bom ? kBom : std::string_view{});
    for (const auto& line : doc.lines) {
        out += line.text;
        // Only the last line can lack its LF; anything after it needs one.
        if (line.end.ends_with('\n'))
            out += line.end;
        else if (line.end.empty())
            out += doc.eol;
        else
            out += line.end + "\n";
    }
    return out;
}

// "[name]" gives name; anything else is not a header.
bool SectionOf(std::string_view line, std::string_view& name)
{
    line = Trim(line);
    if (!line.starts_with('['))
        return false;
    const auto close = line.find(']');
    if (close == std::string_view::npos)
        return false;
    name = Trim(line.substr(1, close - 1));
    return true;
}

// "key = value" gives both, trimmed. Comments (";"), headers and lines without '=' are not
// keys; "#" starts an ordinary key, as with the Windows profile functions.
bool KeyOf(std::string_view line, std::string_view& key, std::string_view& value)
{
    line = Trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '[')
        return false;
    const auto eq = line.find('=');
    if (eq == std::string_view::npos)
        return false;
    key = Trim(line.substr(0, eq));
    value = Trim(line.substr(eq + 1));
    return !key.empty();
}

struct Location {
    std::ptrdiff_t keyLine = -1;  // the line holding the key
    std::ptrdiff_t insertAt = -1; // where a new key goes: after the section's last entry
};

// Only the first block of a section is searched, as the Windows profile functions do: a later
// block of the same name is neither read nor written.
Location Find(const Document& doc, std::string_view section, std::string_view key,
              std::string_view* value = nullptr)
{
    Location loc;
    bool inSection = false;
    for (std::size_t i = 0; i < doc.lines.size(); ++i) {
        std::string_view name, k, v;
        if (SectionOf(doc.lines[i].text, name)) {
            if (inSection)
                break;
            inSection = EqualNoCase(name, section);
            if (inSection)
                loc.insertAt = static_cast<std::ptrdiff_t>(i) + 1;
            continue;
        }
        if (!inSection || !KeyOf(doc.lines[i].text, k, v))
            continue;
        loc.insertAt = static_cast<std::ptrdiff_t>(i) + 1;
        if (EqualNoCase(k, key)) {
            loc.keyLine = static_cast<std::ptrdiff_t>(i);
            if (value)
                *value = v;
            return loc;
        }
    }
    return loc;
}

// Only a regular file of sensible size is read: a FIFO would block the program's start and
// /dev/zero or a huge file would eat the memory, eight times over for the page's eight keys.
bool ReadAll(const std::string& path, std::string& text)
{
    const util::CUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd.Valid())
        return false;
    struct stat st {};
    bool ok = ::fstat(fd.Get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0
        && static_cast<std::uint64_t>(st.st_size) <= kMaxFileSize;
    if (ok)
        util::LockForReading(fd.Get()); // a writer that must write in place finishes first
    std::string data;
    char chunk[4096];
    while (ok) {
        const ssize_t n = ::read(fd.Get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        data.append(chunk, static_cast<std::size_t>(n));
        ok = data.size() <= kMaxFileSize; // it may grow while we read
    }
    if (ok)
        text = std::move(data);
    return ok;
}

// Length of the well-formed UTF-8 sequence starting at s[i], or 0 when none starts there.
std::size_t Utf8SequenceAt(std::string_view s, std::size_t i)
{
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t n = 0;
    unsigned char lo = 0x80, hi = 0xBF; // range of the second byte
    if (b >= 0xC2 && b <= 0xDF)
        n = 2;
    else if (b == 0xE0)
        n = 3, lo = 0xA0;
    else if (b == 0xED)
        n = 3, hi = 0x9F; // no surrogates
    else if (b >= 0xE1 && b <= 0xEF)
        n = 3;
    else if (b == 0xF0)
        n = 4, lo = 0x90;
    else if (b >= 0xF1 && b <= 0xF3)
        n = 4;
    else if (b == 0xF4)
        n = 4, hi = 0x8F;
    else
        return 0;
    if (s.size() - i < n)
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if (k == 1 ? (c < lo || c > hi) : (c < 0x80 || c > 0xBF))
            return 0;
    }
    return n;
}

// Cut to at most `limit` bytes without splitting a UTF-8 character. Text in another encoding
// (Latin-1 from a Windows editor) has no such characters and is cut at `limit` exactly.
std::string Cut(std::string_view s, std::size_t limit)
{
    if (s.size() <= limit)
        return std::string(s);
    for (std::size_t back = 1; back <= 3 && back <= limit; ++back) {
        const std::size_t start = limit - back;
        if ((static_cast<unsigned char>(s[start]) & 0xC0) == 0x80)
            continue;
        if (Utf8SequenceAt(s, start) > back)
            return std::string(s.substr(0, start));
        break;
    }
    return std::string(s.substr(0, limit));
}

std::string OneLine(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c == '\r' || c == '\n')
            c = ' ';
    return out;
}

// Why a section or key name could never be read back, or "" when it can.
std::string UnreadableName(std::string_view section, std::string_view key)
{
    if (section.empty())
        return "the section name is empty";
    if (section.find(']') != std::string_view::npos)
        return "the section name \"" + std::string(section) + "\" contains ']'";
    if (key.empty())
        return "the key name is empty";
    if (key.find('=') != std::string_view::npos)
        return "the key name \"" + std::string(key) + "\" contains '='";
    if (key.front() == ';' || key.front() == '[')
        return "the key name \"" + std::string(key) + "\" starts with '" + key.front() + "'";
    return {};
}

} // namespace

std::string GetString(const std::string& path, const std::string& section, const std::string& key,
                      const std::string& def)
{
    try {
        std::string text;
        if (ReadAll(path, text)) {
            const Document doc = Parse(text);
            std::string_view value;
            // Names with line breaks were written with blanks in their place.
            const std::string sec = OneLine(section), k = OneLine(key);
            if (Find(doc, Trim(sec), Trim(k), &value).keyLine >= 0) {
                if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'')
                    && value.back() == value.front())
                    value = value.substr(1, value.size() - 2);
                return Cut(value, kMaxValue);
            }
        }
        return Cut(def, kMaxValue);
    } catch (...) {
        return {};
    }
}

bool WriteString(const std::string& path, const std::string& section, const std::string& key,
                 const std::string& value, std::string* pError)
{
    std::string error;
    bool ok = false;
    try {
        const std::string sec(Trim(OneLine(section)));
        const std::string k(Trim(OneLine(key)));
        const std::string v = OneLine(value);
        if (const std::string why = UnreadableName(sec, k); !why.empty()) {
            error = "cannot write " + path + ": " + why;
        } else {
            util::FileWriteOptions options;
            options.nMaxSize = kMaxFileSize;
            options.bReadCurrent = true;
            options.bInPlaceFallback = true;
            const auto edit = [&](std::string& text, std::string&) {
                Document doc = Parse(text);
                const Location loc = Find(doc, sec, k);
                if (loc.keyLine >= 0) {
                    // Keep the spelling of the key as the file has it, and the line's own end.
                    Line& line = doc.lines[static_cast<std::size_t>(loc.keyLine)];
                    std::string_view oldKey, oldValue;
                    KeyOf(line.text, oldKey, oldValue);
                    line.text = std::string(oldKey) + "=" + v;
                } else if (loc.insertAt >= 0) {
                    doc.lines.insert(doc.lines.begin() + loc.insertAt, Line{k + "=" + v, {}});
                } else {
                    if (!doc.lines.empty() && !Trim(doc.lines.back().text).empty())
                        doc.lines.push_back({});
                    doc.lines.push_back({"[" + sec + "]", {}});
                    doc.lines.push_back({k + "=" + v, {}});
                }
                text = Serialize(doc);
                return true;
            };
            ok = util::UpdateFile(path, options, edit, error);
        }
    } catch (const std::exception& e) {
        error = "cannot write " + path + ": " + e.what();
        ok = false;
    }
    if (pError)
        *pError = ok ? std::string() : error;
    return ok;
}

int ToInt(const char* text)
{
    if (!text)
        return 0;
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    long long n = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        n = n * 10 + (*p - '0');
        if (n > static_cast<long long>(INT_MAX) + 1) {
            n = static_cast<long long>(INT_MAX) + 1;
            break;
        }
    }
    if (negative)
        return static_cast<int>(-n);
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

} // namespace profile

namespace {

std::string ConfigHome()
{
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.config";
    struct passwd pw {};
    struct passwd* found = nullptr;
    char buf[4096];
    if (::getpwuid_r(::getuid(), &pw, buf, sizeof buf, &found) == 0 && found && pw.pw_dir
        && pw.pw_dir[0] == '/')
        return std::string(pw.pw_dir) + "/.config";
    return {};
}

} // namespace

CIniFile::CIniFile(bool bModuleDir)
    : m_bModuleDir(bModuleDir), m_strPath(ProfilePathFor(ModulePath(), bModuleDir))
{
}

CIniFile::CIniFile(PathTag, std::string strPath) : m_bModuleDir(false), m_strPath(std::move(strPath))
{
}

CIniFile CIniFile::AtPath(std::string strPath)
{
    return CIniFile(PathTag{}, std::move(strPath));
}

std::string CIniFile::ModulePath()
{
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.string();
}

std::string CIniFile::ProfilePathFor(const std::string& strExePath, bool bModuleDir)
{
    const fs::path exe(strExePath);
    std::string base = exe.stem().string();
    if (base.empty())
        base = "tarvex";
    const std::string name = base + ".ini";

    std::string beside;
    if (!strExePath.empty()) {
        const fs::path dir = exe.has_parent_path() ? exe.parent_path() : fs::path(".");
        beside = (dir / name).string();
        std::error_code ec;
        if (bModuleDir && (fs::exists(beside, ec) || ::access(dir.c_str(), W_OK) == 0))
            return beside;
    }
    const std::string config = ConfigHome();
    if (config.empty())
        return beside.empty() ? name : beside;
    return (fs::path(config) / "tarvex" / name).string();
}

void CIniFile::SetSection(const char* szSection)
{
    m_strSection = szSection ? szSection : "";
}

const char* CIniFile::GetString(const char* szKey, const char* szSection, const char* szDefault)
{
    if (szSection)
        SetSection(szSection);
    const std::string value = profile::GetString(m_strPath, m_strSection, szKey ? szKey : "",
                                                 szDefault ? szDefault : "");
    const std::size_t n = std::min(value.size(), profile::kMaxValue);
    std::memcpy(m_szValue, value.data(), n);
    m_szValue[n] = '\0';
    return m_szValue;
}

int CIniFile::GetInt(const char* szKey, int nDefault, const char* szSection)
{
    return profile::ToInt(GetString(szKey, szSection, std::to_string(nDefault).c_str()));
}

bool CIniFile::WriteString(const char* szKey, const char* szValue, const char* szSection)
{
    if (szSection)
        SetSection(szSection);
    try {
        std::error_code ec;
        const fs::path dir = fs::path(m_strPath).parent_path();
        if (!dir.empty())
            fs::create_directories(dir, ec);
    } catch (...) {
        // A missing folder just makes the write below fail, silently.
    }
    return profile::WriteString(m_strPath, m_strSection, szKey ? szKey : "",
                                szValue ? szValue : "");
}

bool CIniFile::WriteInt(const char* szKey, int nValue, const char* szSection)
{
    return WriteString(szKey, std::to_string(nValue).c_str(), szSection);
}

void CIniFile::ExchangeString(bool bLoad, std::string& strMember, const char* szKey,
                              const char* szSection, const char* szDefault)
{
    if (bLoad)
        strMember = GetString(szKey, szSection, szDefault);
    else
        WriteString(szKey, strMember.c_str(), szSection);
}

void CIniFile::ExchangeInt(bool bLoad, int& nMember, const char* szKey, const char* szSection,
                           int nDefault)
{
    if (bLoad)
        nMember = GetInt(szKey, nDefault, szSection);
    else
        WriteInt(szKey, nMember, szSection);
}

void CIniFile::ExchangeInt(bool bLoad, unsigned& nMember, const char* szKey,
                           const char* szSection, int nDefault)
{
    int n = static_cast<int>(nMember);
    ExchangeInt(bLoad, n, szKey, szSection, nDefault);
    nMember = static_cast<unsigned>(n);
}
