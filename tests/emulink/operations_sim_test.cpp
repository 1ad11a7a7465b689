// SPDX-License-Identifier: MIT
// The emulator operations end to end against the simulated emulator, checked on its transfer log.
#include <algorithm>
#include <numeric>

#include "emulink/emuprotocol.h"
#include "session/emulink.h"
#include "session/romsession.h"
#include "simfixture.h"

namespace {

std::string Command(unsigned seq, uint8_t opcode, uint8_t parameter)
{
    CommandBlock b = MakeCommandBlock(opcode, parameter);
    return FormatTransfer(seq, 0, false, b.data(), b.size());
}

std::string Data(unsigned seq, bool in, const uint8_t* bytes)
{
    return FormatTransfer(seq, 0, in, bytes, kDataBlockSize);
}

// A buffer whose every 32 KiB slice differs, so a block sent from the wrong offset shows.
std::vector<uint8_t> Pattern(uint8_t seed)
{
    std::vector<uint8_t> v(kRomImageSize);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 15) * 13);
    return v;
}

struct SProgress {
    std::vector<std::pair<uint32_t, uint32_t>> steps;
    ProgressFn Fn()
    {
        return [this](uint32_t pos, uint32_t range) { steps.emplace_back(pos, range); };
    }
};

}  // namespace

class OperationsTest : public SimTest {
protected:
    void SetUp() override { Start(); }
    CEmuLink Link() { return CEmuLink(*m_pTransport, m_sink, &m_owner); }
    // A session whose image is m_rom, over the fixture's transport.
    std::unique_ptr<CRomSession> Session(uint32_t romSize)
    {
        auto session = std::make_unique<CRomSession>(m_sink, &m_owner);
        std::copy(m_rom.begin(), m_rom.end(), session->Buffer());
        session->SetRomSize(romSize);
        session->SetTransport(m_pTransport.get());
        return session;
    }

    std::vector<uint8_t> m_rom = Pattern(1);
};

TEST_F(OperationsTest, Download27C64SendsOneWholeBlockIncludingBytesPastTheRom)
{
    auto session = Session(8192);
    SProgress progress;
    session->SetProgress(progress.Fn());
    const std::vector<uint8_t> edited(8192, 0xE7);
    size_t asked = 0;
    auto getData = [&](uint8_t* dest, size_t max) {
        asked = max;
        size_t n = std::min(max, edited.size());
        std::copy_n(edited.begin(), n, dest);
        return n;
    };
    EXPECT_EQ(session->Download(0x2000, getData), EEmuResult::kOk);
    EXPECT_EQ(asked, 0x2000u);

    std::vector<uint8_t> expected = Pattern(1);
    std::fill_n(expected.begin(), 8192, 0xE7);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), session->Buffer()));  // the editor's bytes came back
    EXPECT_EQ(m_pSim->LogLines(), (std::vector<std::string>{Command(1, 0, 0), Data(2, false, expected.data())}));
    const auto memory = m_pSim->Firmware(0).m_memory;
    EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + 32768, memory.begin()));
    EXPECT_EQ(memory[32768], 0xFF);  // nothing beyond the one block
    EXPECT_EQ(progress.steps, (std::vector<std::pair<uint32_t, uint32_t>>{{0, 1}, {1, 1}, {1, 1}}));
    EXPECT_TRUE(m_sink.m_messages.empty());
}

TEST_F(OperationsTest, Download27C080SendsThirtyTwoBlocksInOrder)
{
    CEmuLink link = Link();
    SProgress progress;
    link.SetProgress(progress.Fn());
    EXPECT_EQ(link.Download(m_rom.data(), 1048576), EEmuResult::kOk);
    std::vector<std::string> expected;
    for (unsigned i = 0; i < 32; ++i) {
        expected.push_back(Command(2 * i + 1, 0, static_cast<uint8_t>(i)));
        expected.push_back(Data(2 * i + 2, false, m_rom.data() + i * kDataBlockSize));
    }
    EXPECT_EQ(m_pSim->LogLines(), expected);
    EXPECT_EQ(m_pSim->Firmware(0).m_memory, m_rom);
    ASSERT_EQ(progress.steps.size(), 34u);
    EXPECT_EQ(progress.steps.front(), (std::pair<uint32_t, uint32_t>{0, 32}));
    EXPECT_EQ(progress.steps[16], (std::pair<uint32_t, uint32_t>{16, 32}));
    EXPECT_EQ(progress.steps.back(), (std::pair<uint32_t, uint32_t>{32, 32}));
}

