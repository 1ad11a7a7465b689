// SPDX-License-Identifier: MIT
// The ROM session over the recording fake: ROM type changes, the session's report, Auto's check
// between its download and its run command, one claim per operation, pairs and the watch cycle.
#include <gtest/gtest.h>

#include "session/blocksync.h"
#include "session/pair.h"
#include "session/romsession.h"
#include "session/watchcycle.h"
#include "faketransport.h"
#include "transporttest.h"

namespace {

// (opcode, parameter) of every command block that reached the emulator.
std::vector<std::pair<int, int>> Commands(const CFakeTransport& fake)
{
    std::vector<std::pair<int, int>> commands;
    for (const SFakeTransfer& t : fake.m_transfers)
        if (!t.bIn && t.data.size() == 64)
            commands.emplace_back(t.data[0], t.data[1]);
    return commands;
}

TEST(RomSession, RomTypeChangeSetsTheSizeAndSendsItsMask)
{
    CCountingSink sink;
    CFakeTransport fake;
    CRomSession session(sink, nullptr);
    session.SetTransport(&fake);
    for (int k = 0; k < kRomTypeCount; ++k) {
        EXPECT_EQ(session.ChangeRomType(k), EEmuResult::kOk);
        EXPECT_EQ(session.RomSize(), kRomTypes[static_cast<size_t>(k)].nSize);
    }
    // An index outside the table changes nothing and sends nothing.
    EXPECT_EQ(session.ChangeRomType(8), EEmuResult::kOk);
    EXPECT_EQ(session.RomSize(), 1048576u);
    const std::vector<std::pair<int, int>> masks{{3, 0x00}, {3, 0x01}, {3, 0x03}, {3, 0x07},
                                                 {3, 0x0F}, {3, 0x1F}, {3, 0x3F}, {3, 0x7F}};
    EXPECT_EQ(Commands(fake), masks);
    // Without a link the operations do nothing.
    session.SetTransport(nullptr);
    EXPECT_EQ(session.Reset(), EEmuResult::kNoDevice);
    EXPECT_EQ(fake.m_transfers.size(), 8u);
}

TEST(RomSession, AutoChecksAfterAWholeDownloadAndStopsOnARefusal)
{
    struct Case {
        const char* name;
        unsigned nStallAt;  // 0: none
        bool bCheckPasses;
        bool bChecked;
        std::vector<std::pair<int, int>> commands;
    };
    const std::vector<Case> cases{
        {"check passes", 0, true, true, {{2, 0}, {0, 0}, {0, 1}, {2, 1}, {4, 0}}},
        {"check refuses", 0, false, true, {{2, 0}, {0, 0}, {0, 1}}},
        // A download that failed is not checked: the transfer failure ends Auto.
        {"download failed", 4, true, false, {{2, 0}, {0, 0}}},
    };
    for (const Case& c : cases) {
        CCountingSink sink;
        SFakeFaults faults;
        faults.nStallAt = c.nStallAt;
        CFakeTransport fake(faults);
        CRomSession session(sink, nullptr);
        session.SetTransport(&fake);
        session.ChangeRomType(3);  // 64 KiB: two blocks
        fake.m_transfers.clear();
        session.Fill(0x5A);
        bool checked = false;
        const SAutoResult r = session.Auto([] { return true; }, [] { return 0x10000u; }, nullptr, [&] {
            checked = true;
            return c.bCheckPasses;
        });
        EXPECT_EQ(checked, c.bChecked) << c.name;
        EXPECT_EQ(Commands(fake), c.commands) << c.name;
        EXPECT_EQ(session.LastReport().nBlocks, 2u) << c.name;
        EXPECT_EQ(session.LastReport().nBlocksDone, c.nStallAt ? 1u : 2u) << c.name;
        EXPECT_EQ(r.eResult, c.nStallAt ? EEmuResult::kTransferFailed : EEmuResult::kOk) << c.name;
    }
}

TEST(RomSession, ReadBlocksReplacesOnlyTheBlocksAsked)
{
    CCountingSink sink;
    CFakeTransport fake;
    for (size_t i = 0; i < fake.m_firmware.m_memory.size(); ++i)
        fake.m_firmware.m_memory[i] = static_cast<uint8_t>(i / kDataBlockSize + 1);
    CRomSession session(sink, nullptr);
    session.SetTransport(&fake);
    session.SetRomSize(kRomImageSize);
    session.Fill(0xEE);
    const std::vector<uint32_t> blocks{3, 1};
    EXPECT_EQ(session.ReadBlocks(blocks), EEmuResult::kOk);
    EXPECT_EQ(Commands(fake), (std::vector<std::pair<int, int>>{{1, 3}, {1, 1}}));
    EXPECT_EQ(session.LastReport().nBlocksDone, 2u);
    for (uint32_t b = 0; b < 5; ++b) {
        const uint8_t wanted = b == 1 || b == 3 ? static_cast<uint8_t>(b + 1) : 0xEE;
        EXPECT_EQ(session.Buffer()[b * kDataBlockSize], wanted) << "block " << b;
        EXPECT_EQ(session.Buffer()[b * kDataBlockSize + kDataBlockSize - 1], wanted) << "block " << b;
    }
    // Without a link nothing is read.
    session.SetTransport(nullptr);
    EXPECT_EQ(session.ReadBlocks(blocks), EEmuResult::kNoDevice);
}

}  // namespace

