// SPDX-License-Identifier: MIT
// `tarvexctl load` with the address map and the transforms against independent references:
// srec_cat's -offset, -crop, -fill, -exclude, -checksum-*, -crc32-* and -byte-swap filters,
// python3 (zlib, a per-address line swap), and real toolchain output (objcopy's segment
// records, an arm-none-eabi build linked where its CPU wants it) loaded with --strict.
#include "process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kImageSize = 1048576;

std::string Hex(std::uint64_t v)
{
    char s[24];
    std::snprintf(s, sizeof s, "0x%llX", static_cast<unsigned long long>(v));
    return s;
}

ProcessResult Ctl(std::vector<std::string> args)
{
    args.insert(args.begin(), TARVEXCTL_PATH);
    return RunProcess(args);
}

std::string RandomBytes(std::size_t n, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng());
    return s;
}

std::size_t FirstDifference(const std::string& a, const std::string& b)
{
    std::size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i])
        ++i;
    return i;
}

class MappingDiffTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(RunProcess({"srec_cat", "-version"}).exitCode, 0) << "srec_cat is missing (scripts/deps.sh installs srecord)";
    }
    // Runs srec_cat and returns the binary it writes.
    std::string Srec(std::vector<std::string> args)
    {
        const std::string out = m_dir / ("srec" + std::to_string(m_runs++) + ".bin");
        args.insert(args.begin(), "srec_cat");
        args.insert(args.end(), {"-o", out, "-binary"});
        const ProcessResult r = RunProcess(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return ReadFile(out);
    }
    TempDir m_dir;
    int m_runs = 0;
};

TEST_F(MappingDiffTest, BaseAndAtPlaceDataAsSrecCatOffsetAndCropDo)
{
    struct Block {
        std::uint64_t address;
        std::size_t size;
    };
    struct Case {
        const char* name;
        std::vector<Block> blocks;
        std::uint64_t base;
        std::uint32_t at;
        const char* rom;
        bool clean;  // loads under --strict
    };
    const std::vector<Case> cases = {
        {"6502 27C64 at 0xE000", {{0xE000, 0x1000}, {0xFFFA, 6}}, 0xE000, 0, "27C64", true},
        {"Cortex-M flash at 0x08000000, placed at 0x100", {{0x08000000, 0x3000}, {0x08007E00, 0x100}}, 0x08000000,
         0x100, "27C256", true},
        {"68k ROM at 0xF00000", {{0xF00000, 0x20000}}, 0xF00000, 0, "27C010", true},
        {"data straddling the base", {{0xFF00, 0x200}}, 0x10000, 0x40, "27C64", false},
    };
    const char* fills[] = {"FF", "00", "5A"};
    std::uint32_t seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> argv;
        for (const Block& b : c.blocks) {
            const std::string part = m_dir / ("part" + std::to_string(seed) + ".bin");
            WriteFile(part, RandomBytes(b.size, seed++));
            argv.insert(argv.end(), {part, "-binary", "-offset", Hex(b.address)});
        }
        for (const char* format : {"-intel", "-motorola"}) {
            const std::string file = m_dir / (std::string("in") + format);
            std::vector<std::string> w = argv;
            w.insert(w.begin(), "srec_cat");
            w.insert(w.end(), {"-o", file, format});
            ASSERT_EQ(RunProcess(w).exitCode, 0);
            const char* fill = fills[seed % 3];
            const std::string out = file + ".tarvex.bin";
            std::vector<std::string> args{"load", file, "--base", Hex(c.base), "--at", Hex(c.at), "--rom", c.rom,
                                          "--fill", fill, "--out", out};
            if (c.clean)
                args.push_back("--strict");
            const ProcessResult r = Ctl(args);
            ASSERT_EQ(r.exitCode, 0) << r.err;
            EXPECT_EQ(r.err.empty(), c.clean) << r.err;
            // srec_cat: drop what lies below the base (even where --at would leave room for it),
            // move by at - base, keep the 1 MiB image.
            const std::int64_t offset = static_cast<std::int64_t>(c.at) - static_cast<std::int64_t>(c.base);
            const std::string ref = Srec({file, format, "-exclude", "0", Hex(c.base), "-offset", std::to_string(offset),
                                          "-crop", "0", "0x100000", "-fill", std::string("0x") + fill, "0", "0x100000"});
            const std::string mine = ReadFile(out);
            ASSERT_EQ(mine.size(), kImageSize);
            EXPECT_TRUE(mine == ref) << format << " differs from srec_cat at " << FirstDifference(mine, ref);
        }
    }
}