TEST_F(OperationsTest, BytesReadBoundsWhatTheEditorGivesBack)
{
    auto session = Session(8192);
    bool called = false;
    auto untouched = [&](uint8_t*, size_t) { called = true; return size_t{0}; };
    session->Download(0, untouched);
    EXPECT_FALSE(called);  // nothing loaded yet: the image goes out as it is
    EXPECT_EQ(m_pSim->LogLines().at(1), Data(2, false, Pattern(1).data()));

    // A count larger than the image is held to its 1 MiB.
    size_t asked = 0;
    auto editor = [&](uint8_t* dest, size_t max) {
        asked = max;
        std::fill_n(dest, max, 0x3C);
        return max;
    };
    session->Download(0xFFFFFFFFu, editor);
    EXPECT_EQ(asked, kRomImageSize);
    EXPECT_TRUE(std::all_of(session->Buffer(), session->Buffer() + kRomImageSize, [](uint8_t b) { return b == 0x3C; }));

    session->Download(16, editor);
    EXPECT_EQ(asked, 16u);
}

TEST_F(OperationsTest, RomTypeSendsTheEightMasks)
{
    CEmuLink link = Link();
    std::vector<std::string> expected;
    const uint8_t masks[] = {0x00, 0x01, 0x03, 0x07, 0x0F, 0x1F, 0x3F, 0x7F};
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(link.SetRomType(k), EEmuResult::kOk);
        expected.push_back(Command(static_cast<unsigned>(k + 1), 3, masks[k]));
        EXPECT_EQ(m_pSim->Firmware(0).m_nMask, masks[k]);
    }
    link.SetRomType(9);
    expected.push_back(Command(9, 3, 0));
    EXPECT_EQ(m_pSim->LogLines(), expected);
}

TEST_F(OperationsTest, RunStopAndResetAreOneCommandBlockEach)
{
    CEmuLink link = Link();
    EXPECT_EQ(link.SetRunState(true), EEmuResult::kOk);
    EXPECT_TRUE(m_pSim->Firmware(0).m_bRunning);
    EXPECT_EQ(link.SetRunState(false), EEmuResult::kOk);
    EXPECT_FALSE(m_pSim->Firmware(0).m_bRunning);
    EXPECT_EQ(link.Reset(), EEmuResult::kOk);
    EXPECT_EQ(m_pSim->Firmware(0).m_nResets, 1u);
    EXPECT_EQ(m_pSim->LogLines(), (std::vector<std::string>{Command(1, 2, 1), Command(2, 2, 0), Command(3, 4, 0)}));
}

TEST_F(OperationsTest, UploadStoresTheReadBytes)
{
    const std::vector<uint8_t> memory = Pattern(99);
    m_pSim->SetMemory(0, 0, memory);
    CEmuLink link = Link();
    SProgress progress;
    link.SetProgress(progress.Fn());
    EXPECT_EQ(link.Upload(m_rom.data(), 8192), EEmuResult::kOk);
    // A whole 32 KiB slice comes in even for an 8 KiB ROM; the rest of the buffer is left alone.
    EXPECT_TRUE(std::equal(memory.begin(), memory.begin() + 32768, m_rom.begin()));
    EXPECT_TRUE(std::equal(m_rom.begin() + 32768, m_rom.end(), Pattern(1).begin() + 32768));
    EXPECT_EQ(m_pSim->LogLines(), (std::vector<std::string>{Command(1, 1, 0), Data(2, true, memory.data())}));
    EXPECT_EQ(progress.steps.back(), (std::pair<uint32_t, uint32_t>{1, 1}));

    m_pSim->ClearLog();
    EXPECT_EQ(link.Upload(m_rom.data(), 1048576), EEmuResult::kOk);
    EXPECT_EQ(m_rom, memory);
    EXPECT_EQ(m_pSim->LogLines().size(), 64u);
    EXPECT_EQ(m_pSim->LogLines()[62], Command(63, 1, 31));
}