TEST(RomSession, AnOperationOpensTheEmulatorOnceAndAHeldOneNotAgain)
{
    CCountingSink sink;
    CFakeTransport fake;
    CRomSession session(sink, nullptr);
    session.SetTransport(&fake);
    session.SetRomSize(4 * 32768);
    EXPECT_EQ(session.Download(), EEmuResult::kOk);
    EXPECT_EQ(fake.m_nOpens, 1u);
    {
        const CEmuClaim claim(fake);
        ASSERT_TRUE(session.Opened(claim));
        EXPECT_EQ(session.Download(), EEmuResult::kOk);
        EXPECT_TRUE(session.Verify().Identical());
        EXPECT_EQ(session.Reset(), EEmuResult::kOk);
    }
    EXPECT_EQ(fake.m_nOpens, 2u);
    EXPECT_EQ(fake.m_transfers.size(), 8u + 8u + 8u + 1u);
    EXPECT_TRUE(sink.m_messages.empty());
}

TEST(RomSession, APairSplitsSendsAndComparesBothHalves)
{
    CCountingSink sink;
    CFakeTransport even, odd;
    CRomPair pair(sink, even, odd, 32768);
    CRomImage image(0xEE);
    for (uint32_t a = 0; a < 65536; ++a)
        image.Data()[a] = static_cast<uint8_t>(a * 7 + (a >> 8));
    pair.Split(image);
    ASSERT_EQ(pair.Download().eResult, EEmuResult::kOk);
    for (uint32_t k = 0; k < 32768; ++k) {
        ASSERT_EQ(even.m_firmware.m_memory[k], image.Data()[2 * k]) << k;
        ASSERT_EQ(odd.m_firmware.m_memory[k], image.Data()[2 * k + 1]) << k;
    }
    SVerifyResult back;
    ASSERT_EQ(pair.Verify(image, back).eResult, EEmuResult::kOk);
    EXPECT_TRUE(back.Identical());
    // One byte wrong on the odd emulator is one byte of the image, at its odd address.
    odd.m_firmware.m_memory[100] ^= 0xFF;
    ASSERT_EQ(pair.Verify(image, back).eResult, EEmuResult::kOk);
    ASSERT_EQ(back.diff.nBytes, 1u);
    EXPECT_EQ(back.diff.ranges[0].nStart, 201u);
    std::vector<uint8_t> joined;
    ASSERT_EQ(pair.Upload(joined).eResult, EEmuResult::kOk);
    EXPECT_EQ(joined.size(), 65536u);
    EXPECT_EQ(joined[201], static_cast<uint8_t>(image.Data()[201] ^ 0xFF));
}

