// SPDX-License-Identifier: MIT
// Tests of the profile reader/writer, CIniFile's path rule and the buffer page's settings list.
#include "settings/buffersettings.h"
#include "settings/inifile.h"
#include "../image/inchild.h"
#include "util/fileutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string ReadText(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteText(const fs::path& p, const std::string& text)
{
    std::ofstream(p, std::ios::binary) << text;
}

// Sets or unsets an environment variable for one scope.
class EnvGuard {
public:
    EnvGuard(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~EnvGuard()
    {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

class IniTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tarvex-ini-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
        ini = (dir / "tarvex.ini").string();
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir, ec);
    }
    std::string Get(const std::string& section, const std::string& key,
                    const std::string& def = "<default>") const
    {
        return profile::GetString(ini, section, key, def);
    }

    fs::path dir;
    std::string ini;
};

// ---- Reading -------------------------------------------------------------------------------

TEST_F(IniTest, MissingFileSectionOrKeyGivesTheDefault)
{
    EXPECT_EQ(Get("S", "k"), "<default>");
    WriteText(ini, "");
    EXPECT_EQ(Get("S", "k"), "<default>");
    WriteText(ini, "[Other]\nk=1\n[S]\nj=2\n");
    EXPECT_EQ(Get("S", "k"), "<default>");
    EXPECT_EQ(Get("Missing", "j"), "<default>");
    EXPECT_EQ(Get("S", "j"), "2");
}

TEST_F(IniTest, NamesMatchWithoutCaseAndBlanksAreIgnored)
{
    WriteText(ini, "  [ BufferPage ]  \n\t M_SFILENAME \t=   a b.hex \t\n");
    EXPECT_EQ(Get("BUFFERPAGE", "m_sFileName"), "a b.hex");
    EXPECT_EQ(Get("bufferpage", "m_sfilename"), "a b.hex");
    EXPECT_EQ(Get("  BUFFERPAGE ", " m_sFileName "), "a b.hex");
}

TEST_F(IniTest, OnePairOfMatchingQuotesIsRemoved)
{
    WriteText(ini, "[S]\n"
                   "dq=\"x y\"\n"
                   "sq='x y'\n"
                   "mixed=\"x'\n"
                   "lone=\"\n"
                   "empty=\"\"\n"
                   "inner=\" a \"\n"
                   "nested=\"a\"b\"\n"
                   "middle=a\"b\"\n");
    EXPECT_EQ(Get("S", "dq"), "x y");
    EXPECT_EQ(Get("S", "sq"), "x y");
    EXPECT_EQ(Get("S", "mixed"), "\"x'");
    EXPECT_EQ(Get("S", "lone"), "\"");
    EXPECT_EQ(Get("S", "empty"), "");
    EXPECT_EQ(Get("S", "inner"), " a ");
    EXPECT_EQ(Get("S", "nested"), "a\"b");
    EXPECT_EQ(Get("S", "middle"), "a\"b\"");
}

TEST_F(IniTest, FirstDuplicateKeyWinsAndOnlyTheFirstBlockOfASectionIsSearched)
{
    WriteText(ini, "[S]\nk=first\nK=second\n[T]\nk=other\n[s]\nk=third\nlate=yes\n");
    EXPECT_EQ(Get("S", "k"), "first");
    EXPECT_EQ(Get("T", "k"), "other");
    // As with the Windows profile functions, a second block of the same name is not read.
    EXPECT_EQ(Get("S", "late"), "<default>");
}

TEST_F(IniTest, EmptyValueIsTextAndOnlyAMissingKeyGivesTheDefault)
{
    WriteText(ini, "[S]\nk=\nblank=   \n");
    EXPECT_EQ(Get("S", "k", "d"), "");
    EXPECT_EQ(Get("S", "blank", "d"), "");
    EXPECT_EQ(Get("S", "none", "d"), "d");
}

TEST_F(IniTest, CommentsHeadersAndKeysBeforeAnySectionAreNotKeysOfASection)
{
    WriteText(ini, "top=1\n[S]\n;c=1\n# h=1\nno equals sign\n=nameless\n");
    EXPECT_EQ(Get("S", "top"), "<default>");
    EXPECT_EQ(Get("S", "c"), "<default>");
    EXPECT_EQ(Get("S", ";c"), "<default>");
    EXPECT_EQ(Get("S", "h"), "<default>");
    EXPECT_EQ(Get("S", ""), "<default>");
    // Only ';' starts a comment; '#' starts an ordinary key, as with the Windows functions.
    EXPECT_EQ(Get("S", "# h"), "1");
}