TEST_F(MappingDiffTest, ChecksumFixupsMatchSrecCatAndZlib)
{
    const std::string data = m_dir / "data.bin";
    WriteFile(data, RandomBytes(0x7E00, 7));  // a 27C256 window: 0x7E00 bytes and fill
    const std::string window = "0x8000";
    const auto filled = [&](std::vector<std::string> filters) {
        std::vector<std::string> group{"(", data, "-binary", "-fill", "0xFF", "0", window};
        group.insert(group.end(), filters.begin(), filters.end());
        group.push_back(")");
        return group;
    };
    struct Case {
        const char* kind;
        std::uint32_t address;
        std::vector<std::string> srec;  // the filter that makes the value, over the bytes below
        bool wholeWindow;               // sum8: over the whole window but its own byte
    };
    const std::vector<Case> cases = {
        {"sum8", 0x7FFF, {"-checksum-negative-le", "0x7FFF", "1", "1"}, true},
        {"sum8", 0x1000, {"-checksum-negative-le", "0x1000", "1", "1"}, true},
        {"sum16le", 0x7FFE, {"-checksum-positive-le", "0x7FFE", "2", "1"}, false},
        {"sum16be", 0x4000, {"-checksum-positive-be", "0x4000", "2", "1"}, false},
        {"crc32le", 0x7FFC, {"-crc32-le", "0x7FFC"}, false},
        {"crc32be", 0x7E00, {"-crc32-be", "0x7E00"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.kind) + " at " + Hex(c.address));
        const std::string out = m_dir / (std::string(c.kind) + ".bin");
        const ProcessResult r = Ctl({"load", data, "--format", "bin", "--rom", "27C256", "--fill", "FF", "--checksum",
                                     std::string(c.kind) + ":" + Hex(c.address), "--out", out, "--strict"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::string mine = ReadFile(out).substr(0, 0x8000);
        const std::size_t width = c.srec.size() == 2 ? 4 : std::stoul(c.srec[2]);
        const std::string lo = Hex(c.address), hi = Hex(c.address + width);
        std::vector<std::string> args = filled({"-exclude", lo, hi});
        std::vector<std::string> value =
            filled(c.wholeWindow ? std::vector<std::string>{"-exclude", lo, hi} : std::vector<std::string>{"-crop", "0", lo});
        value.insert(value.end() - 1, c.srec.begin(), c.srec.end());
        value.insert(value.end() - 1, {"-crop", lo, hi});
        args.insert(args.end(), value.begin(), value.end());
        const std::string ref = Srec(args);
        EXPECT_TRUE(mine == ref) << "differs from srec_cat at " << FirstDifference(mine, ref);
    }

    // The CRC-32 stored is zlib's of the bytes below it.
    const std::string out = m_dir / "zlib.bin";
    ASSERT_EQ(Ctl({"load", data, "--format", "bin", "--rom", "27C256", "--fill", "FF", "--checksum", "crc32le:7ffc",
                   "--out", out}).exitCode, 0);
    const ProcessResult py = RunProcess({"python3", "-c",
                                         "import sys, zlib, struct\n"
                                         "d = open(sys.argv[1], 'rb').read()\n"
                                         "print(struct.unpack('<I', d[0x7ffc:0x8000])[0] == zlib.crc32(d[:0x7ffc]))\n",
                                         out});
    EXPECT_EQ(py.out, "True\n") << py.err;
    // sum prints the sums after the fix-up: a sum8 fix-up makes the window's 8-bit sum 00.
    const ProcessResult sum = Ctl({"sum", data, "--format", "bin", "--rom", "27C256", "--fill", "FF", "--checksum",
                                   "sum8:7fff"});
    EXPECT_EQ(sum.out.rfind("sum8 00 ", 0), 0u) << sum.out;
}

TEST_F(MappingDiffTest, SwapsMatchSrecCatAndAPerAddressReference)
{
    const std::string data = m_dir / "data.bin";
    WriteFile(data, RandomBytes(0x8000, 11));
    const std::string out = m_dir / "swapped.bin";
    ASSERT_EQ(Ctl({"load", data, "--format", "bin", "--rom", "27C256", "--swap-bytes", "--out", out}).exitCode, 0);
    const std::string ref = Srec({data, "-binary", "-byte-swap", "2"});
    EXPECT_TRUE(ReadFile(out).substr(0, 0x8000) == ref);

    // Lines 14 and 13 swapped, then the bytes: in the order given.
    ASSERT_EQ(Ctl({"load", data, "--format", "bin", "--rom", "27C256", "--swap-lines", "14,13", "--swap-bytes", "--out",
                   out}).exitCode, 0);
    const ProcessResult py = RunProcess({"python3", "-c",
                                         "import sys\n"
                                         "d = open(sys.argv[1], 'rb').read()\n"
                                         "def swap(x, a, b):\n"
                                         "    return x & ~((1 << a) | (1 << b)) | (x >> a & 1) << b | (x >> b & 1) << a\n"
                                         "lines = bytes(d[swap(x, 13, 14)] for x in range(0x8000))\n"
                                         "both = bytes(lines[x ^ 1] for x in range(0x8000))\n"
                                         "print(both == open(sys.argv[2], 'rb').read()[:0x8000])\n",
                                         data, out});
    EXPECT_EQ(py.out, "True\n") << py.err;
}

TEST_F(MappingDiffTest, ObjcopySegmentRecordsLoadWithSegments)
{
    // objcopy writes type 02 records for images between 64 KiB and 1 MiB.
    const std::string data = m_dir / "big.bin", hex = m_dir / "big.hex", out = m_dir / "big.out";
    WriteFile(data, RandomBytes(200000, 3));
    const ProcessResult oc = RunProcess({"objcopy", "-I", "binary", "-O", "ihex", data, hex});
    ASSERT_EQ(oc.exitCode, 0) << oc.err;
    ASSERT_NE(ReadFile(hex).find(":020000021000EC"), std::string::npos);

    ProcessResult r = Ctl({"load", hex, "--rom", "27C020", "--segments", "--strict", "--out", out});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(ReadFile(out).substr(0, 200000) == ReadFile(data));
    // Without --segments every 64 KiB lands on the first, and the warning says what to give.
    r = Ctl({"load", hex, "--rom", "27C020", "--strict"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("give --segments"), std::string::npos) << r.err;
}

TEST_F(MappingDiffTest, ArmBuildLinkedAtItsFlashLoadsWithStrictBase)
{
    ASSERT_EQ(RunProcess({"arm-none-eabi-as", "--version"}).exitCode, 0)
        << "binutils-arm-none-eabi is missing (scripts/deps.sh test installs it)";
    WriteFile(m_dir / "fw.s",
              "    .syntax unified\n    .cpu cortex-m3\n    .thumb\n"
              "    .section .vectors, \"a\"\n    .word 0x20001000\n    .word reset + 1\n"
              "    .text\n    .thumb_func\n    .global reset\nreset:\n    movs r0, #1\n"
              "loop:\n    adds r0, r0, #1\n    b loop\n"
              "    .section .rodata\n    .ascii \"every byte where it belongs\"\n");
    WriteFile(m_dir / "fw.ld", "ENTRY(reset)\nSECTIONS {\n  . = FLASH_BASE;\n  .vectors : { *(.vectors) }\n"
                               "  .text : { *(.text) }\n  .rodata : { *(.rodata) }\n}\n");
    const std::string obj = m_dir / "fw.o";
    ASSERT_EQ(RunProcess({"arm-none-eabi-as", m_dir / "fw.s", "-o", obj}).exitCode, 0);
    // Linked where a Cortex-M's flash is, and where a small CPU's 27C64 would sit.
    for (const std::uint64_t origin : {std::uint64_t{0x08000000}, std::uint64_t{0xE000}}) {
        SCOPED_TRACE(Hex(origin));
        const std::string elf = m_dir / "fw.elf", bin = m_dir / "fw.bin";
        const ProcessResult ld = RunProcess({"arm-none-eabi-ld", "--defsym", "FLASH_BASE=" + Hex(origin), "-T",
                                             m_dir / "fw.ld", obj, "-o", elf});
        ASSERT_EQ(ld.exitCode, 0) << ld.err;
        ASSERT_EQ(RunProcess({"arm-none-eabi-objcopy", "-O", "binary", elf, bin}).exitCode, 0);
        const std::string raw = ReadFile(bin);
        ASSERT_GT(raw.size(), 8u);
        for (const char* format : {"ihex", "srec"}) {
            SCOPED_TRACE(format);
            const std::string file = m_dir / (std::string("fw.") + format), out = file + ".bin";
            ASSERT_EQ(RunProcess({"arm-none-eabi-objcopy", "-O", format, elf, file}).exitCode, 0);
            // Without --base the data lies beyond the ROM, and the warning names the base.
            ProcessResult r = Ctl({"load", file, "--rom", "27C64", "--strict"});
            EXPECT_EQ(r.exitCode, 3);
            EXPECT_NE(r.err.find("give --base " + Hex(origin)), std::string::npos) << r.err;
            // With it the file loads under --strict (its start record is no warning) to the
            // bytes objcopy's binary holds, and -v names the entry point.
            r = Ctl({"load", file, "--strict", "--base", Hex(origin), "--rom", "27C64", "--fill", "FF", "--out", out,
                     "-v"});
            ASSERT_EQ(r.exitCode, 0) << r.err;
            EXPECT_NE(r.err.find("entry point"), std::string::npos) << r.err;
            const std::string image = ReadFile(out);
            EXPECT_TRUE(image.substr(0, raw.size()) == raw);
            EXPECT_EQ(image.find_first_not_of('\xFF', raw.size()), std::string::npos);
        }
    }
}

}  // namespace