TEST_F(OperationsTest, WithoutEmulatorEachOperationSaysSoOnceAndSendsNothing)
{
    Start(Emulators(0));
    CEmuLink link = Link();
    SProgress progress;
    link.SetProgress(progress.Fn());
    const std::vector<uint8_t> before = m_rom;

    EXPECT_EQ(link.Download(m_rom.data(), 65536), EEmuResult::kNoDevice);  // 27C512: 2 blocks
    EXPECT_EQ(m_sink.Count("Could not open the Device"), 1u);
    EXPECT_EQ(m_sink.m_messages.size(), 1u);
    EXPECT_EQ(progress.steps, (std::vector<std::pair<uint32_t, uint32_t>>{{0, 2}}));

    m_sink.m_messages.clear();
    EXPECT_EQ(link.Upload(m_rom.data(), 131072), EEmuResult::kNoDevice);  // 4 blocks
    EXPECT_EQ(m_sink.Count("Could not open the Device"), 1u);
    EXPECT_EQ(m_rom, before);
    EXPECT_EQ(m_sink.m_messages[0].pOwner, &m_owner);

    m_sink.m_messages.clear();
    link.SetRunState(true);
    link.SetRunState(false);
    link.Reset();
    link.SetRomType(3);
    EXPECT_EQ(m_sink.Count("Could not open the Device"), 4u);
}

TEST_F(OperationsTest, AutoStopsLoadsDownloadsRunsAndResets)
{
    auto session = Session(8192);
    size_t transfersAtLoad = 99;
    auto load = [&] {
        transfersAtLoad = m_pSim->Transfers().size();
        std::fill_n(session->Buffer(), 100, 0x42);
        return true;
    };
    const SAutoResult r = session->Auto(load, [] { return 100u; }, nullptr);
    EXPECT_TRUE(r.bLoaded);
    EXPECT_TRUE(r.bDownloaded);
    EXPECT_EQ(r.eResult, EEmuResult::kOk);
    EXPECT_EQ(transfersAtLoad, 1u);
    EXPECT_EQ(m_pSim->LogLines(), (std::vector<std::string>{Command(1, 2, 0), Command(2, 0, 0),
                                                            Data(3, false, session->Buffer()), Command(4, 2, 1),
                                                            Command(5, 4, 0)}));
    EXPECT_EQ(m_pSim->Firmware(0).m_memory[99], 0x42);
    EXPECT_TRUE(m_pSim->Firmware(0).m_bRunning);
    EXPECT_EQ(m_pSim->Firmware(0).m_nResets, 1u);
}

TEST_F(OperationsTest, AutoWithoutEmulatorSaysSoOnceAndStillLoads)
{
    Start(Emulators(0));
    auto session = Session(65536);
    size_t messagesAtLoad = 99;
    auto load = [&] {
        messagesAtLoad = m_sink.m_messages.size();
        return true;
    };
    const SAutoResult r = session->Auto(load, {}, nullptr);
    EXPECT_EQ(messagesAtLoad, 1u);  // the open said so, then the load ran
    EXPECT_TRUE(r.bLoaded);
    EXPECT_FALSE(r.bDownloaded);
    EXPECT_EQ(r.eResult, EEmuResult::kNoDevice);
    EXPECT_EQ(m_sink.Count("Could not open the Device"), 1u);
    EXPECT_EQ(m_sink.m_messages.size(), 1u);
}

TEST_F(OperationsTest, AutoEndsAfterALoadThatCannotOpenItsFile)
{
    auto session = Session(8192);
    const SAutoResult r = session->Auto([] { return false; }, {}, nullptr);
    EXPECT_FALSE(r.bLoaded);
    EXPECT_FALSE(r.bDownloaded);
    EXPECT_EQ(m_pSim->LogLines(), std::vector<std::string>{Command(1, 2, 0)});
}

