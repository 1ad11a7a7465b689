// SPDX-License-Identifier: MIT
// One contract for every transport: the recording fake and the USB transport under the simulator
// both have to pass it, and so do the operations built on them.
#include <libusb.h>

#include <algorithm>

#include "emulink/emuprotocol.h"
#include "session/emulink.h"
#include "session/romsession.h"
#include "transportcontract.h"
#include "transporttest.h"

namespace {

constexpr const char* kStateLine = "The emulator's state is unknown: reconnect or reset it before the next download.";

std::vector<uint8_t> Pattern(size_t n, uint8_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(seed + i * 5 + (i >> 15) * 17);
    return v;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

CEmuTransport& TransportContract::Start(const SRigFaults& faults)
{
    m_pRig = GetParam().make();
    return m_pRig->Start(faults);
}

void TransportContract::TearDown() { m_pRig.reset(); }

TEST_P(TransportContract, WriteAndReadMoveEveryByteOnTheirPipes)
{
    CEmuTransport& t = Start();
    const std::vector<uint8_t> block = Pattern(kDataBlockSize, 3);
    const CommandBlock write = MakeCommandBlock(EMU_WRITE_BLOCK, 1);
    const CommandBlock read = MakeCommandBlock(EMU_READ_BLOCK, 1);
    EXPECT_TRUE(t.BulkWrite(write.data(), write.size()).Ok());
    const STransferStatus sent = t.BulkWrite(block.data(), block.size());
    EXPECT_TRUE(sent.Ok());
    EXPECT_EQ(sent.nMoved, kDataBlockSize);
    EXPECT_EQ(sent.nAsked, kDataBlockSize);
    EXPECT_EQ(sent.sDevice, "1-1");
    EXPECT_TRUE(t.BulkWrite(read.data(), read.size()).Ok());
    std::vector<uint8_t> back(kDataBlockSize, 0);
    const STransferStatus received = t.BulkRead(back.data(), back.size());
    EXPECT_TRUE(received.Ok());
    EXPECT_EQ(received.nMoved, kDataBlockSize);
    EXPECT_EQ(back, block);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), m_pRig->Firmware().m_memory.begin() + kDataBlockSize));
    EXPECT_EQ(m_pRig->Transfers(), 4u);
}

TEST_P(TransportContract, AnAbsentEmulatorIsSaidOnceWithTheFixedTextAlone)
{
    SRigFaults none;
    none.nEmulators = 0;
    CEmuTransport& t = Start(none);
    CEmuLink link(t, m_sink, &m_owner);
    EXPECT_EQ(link.SetRunState(true), EEmuResult::kNoDevice);
    EXPECT_EQ(link.Report().failure.eError, ETransferError::kNoDevice);
    ASSERT_EQ(m_sink.m_messages.size(), 1u);
    EXPECT_EQ(m_sink.m_messages[0].sText, "Could not open the Device");
    EXPECT_EQ(m_sink.m_messages[0].pOwner, &m_owner);

    std::vector<uint8_t> dest(kDataBlockSize, 0xA5);
    EXPECT_EQ(t.BulkRead(dest.data(), dest.size()).eError, ETransferError::kNoDevice);
    EXPECT_EQ(dest, std::vector<uint8_t>(kDataBlockSize, 0xA5));
    EXPECT_EQ(m_sink.m_messages.size(), 1u);
}

TEST_P(TransportContract, RefusedOpenSaysTheFixedTextThenItsCause)
{
    struct SCase {
        const char* pszName;
        SRigFaults faults;
        ETransferError eError;
        int nLibusbError;
        std::vector<std::string> parts;  // what the second line must say
    };
    SRigFaults deny, busy, noLibusb, swapped;
    deny.bDenyAccess = true;
    busy.bBusy = true;
    noLibusb.bNoLibusb = true;
    swapped.bSwapEndpoints = true;
    const SCase cases[] = {
        {"access denied", deny, ETransferError::kAccessDenied, LIBUSB_ERROR_ACCESS,
         {"USB 1-1", "LIBUSB_ERROR_ACCESS", "udev rules"}},
        {"busy", busy, ETransferError::kBusy, LIBUSB_ERROR_BUSY,
         {"busy: another program is using Ezusb-0", "USB 1-1", "nothing was sent"}},
        {"libusb", noLibusb, ETransferError::kNoLibusb, LIBUSB_ERROR_OTHER, {"libusb could not start"}},
        {"endpoints", swapped, ETransferError::kWrongEndpoint, 0,
         {"USB 1-1", "pipe 0 must be a bulk IN endpoint and pipe 1 a bulk OUT endpoint"}},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        m_sink.m_messages.clear();
        CEmuTransport& t = Start(c.faults);
        const CommandBlock reset = MakeCommandBlock(EMU_RESET, 0);
        const STransferStatus s = t.BulkWrite(reset.data(), reset.size());
        EXPECT_EQ(s.eError, c.eError);
        EXPECT_EQ(s.nLibusbError, c.nLibusbError);
        EXPECT_TRUE(s.NotOpened());
        std::vector<uint8_t> dest(64, 0x11);
        EXPECT_EQ(t.BulkRead(dest.data(), dest.size()).eError, c.eError);

        CEmuLink link(t, m_sink, &m_owner);
        EXPECT_EQ(link.Reset(), EEmuResult::kNoDevice);
        ASSERT_EQ(m_sink.m_messages.size(), 1u);
        const std::string& text = m_sink.m_messages[0].sText;
        EXPECT_EQ(text.rfind("Could not open the Device\n", 0), 0u) << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
        for (const std::string& part : c.parts)
            EXPECT_TRUE(Contains(text, part)) << text;
        EXPECT_EQ(m_pRig->Transfers(), 0u);
    }
}

