// SPDX-License-Identifier: MIT
// CIniFile: the buffer page's settings store, a sections-and-keys INI file beside the executable.
#pragma once

#include <cstddef>
#include <string>

// Profile-file primitives over a file path. Sections and keys match without regard to case,
// blanks around names and values are ignored. Neither function throws.
namespace profile {

// Longest value handed back by GetString, in bytes.
inline constexpr std::size_t kMaxValue = 255;
// Larger files, and anything that is not a regular file, are not read: reads give the default
// and writes leave them alone.
inline constexpr std::size_t kMaxFileSize = 1024 * 1024;

// Value of `key` in `section`, or `def` when the file, the section or the key is missing.
// `key=` gives the empty text. One pair of matching enclosing quotes (" or ') is removed.
// The result (default included) is cut to kMaxValue bytes, never inside a UTF-8 sequence.
std::string GetString(const std::string& path, const std::string& section, const std::string& key,
                      const std::string& def);

// Sets `key` in `section` to `value`, creating the file, the section and the key as needed and
// keeping every other line byte for byte. Line breaks in section, key or value are replaced by
// blanks so that a value can never start a line of its own. Names that could never be read back
// (empty, a section with ']', a key with '=' or starting with ';' or '[') are refused. The file
// is replaced atomically where its folder allows and written in place where only the file may be
// written or it has other hard links; symbolic links are followed, writers lock the file, and a
// write that would take it past kMaxFileSize is refused. Returns false when nothing was written,
// with the cause in *pError.
bool WriteString(const std::string& path, const std::string& section, const std::string& key,
                 const std::string& value, std::string* pError = nullptr);

// atoi's reading (leading blanks, optional sign, decimal digits up to the first other
// character, no digits give 0), saturated at the int range instead of overflowing.
int ToInt(const char* text);

} // namespace profile

class CIniFile {
public:
    // bModuleDir: the file beside the executable (see ProfilePathFor); otherwise the per-user
    // configuration folder.
    explicit CIniFile(bool bModuleDir = true);
    // A store over an explicit file, for tools and tests.
    static CIniFile AtPath(std::string strPath);
    virtual ~CIniFile() = default;

    void SetSection(const char* szSection);
    // A null section keeps the current one; a null default counts as "". The result points
    // into m_szValue and holds until the next read.
    const char* GetString(const char* szKey, const char* szSection = nullptr,
                          const char* szDefault = nullptr);
    int GetInt(const char* szKey, int nDefault = 0, const char* szSection = nullptr);
    // The folder of the file is created as needed. Returns false when nothing was written; the
    // page ignores that, as a failed save is silent.
    bool WriteString(const char* szKey, const char* szValue, const char* szSection = nullptr);
    bool WriteInt(const char* szKey, int nValue, const char* szSection = nullptr);

    void ExchangeString(bool bLoad, std::string& strMember, const char* szKey,
                        const char* szSection = nullptr, const char* szDefault = nullptr);
    void ExchangeInt(bool bLoad, int& nMember, const char* szKey, const char* szSection = nullptr,
                     int nDefault = 0);
    // Unsigned members travel as the same 32 bits written "%d".
    void ExchangeInt(bool bLoad, unsigned& nMember, const char* szKey,
                     const char* szSection = nullptr, int nDefault = 0);

    const std::string& GetPath() const { return m_strPath; }
    const std::string& GetSection() const { return m_strSection; }

    // The running executable's full path (from /proc/self/exe), or "" when it cannot be read.
    static std::string ModulePath();
    // Where the profile of the executable at strExePath lives: its directory, base name and
    // ".ini"; when that directory is not writable and no file is there yet (or bModuleDir is
    // false), $XDG_CONFIG_HOME/tarvex/<base name>.ini, with ~/.config when the variable is unset.
    static std::string ProfilePathFor(const std::string& strExePath, bool bModuleDir);

private:
    struct PathTag {};
    CIniFile(PathTag, std::string strPath);

    bool m_bModuleDir;
    char m_szValue[profile::kMaxValue + 1] = {};
    std::string m_strPath;
    std::string m_strSection;
};
