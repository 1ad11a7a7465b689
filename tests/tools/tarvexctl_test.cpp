// SPDX-License-Identifier: MIT
// End-to-end tests of the built tarvexctl: help, usage errors, load output and --out image.
#include "process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr std::size_t kImageSize = 1048576;

ProcessResult Ctl(std::vector<std::string> args)
{
    args.insert(args.begin(), TARVEXCTL_PATH);
    return RunProcess(args);
}

TEST(Tarvexctl, HelpListsCommandsAndExitCodes)
{
    for (const char* help : {"--help", "-h", "help"}) {
        const auto r = Ctl({help});
        EXPECT_EQ(r.exitCode, 0) << help;
        EXPECT_NE(r.out.find("load"), std::string::npos) << r.out;
        for (const char* code : {"  0  ", "  2  ", "  3  ", "  4  ", "  5  "})
            EXPECT_NE(r.out.find(code), std::string::npos) << code << " in " << r.out;
        EXPECT_EQ(r.err, "");
    }

    for (const auto& args : std::vector<std::vector<std::string>>{
             {"load", "--help"}, {"help", "load"}, {"load", "x.hex", "-h"}}) {
        const auto r = Ctl(args);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out.rfind("Usage: tarvexctl load FILE", 0), 0u) << r.out;
        EXPECT_NE(r.out.find("auto (the default"), std::string::npos);
        EXPECT_NE(r.out.find("default: 00"), std::string::npos);
    }
}

TEST(Tarvexctl, UsageErrorsExitWithTwoAndSayWhy)
{
    const TempDir dir;
    WriteFile(dir / "a.bin", "abc");
    const std::string file = dir / "a.bin";
    struct Case {
        std::vector<std::string> args;
        const char* why;
    };
    const std::vector<Case> cases = {
        {{}, "Usage: tarvexctl COMMAND"},
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"help", "frobnicate"}, "unknown command 'frobnicate'"},
        {{"load"}, "missing FILE"},
        {{"load", file, file}, "more than one FILE"},
        {{"load", file, "--speed", "9"}, "unknown option '--speed'"},
        {{"load", file, "-x"}, "unknown option '-x'"},
        {{"load", file, "--format", "motorola"}, "unknown format 'motorola'"},
        {{"load", file, "--format"}, "'--format' needs a value"},
        {{"load", file, "--fill", "ZZ"}, "fill value 'ZZ'"},
        {{"load", file, "--fill", "1FF"}, "fill value '1FF'"},
        {{"load", file, "--fill="}, "fill value ''"},
        {{"load", file, "--out="}, "--out needs a file name"},
    };
    for (const Case& c : cases) {
        const auto r = Ctl(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.why;
        EXPECT_NE(r.err.find(c.why), std::string::npos) << "stderr: " << r.err;
        EXPECT_EQ(r.out, "") << c.why;
    }
}

TEST(Tarvexctl, MappingAndTransformErrorsAreUsageErrors)
{
    const TempDir dir;
    WriteFile(dir / "a.bin", "abc");
    WriteFile(dir / "a.hex", ":0400100001020304E2\n:00000001FF\n");
    const std::string bin = dir / "a.bin", hex = dir / "a.hex";
    struct Case {
        std::vector<std::string> args;
        const char* why;
    };
    const std::vector<Case> cases = {
        // Found out only once the file is read (--format auto), still exit 2.
        {{"load", bin, "--base", "0xE000"}, "a.bin\" was read as binary: use --skip for a binary file"},
        {{"sum", hex, "--skip", "4"}, "a.hex\" was read as Intel HEX: use --base for a record file"},
        {{"write", bin, "--base", "1"}, "use --skip"},
        {{"watch", bin, "--base", "1"}, "use --skip"},
        {{"load", bin, "--format", "bin", "--base", "0"}, "not to --format bin: use --skip"},
        {{"load", hex, "--format", "xtek", "--skip", "1"}, "not to --format xtek: use --base"},
        {{"load", hex, "--format", "srec", "--segments"}, "--segments applies to Intel HEX files"},
        {{"load", hex, "--wrap"}, "--wrap needs --rom"},
        {{"load", hex, "--base", "E000h"}, "--base 'E000h' is not a hex number"},
        {{"load", hex, "--at", "0x100000"}, "--at '0x100000' is too large (at most 0xfffff)"},
        {{"load", hex, "--swap-lines", "14"}, "needs two address lines A,B"},
        {{"load", hex, "--swap-lines", "13,14"}, "a ROM of 8192 bytes has address lines 0 to 12"},
        {{"verify", hex, "--rom", "27C256", "--pair", "0,1", "--swap-lines", "15,0"}, ""},
        {{"auto", hex, "--checksum", "crc32le:1ffe"}, "its 4 bytes do not fit in the 8192-byte window"},
        {{"load", hex, "--checksum", "md5:0"}, "needs KIND:ADDR, KIND one of sum8"},
        {{"load", hex, "--split", "even"}, "--split needs --out"},
        {{"load", hex, "--split", "both", "--out", dir / "x"}, "--split 'both' needs even or odd"},
    };
    for (const Case& c : cases) {
        const auto r = Ctl(c.args);
        if (*c.why == '\0') {
            // A pair's image is twice the ROM: line 15 of two 27C256 is there.
            EXPECT_NE(r.exitCode, 2) << r.err;
            continue;
        }
        EXPECT_EQ(r.exitCode, 2) << c.why << ": " << r.err;
        EXPECT_NE(r.err.find(c.why), std::string::npos) << "stderr: " << r.err;
        EXPECT_NE(r.err.find("--help' for its usage"), std::string::npos) << r.err;
    }
}