TEST_F(OperationsTest, EmulatorGoneBetweenTwoTransfersFailsTheDownloadThere)
{
    SSimOptions o;
    o.nUnplugAfter = 3;
    Start(o);
    CEmuLink link = Link();
    SProgress progress;
    link.SetProgress(progress.Fn());
    EXPECT_EQ(link.Download(m_rom.data(), 131072), EEmuResult::kTransferFailed);  // 4 blocks, 8 writes
    EXPECT_EQ(m_pSim->LogLines(), (std::vector<std::string>{Command(1, 0, 0), Data(2, false, m_rom.data()),
                                                            Command(3, 0, 1)}));
    EXPECT_EQ(link.Report().failure.eError, ETransferError::kGone);
    EXPECT_EQ(link.Report().nBlocksDone, 1u);
    ASSERT_EQ(m_sink.m_messages.size(), 1u);
    EXPECT_EQ(m_sink.m_messages[0].sText.rfind("The transfer to the Device failed\nThe emulator at USB 1-1 was "
                                               "unplugged", 0),
              0u)
        << m_sink.m_messages[0].sText;
    EXPECT_EQ(progress.steps.back(), (std::pair<uint32_t, uint32_t>{1, 4}));
    EXPECT_EQ(m_pSim->EmulatorCount(), 0);
}

TEST_F(OperationsTest, StallStopsTheDownloadWithOneMessage)
{
    SSimOptions o;
    o.nStallAt = 4;
    Start(o);
    CEmuLink link = Link();
    SProgress progress;
    link.SetProgress(progress.Fn());
    EXPECT_EQ(link.Download(m_rom.data(), 131072), EEmuResult::kTransferFailed);
    const auto log = m_pSim->LogLines();
    ASSERT_EQ(log.size(), 4u);  // nothing after the stalled transfer
    EXPECT_EQ(log[2], Command(3, 0, 1));
    EXPECT_EQ(log[3], FormatTransfer(4, 0, false, nullptr, 0, "STALL"));
    ASSERT_EQ(m_sink.m_messages.size(), 1u);
    EXPECT_EQ(m_sink.m_messages[0].sText,
              "The transfer to the Device failed\n"
              "The emulator at USB 1-1 stalled the transfer (LIBUSB_ERROR_PIPE): check the target's power, then "
              "unplug the emulator and plug it in again.\n"
              "The emulator's state is unknown: reconnect or reset it before the next download.");
    EXPECT_EQ(m_sink.m_messages[0].pOwner, &m_owner);
    EXPECT_EQ(link.Report().nBlocksDone, 1u);
    EXPECT_EQ(link.Report().nBlocks, 4u);
    // The bar stays after the one block that went through.
    EXPECT_EQ(progress.steps.back(), (std::pair<uint32_t, uint32_t>{1, 4}));
}

TEST_F(OperationsTest, FailedStopSkipsAutosTransfersButNotTheLoad)
{
    SSimOptions o;
    o.nTimeoutAt = 1;
    Start(o);
    auto session = Session(8192);
    bool loaded = false;
    auto load = [&] {
        loaded = true;
        std::fill_n(session->Buffer(), 16, 0x42);
        return true;
    };
    bool asked = false;
    auto getData = [&](uint8_t*, size_t) { asked = true; return size_t{0}; };
    SAutoResult r = session->Auto(load, [] { return 16u; }, getData);
    EXPECT_EQ(r.eResult, EEmuResult::kTransferFailed);
    EXPECT_TRUE(loaded);
    EXPECT_TRUE(r.bLoaded);
    EXPECT_FALSE(r.bDownloaded);
    EXPECT_FALSE(asked);
    EXPECT_EQ(session->Buffer()[15], 0x42);  // the loaded file stays in the image
    EXPECT_EQ(m_pSim->LogLines(), std::vector<std::string>{FormatTransfer(1, 0, false, nullptr, 0, "TIMEOUT")});
    EXPECT_EQ(m_sink.m_messages.size(), 1u);
    // A single command leaves no block half sent: no word on the emulator's state.
    EXPECT_EQ(m_sink.Count("The transfer to the Device failed\n"
                           "The emulator at USB 1-1 did not answer in time (LIBUSB_ERROR_TIMEOUT): check the target's "
                           "power, then unplug the emulator and plug it in again."),
              1u);

    // A file that cannot be opened adds nothing of its own here (the loader reports it).
    m_pSim->ClearLog();
    m_sink.m_messages.clear();
    r = session->Auto([] { return false; }, {}, nullptr);
    EXPECT_EQ(r.eResult, EEmuResult::kTransferFailed);
    EXPECT_FALSE(r.bLoaded);
    EXPECT_FALSE(r.bDownloaded);
    EXPECT_EQ(m_pSim->Transfers().size(), 1u);
    EXPECT_EQ(m_sink.m_messages.size(), 1u);
}

