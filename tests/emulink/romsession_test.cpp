// SPDX-License-Identifier: MIT
// The ROM session over the recording fake: ROM type changes, the session's report, and the check
// that Auto runs between its download and its run command.
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