TEST(Tarvexctl, HelpListsTheMappingOptionsWithinEightyColumns)
{
    const auto listed = Ctl({"--help"});
    std::vector<std::string> commands;
    std::istringstream lines(listed.out);
    bool inCommands = false;
    for (std::string line; std::getline(lines, line);) {
        if (line == "Commands:")
            inCommands = true;
        else if (line.empty())
            inCommands = false;
        else if (inCommands)
            commands.push_back(line.substr(2, line.find(' ', 2) - 2));
    }
    ASSERT_GE(commands.size(), 12u) << listed.out;
    std::istringstream overall(listed.out);
    for (std::string line; std::getline(overall, line);)
        EXPECT_LT(line.size(), 80u) << line;
    for (const std::string& command : commands) {
        const auto r = Ctl({"help", command});
        ASSERT_EQ(r.exitCode, 0) << command;
        std::istringstream help(r.out);
        for (std::string line; std::getline(help, line);)
            EXPECT_LT(line.size(), 80u) << command << ": " << line;
        const bool loads = command == "load" || command == "sum" || command == "write" || command == "verify" ||
                           command == "auto" || command == "watch";
        for (const char* option : {"--base ADDR", "--skip N", "--at ADDR", "--wrap", "--segments", "--swap-bytes",
                                   "--swap-lines A,B", "--checksum sum8|"})
            EXPECT_EQ(r.out.find(std::string("  ") + option) != std::string::npos, loads) << command << ' ' << option;
    }
}