TEST_F(OperationsTest, FailedDownloadSkipsRunAndResetInAuto)
{
    SSimOptions o;
    o.nStallAt = 3;  // the first data block
    Start(o);
    auto session = Session(65536);
    const SAutoResult r = session->Auto([] { return true; }, {}, nullptr);
    EXPECT_EQ(r.eResult, EEmuResult::kTransferFailed);
    EXPECT_TRUE(r.bLoaded);
    EXPECT_TRUE(r.bDownloaded);  // the download ran, though it failed
    EXPECT_EQ(m_pSim->Transfers().size(), 3u);
    EXPECT_FALSE(m_pSim->Firmware(0).m_bRunning);
    EXPECT_EQ(m_pSim->Firmware(0).m_nResets, 0u);
    EXPECT_EQ(m_sink.m_messages.size(), 1u);
}

TEST_F(OperationsTest, KernelDriverIsDetachedForEachOperationAndGivenBackAfter)
{
    for (bool oldKernel : {false, true}) {
        SCOPED_TRACE(oldKernel ? "GETDRIVER, DISCONNECT, CLAIMINTERFACE" : "DISCONNECT_CLAIM");
        SSimOptions o;
        o.bKernelDriver = true;
        o.bNoDisconnectClaim = oldKernel;
        Start(o);
        m_sink.m_messages.clear();
        ASSERT_EQ(m_pSim->InterfaceDriver(0), "usbtest");
        CEmuLink link = Link();
        // While an operation holds the emulator the kernel driver is away.
        link.SetProgress([&](uint32_t pos, uint32_t) {
            if (pos == 1) {
                EXPECT_EQ(m_pSim->InterfaceDriver(0), "usbfs");
            }
        });
        EXPECT_EQ(link.Download(m_rom.data(), 131072), EEmuResult::kOk);  // 4 blocks
        const auto memory = m_pSim->Firmware(0).m_memory;
        EXPECT_TRUE(std::equal(m_rom.begin(), m_rom.begin() + 131072, memory.begin()));
        EXPECT_EQ(m_pSim->InterfaceDriver(0), "usbtest");

        std::vector<uint8_t> back = Pattern(77);
        EXPECT_EQ(link.Upload(back.data(), 131072), EEmuResult::kOk);
        EXPECT_TRUE(std::equal(m_rom.begin(), m_rom.begin() + 131072, back.begin()));
        EXPECT_EQ(m_pSim->Transfers().size(), 16u);
        EXPECT_TRUE(m_sink.m_messages.empty());
        EXPECT_EQ(m_pSim->InterfaceDriver(0), "usbtest");
    }
}

TEST_F(OperationsTest, ShortReadKeepsTheSlicesNotReceived)
{
    const std::vector<uint8_t> memory = Pattern(50);
    SSimOptions o;
    o.nShortReadAt = 4;  // the second data block
    Start(o);
    m_pSim->SetMemory(0, 0, memory);
    CEmuLink link = Link();
    SProgress progress;
    link.SetProgress(progress.Fn());
    EXPECT_EQ(link.Upload(m_rom.data(), 131072), EEmuResult::kTransferFailed);
    EXPECT_TRUE(std::equal(m_rom.begin(), m_rom.begin() + 32768, memory.begin()));
    EXPECT_TRUE(std::equal(m_rom.begin() + 32768, m_rom.end(), Pattern(1).begin() + 32768));
    EXPECT_EQ(m_pSim->LogLines().size(), 4u);
    EXPECT_EQ(m_pSim->Transfers()[3].sFault, "SHORT");
    ASSERT_EQ(m_sink.m_messages.size(), 1u);
    EXPECT_EQ(m_sink.m_messages[0].sText,
              "The transfer from the Device failed\n"
              "Only 16384 of 32768 bytes were moved (emulator at USB 1-1).\n"
              "The emulator's state is unknown: reconnect or reset it before the next download.");
    EXPECT_EQ(progress.steps.back(), (std::pair<uint32_t, uint32_t>{1, 4}));
    EXPECT_EQ(link.Report().nBlocksDone, 1u);
    EXPECT_EQ(link.Report().failure.eError, ETransferError::kShort);
}