TEST_P(TransportContract, FailedTransfersNameTheirCauseAndLeaveTheMessageToTheCaller)
{
    struct SCase {
        const char* pszName;
        SRigFaults faults;
        bool bRead;  // the faulty transfer is the read after a read command; else the first write
        ETransferError eError;
        int nLibusbError;
        size_t nMoved;
    };
    SRigFaults stall, timeout, shortRead, silent;
    stall.nStallAt = 1;
    timeout.nTimeoutAt = 1;
    shortRead.nShortReadAt = 2;
    const SCase cases[] = {
        {"stall", stall, false, ETransferError::kStall, LIBUSB_ERROR_PIPE, 0},
        {"time-out", timeout, false, ETransferError::kTimeout, LIBUSB_ERROR_TIMEOUT, 0},
        {"short read", shortRead, true, ETransferError::kShort, 0, kDataBlockSize / 2},
        {"nothing to read", silent, true, ETransferError::kTimeout, LIBUSB_ERROR_TIMEOUT, 0},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.pszName);
        CEmuTransport& t = Start(c.faults);
        const CommandBlock read = MakeCommandBlock(EMU_READ_BLOCK, 0);
        std::vector<uint8_t> dest(kDataBlockSize);
        STransferStatus s;
        if (c.bRead) {
            if (c.faults.nShortReadAt) {
                ASSERT_TRUE(t.BulkWrite(read.data(), read.size()).Ok());
            }
            s = t.BulkRead(dest.data(), dest.size());
        } else {
            s = t.BulkWrite(read.data(), read.size());
        }
        EXPECT_EQ(s.eError, c.eError);
        EXPECT_EQ(s.nLibusbError, c.nLibusbError);
        EXPECT_EQ(s.nMoved, c.nMoved);
        EXPECT_EQ(s.nAsked, c.bRead ? kDataBlockSize : kCommandBlockSize);
        EXPECT_EQ(s.sDevice, "1-1");
        EXPECT_FALSE(s.NotOpened());
        EXPECT_FALSE(DescribeCause(s).empty());
    }
}

TEST_P(TransportContract, AfterAStallTheNextTransferWorks)
{
    SRigFaults f;
    f.nStallAt = 1;
    CEmuTransport& t = Start(f);
    const CommandBlock run = MakeCommandBlock(EMU_RUN, 1);
    EXPECT_EQ(t.BulkWrite(run.data(), run.size()).eError, ETransferError::kStall);
    EXPECT_FALSE(m_pRig->Firmware().m_bRunning);
    EXPECT_TRUE(t.BulkWrite(run.data(), run.size()).Ok());
    EXPECT_TRUE(m_pRig->Firmware().m_bRunning);
}

TEST_P(TransportContract, UnplugDuringATransferIsNoAbsenceButTheNextOpenFindsNone)
{
    SRigFaults f;
    f.nUnplugDuring = 2;
    CEmuTransport& t = Start(f);
    const CommandBlock write = MakeCommandBlock(EMU_WRITE_BLOCK, 0);
    const std::vector<uint8_t> block = Pattern(kDataBlockSize, 9);
    ASSERT_TRUE(t.BulkWrite(write.data(), write.size()).Ok());
    const STransferStatus cut = t.BulkWrite(block.data(), block.size());
    EXPECT_EQ(cut.eError, ETransferError::kGone);
    EXPECT_EQ(cut.nLibusbError, LIBUSB_ERROR_NO_DEVICE);
    EXPECT_FALSE(cut.NotOpened());
    EXPECT_EQ(t.BulkWrite(write.data(), write.size()).eError, ETransferError::kNoDevice);
    EXPECT_EQ(m_pRig->Transfers(), 2u);
}