TEST(Tarvexctl, LoadMapSaysWhereTheBytesWent)
{
    const TempDir dir;
    // Line 1: 16 bytes at 0xE000, line 2: 4 bytes at 0xE100, line 3: the entry point, line 4: the end.
    const std::string file = dir / "rom.hex";
    WriteFile(file, ":10E00000000102030405060708090A0B0C0D0E0F98\n:04E10000DEADBEEFE3\n:040000050000E00017\n"
                    ":00000001FF\n");
    auto r = Ctl({"load", file, "--base", "0xE000", "--rom", "27C64", "--map", "--strict"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, file + ": Intel HEX, bytes read 00000104, ROM window 0x00000-0x01fff (8192 bytes)\n"
                     "  0x00000-0x0000f       16 bytes  set   from 0xe000, line 1\n"
                     "  0x00010-0x000ff      240 bytes  fill\n"
                     "  0x00100-0x00103        4 bytes  set   from 0xe100, line 2\n"
                     "  0x00104-0x01fff     7932 bytes  fill\n"
                     "entry point 0xe000 (line 3), at ROM address 0x0\n");

    // Without --base: beyond the ROM window, named in the map with where it came from.
    r = Ctl({"load", file, "--rom", "27C64", "--map", "-q"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("beyond the ROM window (loaded, not downloaded):\n"
                         "  0x0e000-0x0e00f       16 bytes  set   from 0xe000, line 1\n"),
              std::string::npos)
        << r.out;

    // The same in JSON, read back by python3's json module.
    r = Ctl({"load", file, "--base", "0xE000", "--rom", "27C64", "--map", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    WriteFile(dir / "map.json", r.out);
    const auto py = RunProcess({"python3", "-c",
                                "import json, sys\n"
                                "o = json.load(open(sys.argv[1]))\n"
                                "m = o['map']\n"
                                "print(o['entry_point'], m['window'], m['entry_rom'],\n"
                                "      [(s['start'], s['end'], s['file'], s['line']) for s in m['set']],\n"
                                "      [(f['start'], f['count']) for f in m['fill']], m['passed_bytes'])\n",
                                dir / "map.json"});
    EXPECT_EQ(py.out, "57344 8192 0 [(0, 15, 57344, 1), (256, 259, 57600, 2)] [(16, 240), (260, 7932)] 0\n")
        << py.err << r.out;

    // sum's JSON names the entry point too.
    r = Ctl({"sum", file, "--base", "0xE000", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    WriteFile(dir / "sum.json", r.out);
    const auto sum = RunProcess({"python3", "-c", "import json, sys; o = json.load(open(sys.argv[1])); "
                                                   "print(o['entry_point'], o['size'])",
                                 dir / "sum.json"});
    EXPECT_EQ(sum.out, "57344 8192\n") << sum.err << r.out;

    // --split writes one ROM of a 16-bit pair: the odd bytes of the 16 KiB window.
    const std::string odd = dir / "odd.bin";
    r = Ctl({"load", file, "--base", "0xE000", "--rom", "27C64", "--fill", "FF", "--split", "odd", "--out", odd});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string expected(8192, '\xFF');
    expected.replace(0, 8, "\x01\x03\x05\x07\x09\x0B\x0D\x0F");
    expected.replace(128, 2, "\xAD\xEF");
    EXPECT_TRUE(ReadFile(odd) == expected);
}

TEST(Tarvexctl, LoadPrintsTheCountAndWritesTheImage)
{
    const TempDir dir;
    WriteFile(dir / "ten.bin", "0123456789");
    const std::string out = dir / "image.bin";

    auto r = Ctl({"load", dir / "ten.bin", "--format", "bin", "--fill", "FF", "--out", out});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "0000000a\n");
    EXPECT_EQ(r.err, "");
    std::string expected(kImageSize, '\xFF');
    expected.replace(0, 10, "0123456789");
    EXPECT_TRUE(ReadFile(out) == expected);

    // Defaults: Intel HEX, fill 00; --opt=value works; an existing image is replaced.
    WriteFile(dir / "a.hex", ":020000040001F9\n:02123400ABCDE2\n:00000001FF\n");
    r = Ctl({"load", dir / "a.hex", "--out=" + out});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "00011236\n");
    expected.assign(kImageSize, '\0');
    expected[0x11234] = '\xAB';
    expected[0x11235] = '\xCD';
    EXPECT_TRUE(ReadFile(out) == expected);

    // Without --out only the count; lower-case fill digits; a single digit.
    r = Ctl({"load", "--fill", "a", dir / "a.hex"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "00011236\n");

    // No temporary files are left behind.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.Path()))
        ++entries;
    EXPECT_EQ(entries, 3u);
}

TEST(Tarvexctl, UnreadableInputOrUnwritableImageExitsWithThree)
{
    const TempDir dir;
    const std::string missing = dir / "gone.hex";
    const std::string out = dir / "image.bin";
    auto r = Ctl({"load", missing, "--out", out});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "tarvexctl load: \"" + missing + "\" was not found.\n");
    EXPECT_FALSE(std::filesystem::exists(out));

    r = Ctl({"load", dir.Path().string()});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("is a directory"), std::string::npos) << r.err;

    // The image cannot be written: no count on stdout, the reason on stderr.
    WriteFile(dir / "ok.bin", "x");
    const std::string badOut = dir / "no-such-dir" / "image.bin";
    r = Ctl({"load", dir / "ok.bin", "--format", "bin", "--out", badOut});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("cannot write " + badOut), std::string::npos) << r.err;

    // A directory in the way of the image: the rename fails and the directory stays.
    std::filesystem::create_directory(dir / "taken");
    r = Ctl({"load", dir / "ok.bin", "--format", "bin", "--out", dir / "taken"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
    EXPECT_TRUE(std::filesystem::is_directory(dir / "taken"));
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.Path()))
        ++entries;
    EXPECT_EQ(entries, 2u) << "temporary file left behind";
}

TEST(Tarvexctl, ImageGoesThroughLinksAndIntoFifosWithoutReplacingThem)
{
    const TempDir dir;
    WriteFile(dir / "in.bin", "abc");
    const std::string image = std::string("abc") + std::string(kImageSize - 3, '\x5A');

    // A link to the image stays a link; the file it names gets the image, keeping its mode.
    WriteFile(dir / "real.bin", "old");
    ::chmod((dir / "real.bin").c_str(), 0640);
    std::filesystem::create_symlink(dir / "real.bin", dir / "link.bin");
    auto r = Ctl({"load", dir / "in.bin", "--format", "bin", "--fill", "5A", "--out", dir / "link.bin"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.bin"));
    const std::string real = ReadFile(dir / "real.bin");
    EXPECT_TRUE(real == image) << real.size() << " bytes";  // no megabyte dump on failure
    struct stat st {};
    ASSERT_EQ(::stat((dir / "real.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // A FIFO (as /dev/stdout may be) is written to and stays a FIFO.
    const std::string fifo = dir / "image.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::string received;
    std::thread drain([&] {
        char buf[65536];
        for (int idle = 0; received.size() < kImageSize && idle < 500;) {
            const ssize_t n = ::read(reader, buf, sizeof buf);
            if (n > 0) {
                received.append(buf, static_cast<std::size_t>(n));
                idle = 0;
            } else {
                ++idle;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
    });
    r = Ctl({"load", dir / "in.bin", "--format", "bin", "--fill", "5A", "--out", fifo});
    drain.join();
    ::close(reader);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
    EXPECT_TRUE(received == image) << received.size() << " bytes";
}

TEST(Tarvexctl, ImageIsNotWrittenOverAFileTheUserMayNotWrite)
{
    const TempDir dir;
    WriteFile(dir / "in.bin", "abc");
    WriteFile(dir / "kept.bin", "keep me");
    std::filesystem::permissions(dir.Path(), std::filesystem::perms::all);
    const bool root = ::geteuid() == 0;
    if (!root)
        ::chmod((dir / "kept.bin").c_str(), 0444);
    // Root may write anything, so root runs the tool as nobody.
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (root && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(99);
        const std::string in = dir / "in.bin", out = dir / "kept.bin";
        ::execl(TARVEXCTL_PATH, TARVEXCTL_PATH, "load", in.c_str(), "--format", "bin", "--out", out.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(98);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_EQ(ReadFile(dir / "kept.bin"), "keep me");
}

TEST(Tarvexctl, FormatIsChosenFromTheFileAndEveryDoubtIsSaid)
{
    const TempDir dir;
    // The same four bytes at 0x10 in each format; binary data is taken as it stands.
    WriteFile(dir / "a.hex", ":0400100001020304E2\n:00000001FF\n");
    WriteFile(dir / "a.s19", "S1070010010203049E\nS9030000FC\n");
    WriteFile(dir / "a.tek", "%1662080000001001020304\n%0E81E800000000\n");
    WriteFile(dir / "a.bin", std::string("\x7f" "ELF\x02\x01", 6));
    struct Case {
        const char* file;
        std::vector<std::string> options;
        int exitCode;
        const char* out;
        std::vector<std::string> err;  // each must appear on standard error
    } cases[] = {
        {"a.hex", {"-v"}, 0, "00000014\n", {"a.hex read as Intel HEX (from its first characters)"}},
        {"a.s19", {"-v"}, 0, "00000014\n", {"a.s19 read as S-record"}},
        {"a.tek", {"-v"}, 0, "00000014\n", {"a.tek read as extended Tektronix"}},
        {"a.bin", {"-v"}, 0, "00000006\n", {"a.bin read as binary"}},
        // A binary file taken for Intel HEX by mistake loads nothing, and says so.
        {"a.bin", {"--format", "ihex"}, 0, "00000000\n", {"a.bin: warning: no Intel HEX records: is it a binary file?"}},
        {"a.bin", {"--format", "ihex", "--strict"}, 3, "", {"--strict: 1 warning about", "so it was not used"}},
        {"a.bin", {"--format", "ihex", "-q"}, 0, "", {}},
        {"a.hex", {"--rom", "27C64", "--format", "srec"}, 0, "00000000\n", {"warning:"}},
        // And a text file taken for binary says what would reach the ROM.
        {"a.s19", {"--format", "bin"}, 0, "0000001e\n", {"a.s19: warning: the file starts like S-record but is loaded as binary"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"load", dir / c.file};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto r = Ctl(args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.file << ' ' << r.err;
        EXPECT_EQ(r.out, c.out) << c.file;
        for (const std::string& e : c.err)
            EXPECT_NE(r.err.find(e), std::string::npos) << c.file << ": no '" << e << "' in " << r.err;
        if (c.err.empty()) {
            EXPECT_EQ(r.err, "") << c.file;
        }
    }

    // A damaged Intel HEX file names its lines, in the compiler's FILE:LINE form and in JSON.
    WriteFile(dir / "bad.hex", ":0400100001020304E2\n:04002000010203FFFF\n:0400300001020304C3\n");
    const auto r = Ctl({"load", dir / "bad.hex", "--json"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.err.find("bad.hex:2: warning: 2 records with a wrong checksum (lines 2 and 3)"), std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("\"format\":\"ihex\",\"bytes_read\":52"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("{\"kind\":\"checksum\",\"line\":2,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"kind\":\"no-end-record\""), std::string::npos) << r.out;
}

TEST(Tarvexctl, SumsAndWrittenFormatsAgreeWithPythonAndLoadBack)
{
    const TempDir dir;
    std::string data(50000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>((i * 7919) >> 3);
    WriteFile(dir / "data.bin", data);
    const std::string script = "import zlib,sys; d=open(sys.argv[1],'rb').read()[int(sys.argv[2],16):int(sys.argv[3],16)]; "
                               "print('sum8 %02x  sum16 %04x  crc32 %08x' % (sum(d)&255, sum(d)&65535, zlib.crc32(d)))";
    for (const auto& [rom, range, start, end] :
         std::vector<std::tuple<std::string, std::string, std::string, std::string>>{
             {"27C512", "", "0", "10000"}, {"27C64", "", "0", "2000"}, {"27C64", "0x100:c350", "100", "c350"}}) {
        std::vector<std::string> args{"sum", dir / "data.bin", "--format", "bin", "--rom", rom};
        if (!range.empty())
            args.insert(args.end(), {"--range", range});
        const auto r = Ctl(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        // The 64 KiB case sums the fill bytes after the file as well: the ROM holds them.
        WriteFile(dir / "rom.bin", data + std::string(65536 - data.size(), '\0'));
        const auto py = RunProcess({"python3", "-c", script, dir / "rom.bin", start, end});
        ASSERT_EQ(py.exitCode, 0) << py.err;
        EXPECT_EQ(r.out.substr(0, py.out.size() - 1), py.out.substr(0, py.out.size() - 1)) << rom << ' ' << range;
    }
    EXPECT_EQ(Ctl({"sum", dir / "data.bin", "--range", "10:5"}).exitCode, 2);
    EXPECT_EQ(Ctl({"sum", dir / "data.bin", "--range", "0:100001"}).exitCode, 2);

    // What load --out writes in each format loads back as the same image.
    const std::string image = dir / "image.bin";
    ASSERT_EQ(Ctl({"load", dir / "data.bin", "--format", "bin", "--fill", "5A", "--out", image}).exitCode, 0);
    for (const char* name : {"out.hex", "out.s28", "out.srec", "out.any"}) {
        ASSERT_EQ(Ctl({"load", dir / "data.bin", "--format", "bin", "--fill", "5A", "--out", dir / name}).exitCode, 0);
        const auto r = Ctl({"load", dir / name, "--fill", "5A", "--out", dir / "back.bin"});
        ASSERT_EQ(r.exitCode, 0) << name << ' ' << r.err;
        EXPECT_EQ(r.err, "") << name;
        EXPECT_TRUE(ReadFile(dir / "back.bin") == ReadFile(image)) << name;
    }
    EXPECT_EQ(ReadFile(dir / "out.hex").substr(0, 1), ":");
    EXPECT_EQ(ReadFile(dir / "out.s28").substr(0, 2), "S0");
    const auto r = Ctl({"load", dir / "data.bin", "--out", dir / "x.bin", "--out-format", "xtek"});
    EXPECT_EQ(r.exitCode, 2);
}

}  // namespace
