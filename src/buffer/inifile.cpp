// CIniFile and the profile-file reader/writer under it.
#include "buffer/inifile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace profile {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view s)
{
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

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

// The file as lines without their ends; rewritten with the line end it used first.
struct Document {
    std::vector<std::string> lines;
    std::string eol = "\n";
    bool bom = false;
};

Document Parse(const std::string& text)
{
    Document doc;
    std::string_view rest = text;
    if (rest.starts_with(kBom)) {
        doc.bom = true;
        rest.remove_prefix(kBom.size());
    }
    const auto firstLf = rest.find('\n');
    if (firstLf != std::string_view::npos && firstLf > 0 && rest[firstLf - 1] == '\r')
        doc.eol = "\r\n";
    while (!rest.empty()) {
        const auto lf = rest.find('\n');
        std::string_view line = rest.substr(0, lf);
        rest = lf == std::string_view::npos ? std::string_view{} : rest.substr(lf + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        doc.lines.emplace_back(line);
    }
    return doc;
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

// "key = value" gives both, trimmed; comments, headers and lines without '=' are not keys.
bool KeyOf(std::string_view line, std::string_view& key, std::string_view& value)
{
    line = Trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#' || line[0] == '[')
        return false;
    const auto eq = line.find('=');
    if (eq == std::string_view::npos)
        return false;
    key = Trim(line.substr(0, eq));
    value = Trim(line.substr(eq + 1));
    return !key.empty();
}

struct Location {
    std::ptrdiff_t keyLine = -1;    // first line holding the key
    std::ptrdiff_t insertAt = -1;   // where a new key goes: after the first block's last entry
};

// A section that appears more than once reads as one: the first of its keys wins.
Location Find(const Document& doc, std::string_view section, std::string_view key,
              std::string_view* value = nullptr)
{
    Location loc;
    bool inSection = false;
    bool firstBlock = false;
    for (std::size_t i = 0; i < doc.lines.size(); ++i) {
        std::string_view name, k, v;
        if (SectionOf(doc.lines[i], name)) {
            inSection = EqualNoCase(name, section);
            firstBlock = inSection && loc.insertAt < 0;
            if (firstBlock)
                loc.insertAt = static_cast<std::ptrdiff_t>(i) + 1;
            continue;
        }
        if (!inSection || !KeyOf(doc.lines[i], k, v))
            continue;
        if (firstBlock)
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
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0
        && static_cast<std::uint64_t>(st.st_size) <= kMaxFileSize;
    std::string data;
    char chunk[4096];
    while (ok) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        data.append(chunk, static_cast<std::size_t>(n));
        ok = data.size() <= kMaxFileSize;  // it may grow while we read
    }
    ::close(fd);
    if (ok)
        text = std::move(data);
    return ok;
}

// Cut to at most `limit` bytes without splitting a UTF-8 sequence.
std::string Cut(std::string_view s, std::size_t limit)
{
    if (s.size() <= limit)
        return std::string(s);
    std::size_t n = limit;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
        --n;
    return std::string(s.substr(0, n));
}

std::string OneLine(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c == '\r' || c == '\n')
            c = ' ';
    return out;
}

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : m_fd(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Close(); }
    void Reset(int fd)
    {
        Close();
        m_fd = fd;
    }
    int Get() const { return m_fd; }
    bool Close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool WriteFully(int fd, const std::string& data)
{
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// Replaces `target` with `content` so that readers see either the old or the new file, never
// a part of one. A symbolic link is followed, so the link itself stays.
bool ReplaceFile(fs::path target, const std::string& content)
{
    std::error_code ec;
    if (fs::is_symlink(target, ec)) {
        const fs::path real = fs::canonical(target, ec);
        if (!ec)
            target = real;
    }
    const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");

    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0;
    // The rename below only needs the folder's rights; a file we may not write stays as it is.
    if (existed && ::access(target.c_str(), W_OK) != 0)
        return false;

    std::random_device rd;
    fs::path tmp;
    UniqueFd fd;
    for (int attempt = 0; attempt < 16 && fd.Get() < 0; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".tmp%08x", static_cast<unsigned>(rd()));
        tmp = dir / ("." + target.filename().string() + suffix);
        fd.Reset(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd.Get() < 0 && errno != EEXIST)
            return false;
    }
    if (fd.Get() < 0)
        return false;

    bool ok = WriteFully(fd.Get(), content);
    if (ok && existed) {
        // Best effort: only the owner (or root) may hand the file back to its owner.
        (void)::fchown(fd.Get(), old.st_uid, old.st_gid);
        (void)::fchmod(fd.Get(), old.st_mode & 07777);
    }
    ok = ok && ::fsync(fd.Get()) == 0;
    ok = fd.Close() && ok;
    ok = ok && ::rename(tmp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(tmp.c_str());
        return false;
    }
    UniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.Get() >= 0)
        (void)::fsync(dirFd.Get());
    return true;
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
            if (Find(doc, Trim(section), Trim(key), &value).keyLine >= 0) {
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
                 const std::string& value)
{
    try {
        const std::string sec = OneLine(Trim(section));
        const std::string k = OneLine(Trim(key));
        if (sec.empty() || k.empty())
            return false;
        const std::string v = OneLine(value);

        std::string text;
        std::error_code ec;
        if (!ReadAll(path, text) && fs::exists(path, ec))
            return false; // there but unreadable: never overwrite what we could not read
        Document doc = Parse(text);

        const Location loc = Find(doc, Trim(sec), Trim(k));
        if (loc.keyLine >= 0) {
            // Keep the spelling of the key as the file has it.
            std::string_view oldKey, oldValue;
            KeyOf(doc.lines[static_cast<std::size_t>(loc.keyLine)], oldKey, oldValue);
            doc.lines[static_cast<std::size_t>(loc.keyLine)] = std::string(oldKey) + "=" + v;
        } else if (loc.insertAt >= 0) {
            doc.lines.insert(doc.lines.begin() + loc.insertAt, k + "=" + v);
        } else {
            if (!doc.lines.empty() && !Trim(doc.lines.back()).empty())
                doc.lines.emplace_back();
            doc.lines.push_back("[" + sec + "]");
            doc.lines.push_back(k + "=" + v);
        }

        std::string out(doc.bom ? kBom : std::string_view{});
        for (const auto& line : doc.lines)
            out += line + doc.eol;
        return ReplaceFile(path, out);
    } catch (...) {
        return false;
    }
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

void CIniFile::WriteString(const char* szKey, const char* szValue, const char* szSection)
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
    (void)profile::WriteString(m_strPath, m_strSection, szKey ? szKey : "",
                               szValue ? szValue : "");
}

void CIniFile::WriteInt(const char* szKey, int nValue, const char* szSection)
{
    WriteString(szKey, std::to_string(nValue).c_str(), szSection);
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
