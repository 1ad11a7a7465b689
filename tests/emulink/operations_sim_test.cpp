// SPDX-License-Identifier: MIT
// The emulator operations end to end against the simulated emulator, checked on its transfer log.
#include <algorithm>
#include <numeric>

#include "emulink/emuprotocol.h"
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

    std::vector<uint8_t> m_rom = Pattern(1);
};

TEST_F(OperationsTest, Download27C64SendsOneWholeBlockIncludingBytesPastTheRom)
{
    CEmuLink link = Link();
    SProgress progress;
    link.SetProgress(progress.Fn());
    const std::vector<uint8_t> edited(8192, 0xE7);
    size_t asked = 0;
    auto getData = [&](uint8_t* dest, size_t max) {
        asked = max;
        size_t n = std::min(max, edited.size());
        std::copy_n(edited.begin(), n, dest);
        return n;
    };
    SDownloadResult r = link.Download(m_rom.data(), 8192, "00002000", getData);
    EXPECT_EQ(r.eResult, EEmuResult::kOk);
    EXPECT_TRUE(r.bRunEnable);
    EXPECT_EQ(asked, 0x2000u);

    std::vector<uint8_t> expected = Pattern(1);
    std::fill_n(expected.begin(), 8192, 0xE7);
    EXPECT_EQ(m_rom, expected);  // the editor's bytes came back, the rest stayed
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
    link.Download(m_rom.data(), 1048576, "0", nullptr);
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
    CEmuLink link = Link();
    bool called = false;
    auto untouched = [&](uint8_t*, size_t) { called = true; return size_t{0}; };
    link.Download(m_rom.data(), 8192, "0", untouched);
    EXPECT_FALSE(called);  // "0": nothing loaded yet, the buffer goes out as it is
    EXPECT_EQ(m_rom, Pattern(1));
    EXPECT_EQ(m_pSim->LogLines().at(1), Data(2, false, Pattern(1).data()));

    // A count larger than the buffer is held to the buffer's 1 MiB.
    size_t asked = 0;
    auto editor = [&](uint8_t* dest, size_t max) {
        asked = max;
        std::fill_n(dest, max, 0x3C);
        return max;
    };
    link.Download(m_rom.data(), 8192, "FFFFFFFF", editor);
    EXPECT_EQ(asked, kRomImageSize);
    EXPECT_EQ(m_rom, std::vector<uint8_t>(kRomImageSize, 0x3C));

    link.Download(m_rom.data(), 8192, "  10", editor);
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

TEST_F(OperationsTest, WithoutEmulatorEveryWriteSaysSoAndTheOperationRunsThrough)
{
    Start(Emulators(0));
    CEmuLink link = Link();
    SProgress progress;
    link.SetProgress(progress.Fn());
    const std::vector<uint8_t> before = m_rom;

    SDownloadResult d = link.Download(m_rom.data(), 65536, "0", nullptr);  // 27C512: 2 blocks
    EXPECT_EQ(m_sink.Count("Could not open the Device"), 4u);
    EXPECT_EQ(m_sink.m_messages.size(), 4u);
    EXPECT_EQ(d.eResult, EEmuResult::kNoDevice);
    EXPECT_TRUE(d.bRunEnable);
    EXPECT_EQ(progress.steps.back(), (std::pair<uint32_t, uint32_t>{2, 2}));

    m_sink.m_messages.clear();
    EXPECT_EQ(link.Upload(m_rom.data(), 131072), EEmuResult::kNoDevice);  // 4 blocks
    EXPECT_EQ(m_sink.Count("Could not open the Device"), 4u);
    EXPECT_EQ(m_sink.m_messages.size(), 4u);
    EXPECT_EQ(m_rom, before);
    for (const auto& m : m_sink.m_messages)
        EXPECT_EQ(m.pOwner, &m_owner);

    m_sink.m_messages.clear();
    link.SetRunState(true);
    link.SetRunState(false);
    link.Reset();
    link.SetRomType(3);
    EXPECT_EQ(m_sink.Count("Could not open the Device"), 4u);
}

TEST_F(OperationsTest, AutoStopsLoadsDownloadsRunsAndResets)
{
    CEmuLink link = Link();
    size_t transfersAtLoad = 99;
    auto load = [&]() -> std::optional<std::string> {
        transfersAtLoad = m_pSim->Transfers().size();
        std::fill_n(m_rom.begin(), 100, 0x42);
        return std::string("00000064");
    };
    SAutoResult r = link.Auto(m_rom.data(), 8192, load, nullptr);
    EXPECT_TRUE(r.bLoaded);
    EXPECT_TRUE(r.bRunEnable);
    EXPECT_EQ(r.eResult, EEmuResult::kOk);
    EXPECT_EQ(transfersAtLoad, 1u);
    EXPECT_EQ(m_pSim->LogLines(), (std::vector<std::string>{Command(1, 2, 0), Command(2, 0, 0),
                                                            Data(3, false, m_rom.data()), Command(4, 2, 1),
                                                            Command(5, 4, 0)}));
    EXPECT_EQ(m_pSim->Firmware(0).m_memory[99], 0x42);
    EXPECT_TRUE(m_pSim->Firmware(0).m_bRunning);
    EXPECT_EQ(m_pSim->Firmware(0).m_nResets, 1u);
}

TEST_F(OperationsTest, AutoWithoutEmulatorRunsThroughEveryStepWithItsMessages)
{
    Start(Emulators(0));
    CEmuLink link = Link();
    size_t messagesAtLoad = 99;
    auto load = [&]() -> std::optional<std::string> {
        messagesAtLoad = m_sink.m_messages.size();
        return std::string("0");
    };
    SAutoResult r = link.Auto(m_rom.data(), 65536, load, nullptr);  // 27C512: 2 blocks
    EXPECT_EQ(messagesAtLoad, 1u);  // the stop said so, then the load ran
    EXPECT_TRUE(r.bLoaded);
    EXPECT_TRUE(r.bRunEnable);
    EXPECT_EQ(r.eResult, EEmuResult::kNoDevice);
    // Stop, 2 x (command + data), run, reset.
    EXPECT_EQ(m_sink.Count("Could not open the Device"), 7u);
    EXPECT_EQ(m_sink.m_messages.size(), 7u);
}

TEST_F(OperationsTest, AutoEndsAfterALoadThatCannotOpenItsFile)
{
    CEmuLink link = Link();
    SAutoResult r = link.Auto(m_rom.data(), 8192, [] { return std::optional<std::string>(); }, nullptr);
    EXPECT_FALSE(r.bLoaded);
    EXPECT_FALSE(r.bRunEnable);
    EXPECT_EQ(m_pSim->LogLines(), std::vector<std::string>{Command(1, 2, 0)});
}

TEST_F(OperationsTest, UnplugDuringDownloadTurnsTheRestIntoOpenFailures)
{
    SSimOptions o;
    o.nUnplugAfter = 3;
    Start(o);
    CEmuLink link = Link();
    SProgress progress;
    link.SetProgress(progress.Fn());
    SDownloadResult r = link.Download(m_rom.data(), 131072, "0", nullptr);  // 4 blocks, 8 writes
    EXPECT_EQ(m_pSim->LogLines(), (std::vector<std::string>{Command(1, 0, 0), Data(2, false, m_rom.data()),
                                                            Command(3, 0, 1)}));
    EXPECT_EQ(m_sink.Count("Could not open the Device"), 5u);
    EXPECT_EQ(m_sink.m_messages.size(), 5u);
    EXPECT_EQ(r.eResult, EEmuResult::kNoDevice);
    EXPECT_TRUE(r.bRunEnable);
    EXPECT_EQ(progress.steps.back(), (std::pair<uint32_t, uint32_t>{4, 4}));
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
    SDownloadResult r = link.Download(m_rom.data(), 131072, "0", nullptr);
    const auto log = m_pSim->LogLines();
    ASSERT_EQ(log.size(), 4u);  // nothing after the stalled transfer
    EXPECT_EQ(log[2], Command(3, 0, 1));
    EXPECT_EQ(log[3], FormatTransfer(4, 0, false, nullptr, 0, "STALL"));
    ASSERT_EQ(m_sink.m_messages.size(), 1u);
    EXPECT_EQ(m_sink.m_messages[0].sText,
              "The transfer to the Device failed\n"
              "The emulator at USB 1-1 stalled the transfer (LIBUSB_ERROR_PIPE).\n"
              "The emulator's state is unknown: reconnect or reset it before the next download.");
    EXPECT_EQ(m_sink.m_messages[0].pOwner, &m_owner);
    EXPECT_EQ(r.eResult, EEmuResult::kTransferFailed);
    EXPECT_TRUE(r.bRunEnable);
    EXPECT_EQ(r.nBlocksWritten, 1u);
    EXPECT_EQ(r.nBlocks, 4u);
    // The bar stays after the one block that went through.
    EXPECT_EQ(progress.steps.back(), (std::pair<uint32_t, uint32_t>{1, 4}));
}

TEST_F(OperationsTest, FailedStopSkipsAutosTransfersButNotTheLoad)
{
    SSimOptions o;
    o.nTimeoutAt = 1;
    Start(o);
    CEmuLink link = Link();
    bool loaded = false;
    auto load = [&] {
        loaded = true;
        std::fill_n(m_rom.begin(), 16, 0x42);
        return std::optional<std::string>("10");
    };
    bool asked = false;
    auto getData = [&](uint8_t*, size_t) { asked = true; return size_t{0}; };
    SAutoResult r = link.Auto(m_rom.data(), 8192, load, getData);
    EXPECT_EQ(r.eResult, EEmuResult::kTransferFailed);
    EXPECT_TRUE(loaded);
    EXPECT_TRUE(r.bLoaded);
    EXPECT_FALSE(r.bRunEnable);  // no download ran
    EXPECT_FALSE(asked);
    EXPECT_EQ(m_rom[15], 0x42);  // the loaded file stays in the buffer
    EXPECT_EQ(m_pSim->LogLines(), std::vector<std::string>{FormatTransfer(1, 0, false, nullptr, 0, "TIMEOUT")});
    EXPECT_EQ(m_sink.m_messages.size(), 1u);
    // A single command leaves no block half sent: no word on the emulator's state.
    EXPECT_EQ(m_sink.Count("The transfer to the Device failed\n"
                           "The emulator at USB 1-1 did not answer in time (LIBUSB_ERROR_TIMEOUT)."),
              1u);

    // A file that cannot be opened adds nothing of its own here (the loader reports it).
    m_pSim->ClearLog();
    m_sink.m_messages.clear();
    r = link.Auto(m_rom.data(), 8192, [] { return std::optional<std::string>(); }, nullptr);
    EXPECT_EQ(r.eResult, EEmuResult::kTransferFailed);
    EXPECT_FALSE(r.bLoaded);
    EXPECT_FALSE(r.bRunEnable);
    EXPECT_EQ(m_pSim->Transfers().size(), 1u);
    EXPECT_EQ(m_sink.m_messages.size(), 1u);
}

TEST_F(OperationsTest, FailedDownloadSkipsRunAndResetInAuto)
{
    SSimOptions o;
    o.nStallAt = 3;  // the first data block
    Start(o);
    CEmuLink link = Link();
    SAutoResult r = link.Auto(m_rom.data(), 65536, [] { return std::optional<std::string>("0"); }, nullptr);
    EXPECT_EQ(r.eResult, EEmuResult::kTransferFailed);
    EXPECT_TRUE(r.bLoaded);
    EXPECT_TRUE(r.bRunEnable);  // the download ran, though it failed
    EXPECT_EQ(m_pSim->Transfers().size(), 3u);
    EXPECT_FALSE(m_pSim->Firmware(0).m_bRunning);
    EXPECT_EQ(m_pSim->Firmware(0).m_nResets, 0u);
    EXPECT_EQ(m_sink.m_messages.size(), 1u);
}

TEST_F(OperationsTest, KernelDriverIsDetachedForEachTransferAndGivenBackAfter)
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
        SDownloadResult d = link.Download(m_rom.data(), 131072, "0", nullptr);  // 4 blocks
        EXPECT_EQ(d.eResult, EEmuResult::kOk);
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