TEST_F(IniTest, CrLfEndsMissingFinalNewlineAndByteOrderMarkAreRead)
{
    WriteText(ini, "[S]\r\nk=v\r\nlast=z");
    EXPECT_EQ(Get("S", "k"), "v");
    EXPECT_EQ(Get("S", "last"), "z");
    WriteText(ini, "\xEF\xBB\xBF[S]\nk=bom\n");
    EXPECT_EQ(Get("S", "k"), "bom");
}

TEST_F(IniTest, ValuesAndDefaultsAreCutTo255BytesNeverInsideAUtf8Character)
{
    const std::string longValue(300, 'x');
    WriteText(ini, "[S]\nk=" + longValue + "\nquoted=\"" + longValue + "\"\nutf=" +
                       std::string(254, 'a') + "\xC3\xA9" + "\n");
    EXPECT_EQ(Get("S", "k"), std::string(255, 'x'));
    EXPECT_EQ(Get("S", "quoted"), std::string(255, 'x'));
    EXPECT_EQ(Get("S", "utf"), std::string(254, 'a'));
    EXPECT_EQ(Get("S", "missing", longValue), std::string(255, 'x'));
}

TEST(ProfileToInt, ReadsLikeAtoiAndSaturatesInsteadOfOverflowing)
{
    EXPECT_EQ(profile::ToInt("42"), 42);
    EXPECT_EQ(profile::ToInt(" \t42abc"), 42);
    EXPECT_EQ(profile::ToInt("-7"), -7);
    EXPECT_EQ(profile::ToInt("+5"), 5);
    EXPECT_EQ(profile::ToInt("0x10"), 0);
    EXPECT_EQ(profile::ToInt("abc"), 0);
    EXPECT_EQ(profile::ToInt(""), 0);
    EXPECT_EQ(profile::ToInt("- 5"), 0);
    EXPECT_EQ(profile::ToInt("-2147483648"), INT_MIN);
    EXPECT_EQ(profile::ToInt("99999999999999999999"), INT_MAX);
    EXPECT_EQ(profile::ToInt("-99999999999999999999"), INT_MIN);
    EXPECT_EQ(profile::ToInt(nullptr), 0);
}

// ---- Writing -------------------------------------------------------------------------------

TEST_F(IniTest, WriteCreatesFileSectionAndKey)
{
    EXPECT_TRUE(profile::WriteString(ini, "S", "k", "v"));
    EXPECT_EQ(ReadText(ini), "[S]\nk=v\n");
    EXPECT_TRUE(profile::WriteString(ini, "S", "j", "w"));
    EXPECT_TRUE(profile::WriteString(ini, "T", "k", "x"));
    EXPECT_EQ(ReadText(ini), "[S]\nk=v\nj=w\n\n[T]\nk=x\n");
}

TEST_F(IniTest, WriteReplacesInPlaceAndKeepsEveryOtherLineInOrder)
{
    const std::string before = "; settings\n"
                               "top=1\n"
                               "[First]\n"
                               "a=1\n"
                               "\n"
                               "; about the page\n"
                               "[bufferpage]\n"
                               "  M_SFILENAME = old.hex\n"
                               "# note\n"
                               "m_nFileFormat=0\n"
                               "\n"
                               "[Last]\n"
                               "z=9\n"
                               "[BUFFERPAGE]\n"
                               "m_csFillValue=AA\n";
    WriteText(ini, before);
    ASSERT_TRUE(profile::WriteString(ini, "BUFFERPAGE", "m_sFileName", "new.hex"));
    ASSERT_TRUE(profile::WriteString(ini, "BUFFERPAGE", "m_nFileFormat", "1"));
    ASSERT_TRUE(profile::WriteString(ini, "BUFFERPAGE", "m_csFillValue", "FF"));
    ASSERT_TRUE(profile::WriteString(ini, "BUFFERPAGE", "m_nRomSize", "8192"));
    EXPECT_EQ(ReadText(ini), "; settings\n"
                             "top=1\n"
                             "[First]\n"
                             "a=1\n"
                             "\n"
                             "; about the page\n"
                             "[bufferpage]\n"
                             "M_SFILENAME=new.hex\n"
                             "# note\n"
                             "m_nFileFormat=1\n"
                             "m_csFillValue=FF\n"
                             "m_nRomSize=8192\n"
                             "\n"
                             "[Last]\n"
                             "z=9\n"
                             "[BUFFERPAGE]\n"
                             "m_csFillValue=AA\n");
    EXPECT_EQ(Get("First", "a"), "1");
}