TEST(RomSession, WatchCycleSendsOnlyChangedBlocksAndEverythingAfterAFailure)
{
    CCountingSink sink;
    SFakeFaults faults;
    CFakeTransport even(faults), odd(faults);
    CRomSession a(sink, nullptr), b(sink, nullptr);
    a.SetRomSize(65536);
    b.SetRomSize(65536);
    a.SetTransport(&even);
    b.SetTransport(&odd);
    CWatchCycle cycle({&a, &b}, SThen{}, true);
    CRomImage image(0x00);
    SCycleResult r = cycle.Run(image, {});
    EXPECT_TRUE(r.bFull);
    EXPECT_EQ(r.blocks, (std::vector<std::vector<uint32_t>>{{0, 1}, {0, 1}}));
    // Even image byte 2 x 40000 is the first emulator's address 40000: its block 1 alone.
    image.Data()[80000] = 0x5A;
    even.m_transfers.clear();
    odd.m_transfers.clear();
    r = cycle.Run(image, {});
    ASSERT_EQ(r.eResult, EEmuResult::kOk);
    EXPECT_FALSE(r.bFull);
    EXPECT_EQ(r.blocks, (std::vector<std::vector<uint32_t>>{{1}, {}}));
    EXPECT_EQ(Commands(even), (std::vector<std::pair<int, int>>{{2, 0}, {0, 1}, {1, 1}, {2, 1}, {4, 0}}));
    EXPECT_EQ(Commands(odd), (std::vector<std::pair<int, int>>{{2, 0}, {2, 1}, {4, 0}}));
    // A change that moves no block sends nothing at all.
    odd.m_transfers.clear();
    r = cycle.Run(image, {});
    EXPECT_TRUE(odd.m_transfers.empty());
    // A failed block leaves both emulators unknown: the next cycle sends everything again.
    image.Data()[1] = 0x11;
    odd.m_faults.nStallAt = static_cast<unsigned>(odd.m_transfers.size()) + 3;
    r = cycle.Run(image, {});
    EXPECT_EQ(r.eResult, EEmuResult::kTransferFailed);
    EXPECT_EQ(r.nSide, 1);
    EXPECT_TRUE(r.bInBlocks);
    odd.m_faults.nStallAt = 0;
    r = cycle.Run(image, {});
    ASSERT_EQ(r.eResult, EEmuResult::kOk);
    EXPECT_TRUE(r.bFull);
    EXPECT_EQ(r.blocks, (std::vector<std::vector<uint32_t>>{{0, 1}, {0, 1}}));
}

namespace {

TEST(RomSession, FillRangeSetsBothEndsAndRefusesWhatLeavesTheImage)
{
    CCountingSink sink;
    CRomSession session(sink, nullptr);
    session.Fill(0x00);
    EXPECT_EQ(session.FillRange(0x10, 0x1F, 0xA5), EFillCheck::kOk);
    EXPECT_EQ(session.Buffer()[0x0F], 0x00);
    EXPECT_EQ(session.Buffer()[0x10], 0xA5);
    EXPECT_EQ(session.Buffer()[0x1F], 0xA5);
    EXPECT_EQ(session.Buffer()[0x20], 0x00);
    EXPECT_TRUE(session.Image().IsSet(0x1F));
    EXPECT_EQ(session.Image().BytesRead(), 0x20u);
    EXPECT_EQ(session.FillRange(0x20, 0x1F, 0x11), EFillCheck::kStopBelowStart);
    EXPECT_EQ(session.FillRange(0xFFFF0, 0x100000, 0x11), EFillCheck::kStopBeyondImage);
    EXPECT_EQ(session.FillRange(0x100000, 0x100000, 0x11), EFillCheck::kStartBeyondImage);
    EXPECT_EQ(session.Buffer()[0xFFFF0], 0x00);
    EXPECT_EQ(session.FillRange(0xFFFFF, 0xFFFFF, 0x11), EFillCheck::kOk);
    EXPECT_EQ(session.Buffer()[0xFFFFF], 0x11);
    EXPECT_EQ(session.Image().BytesRead(), 0x100000u);
    EXPECT_TRUE(sink.m_messages.empty());
}

TEST(RomSession, ProgressInWords)
{
    SOperationReport report;
    report.nBlocks = 32;
    report.nBlocksDone = 2;
    EXPECT_EQ(DescribeProgress(report, false), "2 of 32 blocks were written.");
    report.nBlocks = 1;
    report.nBlocksDone = 0;
    EXPECT_EQ(DescribeProgress(report, true), "0 of 1 block was read.");
}

} // namespace