TEST_P(TransportContract, UnplugWhileHeldFailsEveryLaterTransferOfTheOperation)
{
    SRigFaults f;
    f.nUnplugDuring = 2;
    CEmuTransport& t = Start(f);
    const CommandBlock write = MakeCommandBlock(EMU_WRITE_BLOCK, 0);
    const std::vector<uint8_t> block = Pattern(kDataBlockSize, 9);
    {
        const CEmuClaim claim(t);
        ASSERT_TRUE(claim.Ok());
        ASSERT_TRUE(t.BulkWrite(write.data(), write.size()).Ok());
        EXPECT_EQ(t.BulkWrite(block.data(), block.size()).eError, ETransferError::kGone);
        // Still held, the emulator is gone: no absence, a failure of the operation under way.
        const STransferStatus next = t.BulkWrite(write.data(), write.size());
        EXPECT_EQ(next.eError, ETransferError::kGone);
        EXPECT_FALSE(next.NotOpened());
    }
    EXPECT_EQ(t.BulkWrite(write.data(), write.size()).eError, ETransferError::kNoDevice);
    EXPECT_EQ(m_pRig->Transfers(), 2u);
}

// The operations over the transport: where they stop, what they say, how far they got.

TEST_P(TransportContract, DownloadStoppedAtBlockThreeKeepsItsProgressThereAndCountsTwoBlocks)
{
    SRigFaults f;
    f.nStallAt = 5;  // the command block of block 2, the third: the emulator took nothing of it
    CEmuTransport& t = Start(f);
    CEmuLink link(t, m_sink, &m_owner);
    std::vector<std::pair<uint32_t, uint32_t>> steps;
    link.SetProgress([&steps](uint32_t pos, uint32_t range) { steps.emplace_back(pos, range); });
    std::vector<uint8_t> rom = Pattern(kRomImageSize, 1);
    EXPECT_EQ(link.Download(rom.data(), 131072), EEmuResult::kTransferFailed);  // 27C010: 4 blocks
    EXPECT_EQ(link.Report().nBlocks, 4u);
    EXPECT_EQ(link.Report().nBlocksDone, 2u);
    EXPECT_EQ(steps, (std::vector<std::pair<uint32_t, uint32_t>>{{0, 4}, {1, 4}, {2, 4}}));
    EXPECT_EQ(m_pRig->Transfers(), 5u);
    EXPECT_EQ(link.Report().failure.eError, ETransferError::kStall);
    ASSERT_EQ(m_sink.m_messages.size(), 1u);
    EXPECT_EQ(m_sink.m_messages[0].sText,
              std::string("The transfer to the Device failed\n") +
                  "The emulator at USB 1-1 stalled the transfer (LIBUSB_ERROR_PIPE): check the target's power, then "
                  "unplug the emulator and plug it in again.\n" +
                  kStateLine);

    // The halt was cleared: the user's reset goes through.
    EXPECT_EQ(link.Reset(), EEmuResult::kOk);
    EXPECT_EQ(m_pRig->Firmware().m_nResets, 1u);
    EXPECT_EQ(link.Report().nBlocks, 0u);
}

TEST_P(TransportContract, UploadStoppedAtBlockThreeKeepsItsProgressAndTheSlicesNotRead)
{
    SRigFaults f;
    f.nStallAt = 6;  // the read of block 2
    CEmuTransport& t = Start(f);
    const std::vector<uint8_t> memory = Pattern(kRomImageSize, 40);
    m_pRig->SetMemory(memory);
    CEmuLink link(t, m_sink, &m_owner);
    std::vector<std::pair<uint32_t, uint32_t>> steps;
    link.SetProgress([&steps](uint32_t pos, uint32_t range) { steps.emplace_back(pos, range); });
    std::vector<uint8_t> rom(kRomImageSize, 0x77);
    EXPECT_EQ(link.Upload(rom.data(), 131072), EEmuResult::kTransferFailed);
    EXPECT_EQ(steps.back(), (std::pair<uint32_t, uint32_t>{2, 4}));
    EXPECT_EQ(link.Report().nBlocksDone, 2u);
    EXPECT_TRUE(std::equal(rom.begin(), rom.begin() + 2 * kDataBlockSize, memory.begin()));
    EXPECT_TRUE(std::all_of(rom.begin() + 2 * kDataBlockSize, rom.end(), [](uint8_t b) { return b == 0x77; }));
    ASSERT_EQ(m_sink.m_messages.size(), 1u);
    EXPECT_EQ(m_sink.m_messages[0].sText.rfind("The transfer from the Device failed\nThe emulator at USB 1-1 stalled", 0),
              0u);
    EXPECT_TRUE(Contains(m_sink.m_messages[0].sText, kStateLine));
}