TEST_F(IniTest, WriteKeepsCrLfAndCopesWithAMissingFinalNewline)
{
    WriteText(ini, "[S]\r\nk=v\r\n[T]\r\nj=1");
    ASSERT_TRUE(profile::WriteString(ini, "T", "n", "2"));
    ASSERT_TRUE(profile::WriteString(ini, "S", "k", "w"));
    EXPECT_EQ(ReadText(ini), "[S]\r\nk=w\r\n[T]\r\nj=1\r\nn=2\r\n");

    WriteText(ini, "[S]\nk=v");
    ASSERT_TRUE(profile::WriteString(ini, "U", "u", "3"));
    EXPECT_EQ(ReadText(ini), "[S]\nk=v\n\n[U]\nu=3\n");
}

TEST_F(IniTest, LineBreaksCannotCreateKeysOrSections)
{
    ASSERT_TRUE(profile::WriteString(ini, "S", "k", "x\n[EVIL]\nm_nRomSize=1\r\ny"));
    ASSERT_TRUE(profile::WriteString(ini, "S", "a\nz", "1"));
    // "[T] [U]" would read as section T: refused.
    EXPECT_FALSE(profile::WriteString(ini, "T]\n[U", "b", "2"));
    EXPECT_EQ(Get("EVIL", "m_nRomSize"), "<default>");
    EXPECT_EQ(Get("S", "m_nRomSize"), "<default>");
    EXPECT_EQ(Get("S", "z"), "<default>");
    EXPECT_EQ(Get("U", "b"), "<default>");
    // Breaks become blanks, so the text stays on its own line.
    EXPECT_EQ(Get("S", "k"), "x [EVIL] m_nRomSize=1  y");
    EXPECT_EQ(ReadText(ini), "[S]\nk=x [EVIL] m_nRomSize=1  y\na z=1\n");
}

TEST_F(IniTest, WriteReplacesTheFileAtomicallyAndLeavesNoTemporaryFile)
{
    WriteText(ini, "[S]\nk=old\n");
    ::chmod(ini.c_str(), 0640);
    struct stat before {};
    ASSERT_EQ(::stat(ini.c_str(), &before), 0);
    const int oldFd = ::open(ini.c_str(), O_RDONLY);
    ASSERT_GE(oldFd, 0);

    ASSERT_TRUE(profile::WriteString(ini, "S", "k", "new"));

    struct stat after {};
    ASSERT_EQ(::stat(ini.c_str(), &after), 0);
    // Renamed over, not rewritten in place: a reader of the old file still sees all of it.
    EXPECT_NE(after.st_ino, before.st_ino);
    char buf[64] = {};
    EXPECT_EQ(::pread(oldFd, buf, sizeof buf - 1, 0), 10);
    EXPECT_STREQ(buf, "[S]\nk=old\n");
    ::close(oldFd);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(Get("S", "k"), "new");

    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"tarvex.ini"});
}

TEST_F(IniTest, WriteThroughASymlinkUpdatesItsTargetAndKeepsTheLink)
{
    const fs::path real = dir / "real.ini";
    WriteText(real, "[S]\nk=old\n");
    fs::create_symlink(real, ini);
    ASSERT_TRUE(profile::WriteString(ini, "S", "k", "new"));
    EXPECT_TRUE(fs::is_symlink(ini));
    EXPECT_EQ(ReadText(real), "[S]\nk=new\n");
}

TEST_F(IniTest, FailedWritesAreSilentAndChangeNothing)
{
    // A "folder" that is a regular file cannot hold the profile, not even for root.
    WriteText(dir / "plainfile", "x");
    const std::string blocked = (dir / "plainfile" / "sub" / "tarvex.ini").string();
    EXPECT_FALSE(profile::WriteString(blocked, "S", "k", "v"));
    CIniFile store = CIniFile::AtPath(blocked);
    EXPECT_NO_THROW(store.WriteString("k", "v", "S"));
    EXPECT_STREQ(store.GetString("k", "S", "d"), "d");
    EXPECT_EQ(ReadText(dir / "plainfile"), "x");
}

TEST_F(IniTest, AFileWithoutWriteRightsIsNotReplaced)
{
    WriteText(ini, "[S]\nk=old\n");
    // Renaming over the file needs only the folder's rights; those alone must not be enough.
    fs::permissions(dir, fs::perms::all);
    const bool root = ::geteuid() == 0;
    if (!root)
        ::chmod(ini.c_str(), 0444);
    const std::string path = ini;
    EXPECT_EQ(InChild(root, [&] { return !profile::WriteString(path, "S", "k", "new"); }), 0);
    EXPECT_EQ(ReadText(ini), "[S]\nk=old\n");
    EXPECT_EQ(InChild(root, [&] { return profile::GetString(path, "S", "k", "d") == "old"; }), 0);
}

