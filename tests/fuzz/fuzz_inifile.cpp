// SPDX-License-Identifier: MIT
// The settings store: on any file, a write either changes nothing or reads back, keeps every
// other line byte for byte, and a second identical write changes nothing more.
#include "fuzzcheck.h"

#include "settings/inifile.h"
#include "util/textutil.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// One folder per run, gone at its end.
class CScratch {
public:
    CScratch()
    {
        std::string tmpl = (fs::exists("/dev/shm") ? "/dev/shm" : "/tmp") + std::string("/tarvex-fuzz-XXXXXX");
        if (::mkdtemp(tmpl.data()))
            m_dir = tmpl;
    }
    ~CScratch()
    {
        std::error_code ec;
        if (!m_dir.empty())
            fs::remove_all(m_dir, ec);
    }
    std::string File() const { return m_dir + "/fuzz.ini"; }
    bool Ok() const { return !m_dir.empty(); }

private:
    std::string m_dir;
};

std::string Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Write(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// The file as lines, each with its own end.
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const auto lf = text.find('\n', at);
        const auto end = lf == std::string::npos ? text.size() : lf + 1;
        lines.push_back(text.substr(at, end - at));
        at = end;
    }
    return lines;
}

bool SameLine(const std::string& before, const std::string& after, bool lastBefore)
{
    if (before == after)
        return true;
    // The file's last line may gain the line end it lacked.
    return lastBefore && before.find('\n') == std::string::npos && after.starts_with(before)
        && after.find_first_not_of("\r\n", before.size()) == std::string::npos;
}

// What reading gives for a written value: line breaks as blanks, trimmed, one pair of quotes off.
std::string Expected(std::string value)
{
    for (char& c : value)
        if (c == '\r' || c == '\n')
            c = ' ';
    std::string v(util::Trim(value));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return v;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static CScratch scratch;
    FUZZ_CHECK(scratch.Ok());
    // Input: file content, then NUL-separated section, key and value.
    std::vector<std::string> parts{std::string()};
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0 && parts.size() < 4)
            parts.emplace_back();
        else
            parts.back() += static_cast<char>(data[i]);
    }
    parts.resize(4);
    const std::string& before = parts[0];
    const std::string section = parts[1].empty() ? "S" : parts[1];
    const std::string key = parts[2].empty() ? "k" : parts[2];
    const std::string& value = parts[3];

    const std::string path = scratch.File();
    Write(path, before);
    std::string error;
    const bool ok = profile::WriteString(path, section, key, value, &error);
    const std::string after = Read(path);
    if (!ok) {
        FUZZ_CHECK(!error.empty());
        FUZZ_CHECK(after == before);
        return 0;
    }
    FUZZ_CHECK(error.empty());
    FUZZ_CHECK(after.size() <= profile::kMaxFileSize);

    // Reads back, as far as the 255-byte cut lets it.
    const std::string expected = Expected(value);
    const std::string got = profile::GetString(path, section, key, "\x01missing");
    FUZZ_CHECK(got.size() <= profile::kMaxValue);
    FUZZ_CHECK(expected.compare(0, got.size(), got) == 0);
    if (expected.size() <= profile::kMaxValue)
        FUZZ_CHECK(got == expected);
    else // cut, backing off at most over the three first bytes of a UTF-8 character
        FUZZ_CHECK(got.size() + 3 >= profile::kMaxValue);

    // Every line but the one changed stays as it was: lines agree from the start and from the
    // end, leaving at most one old line and at most three new ones (blank, header, key).
    const auto b = Lines(before), a = Lines(after);
    std::size_t head = 0;
    while (head < b.size() && head < a.size() && SameLine(b[head], a[head], head + 1 == b.size()))
        ++head;
    std::size_t tail = 0;
    while (tail < b.size() - head && tail < a.size() - head
           && SameLine(b[b.size() - 1 - tail], a[a.size() - 1 - tail], tail == 0))
        ++tail;
    FUZZ_CHECK(b.size() - head - tail <= 1);
    FUZZ_CHECK(a.size() - head - tail <= 3);

    // The same write again finds its line and changes nothing.
    FUZZ_CHECK(profile::WriteString(path, section, key, value));
    FUZZ_CHECK(Read(path) == after);
    return 0;
}