TEST_P(TransportContract, RefusedEmulatorEndsTheDownloadWithOneMessageAndSendsNothing)
{
    for (bool busy : {false, true}) {
        SCOPED_TRACE(busy ? "busy" : "access denied");
        m_sink.m_messages.clear();
        SRigFaults f;
        (busy ? f.bBusy : f.bDenyAccess) = true;
        CEmuTransport& t = Start(f);
        CEmuLink link(t, m_sink, &m_owner);
        std::vector<std::pair<uint32_t, uint32_t>> steps;
        link.SetProgress([&steps](uint32_t pos, uint32_t range) { steps.emplace_back(pos, range); });
        std::vector<uint8_t> rom(kRomImageSize, 0);
        EXPECT_EQ(link.Download(rom.data(), 65536), EEmuResult::kNoDevice);  // 27C512: 2 blocks
        EXPECT_EQ(link.Report().nBlocksDone, 0u);
        EXPECT_EQ(link.Report().failure.eError, busy ? ETransferError::kBusy : ETransferError::kAccessDenied);
        EXPECT_EQ(steps, (std::vector<std::pair<uint32_t, uint32_t>>{{0, 2}}));
        ASSERT_EQ(m_sink.m_messages.size(), 1u);
        const std::string& text = m_sink.m_messages[0].sText;
        EXPECT_EQ(text.rfind("Could not open the Device\n", 0), 0u) << text;
        EXPECT_TRUE(Contains(text, busy ? "another program" : "udev rules")) << text;
        EXPECT_EQ(m_pRig->Transfers(), 0u);
    }
}

TEST_P(TransportContract, UnplugDuringADataBlockEndsTheDownloadWithItsStateUnknown)
{
    SRigFaults f;
    f.nUnplugDuring = 4;  // the data block of block 1
    CEmuTransport& t = Start(f);
    CEmuLink link(t, m_sink, &m_owner);
    std::vector<std::pair<uint32_t, uint32_t>> steps;
    link.SetProgress([&steps](uint32_t pos, uint32_t range) { steps.emplace_back(pos, range); });
    std::vector<uint8_t> rom = Pattern(kRomImageSize, 2);
    EXPECT_EQ(link.Download(rom.data(), 131072), EEmuResult::kTransferFailed);
    EXPECT_EQ(link.Report().nBlocksDone, 1u);
    EXPECT_EQ(steps.back(), (std::pair<uint32_t, uint32_t>{1, 4}));
    ASSERT_EQ(m_sink.m_messages.size(), 1u);
    EXPECT_EQ(m_sink.m_messages[0].sText,
              std::string("The transfer to the Device failed\n")
                  + "The emulator at USB 1-1 was unplugged during the transfer (LIBUSB_ERROR_NO_DEVICE): check the "
                    "cable and plug it in again.\n"
                  + kStateLine);

    m_sink.m_messages.clear();
    EXPECT_EQ(link.SetRunState(true), EEmuResult::kNoDevice);
    ASSERT_EQ(m_sink.m_messages.size(), 1u);
    EXPECT_EQ(m_sink.m_messages[0].sText, "Could not open the Device");
}

TEST_P(TransportContract, AutoWithAStalledBlockLoadsButSkipsRunAndReset)
{
    SRigFaults f;
    f.nStallAt = 3;  // the first data block
    CEmuTransport& t = Start(f);
    CRomSession session(m_sink, &m_owner);
    session.SetTransport(&t);
    session.SetRomSize(65536);
    bool loaded = false;
    const SAutoResult r = session.Auto([&] { return loaded = true; }, {}, {});
    EXPECT_TRUE(loaded);
    EXPECT_EQ(r.eResult, EEmuResult::kTransferFailed);
    EXPECT_TRUE(r.bDownloaded);
    EXPECT_EQ(session.LastReport().nBlocks, 2u);
    EXPECT_EQ(session.LastReport().nBlocksDone, 0u);
    EXPECT_EQ(m_pRig->Transfers(), 3u);
    EXPECT_FALSE(m_pRig->Firmware().m_bRunning);
    EXPECT_EQ(m_pRig->Firmware().m_nResets, 0u);
    EXPECT_EQ(session.LastReport().failure.eError, ETransferError::kStall);
    ASSERT_EQ(m_sink.m_messages.size(), 1u);
    EXPECT_TRUE(Contains(m_sink.m_messages[0].sText, kStateLine));
}