TEST_F(IniTest, OnlyRegularFilesOfSensibleSizeAreRead)
{
    // A FIFO must neither block the start nor be replaced by a write.
    ASSERT_EQ(::mkfifo(ini.c_str(), 0600), 0);
    const std::string path = ini;
    EXPECT_EQ(InChild(false, [&] { return profile::GetString(path, "S", "k", "d") == "d"; }), 0);
    EXPECT_EQ(InChild(false, [&] { return !profile::WriteString(path, "S", "k", "v"); }), 0);
    EXPECT_TRUE(fs::is_fifo(ini));
    fs::remove(ini);

    // A device that never ends.
    fs::create_symlink("/dev/zero", ini);
    EXPECT_EQ(InChild(false, [&] { return profile::GetString(path, "S", "k", "d") == "d"; }), 0);
    fs::remove(ini);

    // A file larger than any profile of ours is left alone, although its first lines would do.
    std::string big = "[S]\nk=big\n";
    big.resize(profile::kMaxFileSize + 1, ';');
    WriteText(ini, big);
    EXPECT_EQ(Get("S", "k"), "<default>");
    EXPECT_FALSE(profile::WriteString(ini, "S", "k", "new"));
    EXPECT_EQ(fs::file_size(ini), big.size());
    big.resize(profile::kMaxFileSize);
    WriteText(ini, big);
    EXPECT_EQ(Get("S", "k"), "big");
}

// ---- Never losing a save ------------------------------------------------------------------

std::vector<std::string> DirectoryNames(const fs::path& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct ReadCase {
    const char* name;
    std::string file;
    const char* section;
    const char* key;
    std::string expected;
};

TEST_F(IniTest, ReadsCutOnlyRealUtf8CharactersAndFollowTheWindowsRules)
{
    const std::string a254(254, 'a'), a253(253, 'a'), a252(252, 'a');
    const ReadCase cases[] = {
        // Latin-1 / Windows-1252 bytes are no UTF-8 continuation: 255 bytes come back.
        {"latin1", "[S]\nk=" + std::string(300, '\xB0') + "\n", "S", "k", std::string(255, '\xB0')},
        {"latin1 letters", "[S]\nk=" + a254 + "\xE9\xA3x\n", "S", "k", a254 + "\xE9"},
        {"cp1252", "[S]\nk=" + a254 + "\x80\x80\x80\n", "S", "k", a254 + "\x80"},
        {"lead without continuation", "[S]\nk=" + a254 + "\xC3(xyz\n", "S", "k", a254 + "\xC3"},
        {"overlong lead", "[S]\nk=" + a254 + "\xC0\xA9\n", "S", "k", a254 + "\xC0"},
        {"surrogate", "[S]\nk=" + a253 + "\xED\xA0\x80\n", "S", "k", a253 + "\xED\xA0"},
        {"sequence cut by the file's end", "[S]\nk=" + a253 + "\xF0\x9F\x98", "S", "k",
         a253 + "\xF0\x9F"},
        // Real UTF-8 across the cut is not split.
        {"two-byte", "[S]\nk=" + a254 + "\xC3\xA9\n", "S", "k", a254},
        {"three-byte", "[S]\nk=" + a253 + "\xE2\x82\xAC\n", "S", "k", a253},
        {"four-byte", "[S]\nk=" + a252 + "a\xF0\x9F\x98\x80\n", "S", "k", a253},
        {"hash starts a key", "[S]\n#k=1\n", "S", "#k", "1"},
        {"second block not read", "[S]\na=1\n[T]\n[S]\nb=2\n", "S", "b", "<default>"},
        {"cr cr lf", "[S]\r\r\nk=v\r\r\n", "S", "k", "v"},
    };
    for (const auto& c : cases) {
        WriteText(ini, c.file);
        EXPECT_EQ(Get(c.section, c.key), c.expected) << c.name;
    }
}

struct WriteCase {
    const char* name;
    std::string before;
    const char* section;
    const char* key;
    std::string value;
    bool ok;
    std::string after; // "" means unchanged
    const char* cause; // part of the message when refused
};

TEST_F(IniTest, WritesKeepUntouchedLinesAndRefuseWhatCouldNotBeReadBack)
{
    const std::string base = "[S]\nk=v\n";
    // A file one write short of the size the reader accepts.
    std::string nearlyFull = "[S]\nk=v\n;";
    nearlyFull += std::string(profile::kMaxFileSize - nearlyFull.size() - 10, 'x') + "\n";
    const WriteCase cases[] = {
        {"cr cr lf kept", "[S]\r\r\nk=v\r\r\nj=1\r\n", "S", "j", "2", true,
         "[S]\r\r\nk=v\r\r\nj=2\r\n", ""},
        {"mixed ends kept", "; c\r\n[S]\nk=v\r\r\n", "S", "n", "1", true,
         "; c\r\n[S]\nk=v\r\r\nn=1\r\n", ""},
        {"first block written", "[S]\na=1\n\n[T]\nt=1\n[S]\nb=2\n", "S", "b", "3", true,
         "[S]\na=1\nb=3\n\n[T]\nt=1\n[S]\nb=2\n", ""},
        {"hash key", base, "S", "#k", "1", true, base + "#k=1\n", ""},
        {"key with =", base, "S", "a=b", "1", false, "", "contains '='"},
        {"key with ;", base, "S", ";k", "1", false, "", "starts with ';'"},
        {"key with [", base, "S", " [k", "1", false, "", "starts with '['"},
        {"section with ]", base, "S]x", "k", "1", false, "", "contains ']'"},
        {"blank section", base, " \t", "k", "1", false, "", "section name is empty"},
        {"blank key", base, "S", "\t \r\n", "1", false, "", "key name is empty"},
        {"past the read limit", nearlyFull, "S", "k", std::string(20, 'v'), false, "",
         "would grow past"},
        {"up to the read limit", nearlyFull, "S", "k", std::string(10, 'v'), true,
         "[S]\nk=" + std::string(10, 'v') + nearlyFull.substr(7), ""},
    };
    for (const auto& c : cases) {
        WriteText(ini, c.before);
        std::string error;
        EXPECT_EQ(profile::WriteString(ini, c.section, c.key, c.value, &error), c.ok) << c.name;
        EXPECT_TRUE(ReadText(ini) == (c.after.empty() ? c.before : c.after)) << c.name;
        if (c.ok) {
            EXPECT_EQ(error, "") << c.name;
            EXPECT_EQ(Get(c.section, c.key), c.value) << c.name;
        } else {
            EXPECT_NE(error.find(c.cause), std::string::npos) << c.name << ": " << error;
            EXPECT_NE(error.find(ini), std::string::npos) << c.name << ": " << error;
        }
    }
    // The store stays usable next to the limit.
    EXPECT_EQ(Get("S", "k"), std::string(10, 'v'));
}

TEST_F(IniTest, AWritableFileInAReadOnlyFolderIsWrittenInPlace)
{
    WriteText(ini, "[S]\nk=old\n");
    ::chmod(ini.c_str(), 0666); // the file may be written; only its folder may not
    struct stat before {};
    ASSERT_EQ(::stat(ini.c_str(), &before), 0);
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read
                             | fs::perms::others_exec);
    // Root writes into read-only folders, so root checks this as nobody.
    const std::string path = ini;
    EXPECT_EQ(InChild(::geteuid() == 0, [&] { return profile::WriteString(path, "S", "k", "new"); }), 0);
    EXPECT_EQ(ReadText(ini), "[S]\nk=new\n");
    struct stat after {};
    ASSERT_EQ(::stat(ini.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(DirectoryNames(dir), std::vector<std::string>{"tarvex.ini"});
}

TEST_F(IniTest, LinksKeepEveryNameSeeingTheNewContent)
{
    // A dangling link: its target is created, the link stays.
    const fs::path target = dir / "real.ini";
    fs::create_symlink("real.ini", ini);
    ASSERT_TRUE(profile::WriteString(ini, "S", "k", "v"));
    EXPECT_TRUE(fs::is_symlink(ini));
    EXPECT_EQ(ReadText(target), "[S]\nk=v\n");

    // A link to a link, and a hard link: all three names see the new value.
    fs::remove(ini);
    fs::create_symlink(dir / "hop.ini", ini);
    fs::create_symlink(target, dir / "hop.ini");
    fs::create_hard_link(target, dir / "other-name.ini");
    ASSERT_TRUE(profile::WriteString(ini, "S", "k", "w"));
    EXPECT_TRUE(fs::is_symlink(ini));
    EXPECT_TRUE(fs::is_symlink(dir / "hop.ini"));
    EXPECT_EQ(ReadText(target), "[S]\nk=w\n");
    EXPECT_EQ(ReadText(dir / "other-name.ini"), "[S]\nk=w\n");
    EXPECT_EQ(fs::hard_link_count(target), 2u);

    // A loop of links is refused, not followed for ever.
    fs::remove(ini);
    fs::create_symlink(dir / "loop.ini", ini);
    fs::create_symlink(ini, dir / "loop.ini");
    std::string error;
    EXPECT_FALSE(profile::WriteString(ini, "S", "k", "x", &error));
    EXPECT_NE(error.find(ini), std::string::npos) << error;
}

TEST_F(IniTest, AWriterKilledMidWayLeavesNoTemporaryFileBehind)
{
    WriteText(ini, "[S]\nk=0\n");
    const std::string path = ini;
    for (int round = 0; round < 25; ++round) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int i = 1;; ++i)
                profile::WriteString(path, "S", "k", std::to_string(i));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2 + round % 7));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        // Whatever the moment, the file is whole.
        EXPECT_NE(Get("S", "k"), "<default>") << "round " << round;
    }
    ASSERT_TRUE(profile::WriteString(ini, "S", "k", "last"));
    EXPECT_EQ(DirectoryNames(dir), std::vector<std::string>{"tarvex.ini"});
    EXPECT_EQ(ReadText(ini), "[S]\nk=last\n");
}

TEST_F(IniTest, TwoProgramsSavingAtOnceLoseNoKey)
{
    WriteText(ini, "[S]\n");
    const std::string path = ini;
    constexpr int kWrites = 40;
    std::vector<pid_t> writers;
    for (const char* prefix : {"a", "b"}) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            bool ok = true;
            for (int i = 0; i < kWrites; ++i)
                ok = profile::WriteString(path, "S", prefix + std::to_string(i), "1") && ok;
            ::_exit(ok ? 0 : 1);
        }
        writers.push_back(pid);
    }
    for (const pid_t pid : writers) {
        int status = -1;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    int missing = 0;
    for (const char* prefix : {"a", "b"})
        for (int i = 0; i < kWrites; ++i)
            missing += Get("S", prefix + std::to_string(i)) != "1";
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(DirectoryNames(dir), std::vector<std::string>{"tarvex.ini"});
}

TEST_F(IniTest, ATemporaryFileLeftByAnEarlierWriterIsTakenOver)
{
    // What a writer killed between naming its temporary file and the rename leaves.
    WriteText(ini, "[S]\nk=v\n");
    WriteText(dir / ".tarvex.ini.tmp", "[S]\nk=half");
    ASSERT_TRUE(profile::WriteString(ini, "S", "j", "w"));
    EXPECT_EQ(ReadText(ini), "[S]\nk=v\nj=w\n");
    EXPECT_EQ(DirectoryNames(dir), std::vector<std::string>{"tarvex.ini"});
}

TEST(FileUtil, ErrnoTextAndWriteFileAtomicallyNameTheCause)
{
    EXPECT_EQ(util::ErrnoText(ENOENT), "No such file or directory");
    EXPECT_FALSE(util::ErrnoText(123456).empty());
    std::string error;
    const std::uint8_t data[] = {1, 2, 3};
    EXPECT_FALSE(util::WriteFileAtomically("/nonexistent-dir/x.bin", data, error));
    EXPECT_EQ(error, "cannot write /nonexistent-dir/x.bin: No such file or directory");
    // A device is written directly and stays what it is.
    EXPECT_TRUE(util::WriteFileAtomically("/dev/null", data, error)) << error;
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

// ---- CIniFile ------------------------------------------------------------------------------

TEST_F(IniTest, StoreKeepsTheCurrentSectionAndReadsIntegersLikeAtoi)
{
    CIniFile store = CIniFile::AtPath(ini);
    store.SetSection("A");
    store.WriteInt("n", -5);
    store.WriteInt("m", 7, "B"); // the section argument becomes current
    EXPECT_EQ(store.GetSection(), "B");
    store.WriteString("s", "12abc");
    store.WriteString("t", "x");
    EXPECT_EQ(ReadText(ini), "[A]\nn=-5\n\n[B]\nm=7\ns=12abc\nt=x\n");
    EXPECT_EQ(store.GetInt("n", 3, "A"), -5);
    EXPECT_EQ(store.GetInt("m", 3, "B"), 7);
    EXPECT_EQ(store.GetInt("s"), 12);
    EXPECT_EQ(store.GetInt("t", 3), 0);
    EXPECT_EQ(store.GetInt("missing", -42), -42);
    EXPECT_STREQ(store.GetString("missing"), "");
    EXPECT_STREQ(store.GetString("s", nullptr, "d"), "12abc");
}

TEST_F(IniTest, UnsignedMembersTravelAsTheirSigned32Bits)
{
    CIniFile store = CIniFile::AtPath(ini);
    unsigned big = 3000000000u;
    store.ExchangeInt(false, big, "u", "S");
    EXPECT_EQ(Get("S", "u"), "-1294967296");
    unsigned back = 0;
    store.ExchangeInt(true, back, "u", "S", 8192);
    EXPECT_EQ(back, 3000000000u);
    unsigned missing = 1;
    store.ExchangeInt(true, missing, "none", "S", 8192);
    EXPECT_EQ(missing, 8192u);
}

TEST_F(IniTest, StoreCreatesTheFolderOfItsFile)
{
    const fs::path nested = dir / "cfg" / "tarvex" / "emu.ini";
    CIniFile store = CIniFile::AtPath(nested.string());
    store.WriteString("k", "v", "S");
    EXPECT_EQ(ReadText(nested), "[S]\nk=v\n");
}

// ---- Where the file lives ------------------------------------------------------------------

TEST_F(IniTest, ProfileLivesBesideTheExecutableWhenThatFolderIsWritable)
{
    fs::create_directories(dir / "bin");
    EXPECT_EQ(CIniFile::ProfilePathFor((dir / "bin" / "emu.bin").string(), true),
              (dir / "bin" / "emu.ini").string());
    EXPECT_EQ(CIniFile::ProfilePathFor((dir / "bin" / "tarvex").string(), true),
              (dir / "bin" / "tarvex.ini").string());

    // This very program: its own folder and name.
    const std::string exe = CIniFile::ModulePath();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(fs::path(exe).filename(), "settings_tests");
    const fs::path beside = fs::path(exe).replace_filename("settings_tests.ini");
    const fs::path used = CIniFile(true).GetPath();
    if (::access(beside.parent_path().c_str(), W_OK) == 0)
        EXPECT_EQ(used, beside);
    else // run by a user who may not write into the build tree
        EXPECT_EQ(used.parent_path().filename(), "tarvex");
    EXPECT_EQ(used.filename(), "settings_tests.ini");
}

TEST_F(IniTest, ProfileFallsBackToTheConfigFolderWhenBesideIsNotWritable)
{
    // A folder that does not exist cannot be written, whoever runs the test.
    const std::string exe = (dir / "missing" / "emu").string();
    {
        EnvGuard xdg("XDG_CONFIG_HOME", (dir / "xdg").c_str());
        EXPECT_EQ(CIniFile::ProfilePathFor(exe, true), (dir / "xdg" / "tarvex" / "emu.ini").string());
        // The location flag cleared always means the config folder.
        fs::create_directories(dir / "bin");
        EXPECT_EQ(CIniFile::ProfilePathFor((dir / "bin" / "emu").string(), false),
                  (dir / "xdg" / "tarvex" / "emu.ini").string());
    }
    {
        EnvGuard xdg("XDG_CONFIG_HOME", nullptr);
        EnvGuard home("HOME", dir.c_str());
        EXPECT_EQ(CIniFile::ProfilePathFor(exe, true), (dir / ".config" / "tarvex" / "emu.ini").string());
    }
    {
        EnvGuard xdg("XDG_CONFIG_HOME", "relative/xdg"); // not absolute: ignored
        EnvGuard home("HOME", dir.c_str());
        EXPECT_EQ(CIniFile::ProfilePathFor(exe, true), (dir / ".config" / "tarvex" / "emu.ini").string());
    }

    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write into any folder; the read-only folder case needs a user";
    EnvGuard xdg("XDG_CONFIG_HOME", (dir / "xdg").c_str());
    fs::create_directories(dir / "ro");
    fs::permissions(dir / "ro", fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(CIniFile::ProfilePathFor((dir / "ro" / "emu").string(), true),
              (dir / "xdg" / "tarvex" / "emu.ini").string());
    fs::permissions(dir / "ro", fs::perms::owner_all);
    WriteText(dir / "ro" / "emu.ini", "");
    fs::permissions(dir / "ro", fs::perms::owner_read | fs::perms::owner_exec);
    // A file already there is used even though its folder is read-only.
    EXPECT_EQ(CIniFile::ProfilePathFor((dir / "ro" / "emu").string(), true),
              (dir / "ro" / "emu.ini").string());
    fs::permissions(dir / "ro", fs::perms::owner_all);
}

// ---- The buffer page's settings ------------------------------------------------------------

TEST_F(IniTest, FirstRunLoadsDefaultsAndSavesAllEightKeysInOrder)
{
    CIniFile store = CIniFile::AtPath(ini);
    CBufferPageSettings s;
    s.m_sFileName = "junk";
    s.m_nFileFormat = 5;
    s.m_csFillValue = "zz";
    s.m_nRomSize = 1;
    ExchangeSettings(true, s, store);
    EXPECT_EQ(s.m_sFileName, "");
    EXPECT_EQ(s.m_nFileFormat, 0);
    EXPECT_EQ(s.m_csBufferOffset, "00000000");
    EXPECT_EQ(s.m_csFileOffset, "00000000");
    EXPECT_EQ(s.m_csBufferStart, "00000000");
    EXPECT_EQ(s.m_csBufferStop, "00000000");
    EXPECT_EQ(s.m_csFillValue, "00");
    EXPECT_EQ(s.m_nRomSize, 8192u);
    EXPECT_FALSE(fs::exists(ini)); // loading never creates the file

    ExchangeSettings(false, s, store);
    EXPECT_EQ(ReadText(ini), "[BUFFERPAGE]\n"
                             "m_sFileName=\n"
                             "m_nFileFormat=0\n"
                             "m_csBufferOffset=00000000\n"
                             "m_csFileOffset=00000000\n"
                             "m_csBufferStart=00000000\n"
                             "m_csBufferStop=00000000\n"
                             "m_csFillValue=00\n"
                             "m_nRomSize=8192\n");

    s.m_nRomSize = 1048576; // a run that ended on a 27C080
    ExchangeSettings(false, s, store);
    EXPECT_EQ(Get("BUFFERPAGE", "m_nRomSize"), "1048576");
}

TEST_F(IniTest, StoredFieldsRoundTripAndFileFormatOneLoadsAsOne)
{
    WriteText(ini, "[BUFFERPAGE]\nm_nFileFormat=1\n");
    CIniFile store = CIniFile::AtPath(ini);
    CBufferPageSettings s;
    ExchangeSettings(true, s, store);
    EXPECT_EQ(s.m_nFileFormat, 1);
    EXPECT_EQ(s.m_nRomSize, 8192u);

    CBufferPageSettings out;
    out.m_sFileName = "/home/u/rom images/boot.hex";
    out.m_nFileFormat = 1;
    out.m_csBufferOffset = "00001000";
    out.m_csFileOffset = "00000020";
    out.m_csBufferStart = "00000100";
    out.m_csBufferStop = "000FFFFF";
    out.m_csFillValue = "FF";
    out.m_nRomSize = 1048576;
    ExchangeSettings(false, out, store);
    CBufferPageSettings in;
    ExchangeSettings(true, in, store);
    EXPECT_EQ(in.m_sFileName, out.m_sFileName);
    EXPECT_EQ(in.m_nFileFormat, 1);
    EXPECT_EQ(in.m_csBufferOffset, "00001000");
    EXPECT_EQ(in.m_csFileOffset, "00000020");
    EXPECT_EQ(in.m_csBufferStart, "00000100");
    EXPECT_EQ(in.m_csBufferStop, "000FFFFF");
    EXPECT_EQ(in.m_csFillValue, "FF");
    EXPECT_EQ(in.m_nRomSize, 1048576u);
}

TEST_F(IniTest, LongFileNameComesBackCutTo255)
{
    CIniFile store = CIniFile::AtPath(ini);
    CBufferPageSettings s;
    s.m_sFileName = "/" + std::string(299, 'n');
    ExchangeSettings(false, s, store);
    CBufferPageSettings in;
    ExchangeSettings(true, in, store);
    EXPECT_EQ(in.m_sFileName, s.m_sFileName.substr(0, 255));
}

TEST_F(IniTest, HandEditedFileInOneCaseIsRead)
{
    for (const bool upper : {false, true}) {
        std::string text = "[bufferpage]\nm_sfilename=rom.bin\nm_nfileformat=1\nm_csfillvalue=5a\n"
                           "m_nromsize=16384\n";
        if (upper)
            for (char& c : text)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        WriteText(ini, text);
        CIniFile store = CIniFile::AtPath(ini);
        CBufferPageSettings s;
        ExchangeSettings(true, s, store);
        EXPECT_EQ(s.m_sFileName, upper ? "ROM.BIN" : "rom.bin");
        EXPECT_EQ(s.m_nFileFormat, 1);
        EXPECT_EQ(s.m_csFillValue, upper ? "5A" : "5a");
        EXPECT_EQ(s.m_nRomSize, 16384u);
        // Saving updates the hand-written lines instead of adding a second section.
        s.m_nFileFormat = 0;
        ExchangeSettings(false, s, store);
        const std::string after = ReadText(ini);
        EXPECT_EQ(after.find('['), after.rfind('['));
        EXPECT_NE(after.find(upper ? "M_NFILEFORMAT=0\n" : "m_nfileformat=0\n"), std::string::npos);
    }
}

TEST_F(IniTest, DefaultExchangeUsesTheFileBesideTheExecutable)
{
    const std::string path = CIniFile(true).GetPath();
    if (fs::exists(path))
        GTEST_SKIP() << path << " already exists; not touching it";
    CBufferPageSettings out;
    out.m_sFileName = "beside.hex";
    ExchangeSettings(false, out);
    CIniFile store = CIniFile::AtPath(path);
    EXPECT_STREQ(store.GetString("m_sFileName", "BUFFERPAGE"), "beside.hex");
    CBufferPageSettings in;
    ExchangeSettings(true, in);
    EXPECT_EQ(in.m_sFileName, "beside.hex");
    fs::remove(path);
}

} // namespace
