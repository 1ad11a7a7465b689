// SPDX-License-Identifier: MIT
// Transport and emulator search against the simulated emulator.
#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <libusb.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "emulink/findemulators.h"
#include "emulink/usbtransport.h"
#include "simfixture.h"

TEST(UsbIds, ParsesListsAndRejectsMalformedOnes)
{
    auto ids = ParseUsbIds("0547:2131, 04b4:8613");
    ASSERT_TRUE(ids);
    EXPECT_EQ(*ids, (std::vector<SUsbId>{{0x0547, 0x2131}, {0x04B4, 0x8613}}));
    EXPECT_FALSE(ParseUsbIds(""));
    EXPECT_FALSE(ParseUsbIds("0547"));
    EXPECT_FALSE(ParseUsbIds("0547:2131,"));
    EXPECT_FALSE(ParseUsbIds("10547:2131"));
    EXPECT_FALSE(ParseUsbIds("0547:21x1"));
}

TEST(UsbIds, EnvironmentOverridesTheBuiltInList)
{
    setenv("TARVEX_USB_IDS", "1209:0001", 1);
    EXPECT_EQ(UsbIdsFromEnvironment(), (std::vector<SUsbId>{{0x1209, 0x0001}}));
    setenv("TARVEX_USB_IDS", "1209:0001, 12O9:0002", 1);
    std::string warning;
    EXPECT_EQ(UsbIdsFromEnvironment(&warning), DefaultUsbIds());
    EXPECT_NE(warning.find("'12O9:0002'"), std::string::npos) << warning;
    unsetenv("TARVEX_USB_IDS");
    warning.clear();
    EXPECT_EQ(UsbIdsFromEnvironment(&warning), DefaultUsbIds());
    EXPECT_TRUE(warning.empty());
}

TEST_F(SimTest, WriteSendsTheBytesOnceOnTheOutPipe)
{
    Start();
    std::vector<uint8_t> bytes(64);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 3);
    EXPECT_EQ(m_pTransport->BulkWrite(bytes.data(), bytes.size()).eError, ETransferError::kNone);
    EXPECT_EQ(m_pSim->LogLines(), std::vector<std::string>{FormatTransfer(1, 0, false, bytes.data(), 64)});
    EXPECT_TRUE(m_sink.m_messages.empty());
}

TEST_F(SimTest, ReadTakesTheBytesFromTheInPipe)
{
    Start();
    std::vector<uint8_t> memory(32768);
    for (size_t i = 0; i < memory.size(); ++i)
        memory[i] = static_cast<uint8_t>(i ^ (i >> 8));
    m_pSim->SetMemory(0, 0, memory);
    uint8_t command[64] = {1, 0};
    ASSERT_EQ(m_pTransport->BulkWrite(command, sizeof command).eError, ETransferError::kNone);
    std::vector<uint8_t> got(32768, 0x5A);
    EXPECT_EQ(m_pTransport->BulkRead(got.data(), got.size()).eError, ETransferError::kNone);
    EXPECT_EQ(got, memory);
    EXPECT_EQ(m_pSim->LogLines().at(1), FormatTransfer(2, 0, true, memory.data(), memory.size()));
}

TEST_F(SimTest, MissingDeviceFailsBothDirectionsAndLeavesTheBytes)
{
    Start(Emulators(0));
    uint8_t command[64] = {2, 1};
    EXPECT_EQ(m_pTransport->BulkWrite(command, sizeof command).eError, ETransferError::kNoDevice);
    std::vector<uint8_t> dest(32768, 0xA5);
    EXPECT_EQ(m_pTransport->BulkRead(dest.data(), dest.size()).eError, ETransferError::kNoDevice);
    EXPECT_EQ(dest, std::vector<uint8_t>(32768, 0xA5));
}

TEST_F(SimTest, DevicesWithOtherIdsAreNotOpened)
{
    SSimOptions o;
    o.nVendor = 0x1209;
    o.nProduct = 0x0001;
    Start(o);
    uint8_t command[64] = {4, 0};
    EXPECT_EQ(m_pTransport->BulkWrite(command, sizeof command).eError, ETransferError::kNoDevice);
    EXPECT_TRUE(m_pSim->LogLines().empty());

    CUsbTransport custom(std::vector<SUsbId>{{0x1209, 0x0001}}, kTestTimeout);
    EXPECT_EQ(custom.BulkWrite(command, sizeof command).eError, ETransferError::kNone);
    EXPECT_EQ(m_pSim->LogLines().size(), 1u);
}

TEST_F(SimTest, OpenDeviceAcceptsOnlyEzusbNames)
{
    Start(Emulators(2));
    CDeviceHandle h;
    EXPECT_TRUE(m_pTransport->OpenDevice("Ezusb-0", h));
    EXPECT_TRUE(h.IsOpen());
    EXPECT_TRUE(m_pTransport->OpenDevice("Ezusb-1", h));
    for (const char* bad : {"Ezusb-2", "ezusb-0", "Ezusb-", "Ezusb-0x", "Ezusb--1", "Emulator-0", ""}) {
        EXPECT_FALSE(m_pTransport->OpenDevice(bad, h)) << bad;
        EXPECT_FALSE(h.IsOpen()) << bad;
    }
}

TEST_F(SimTest, TransfersGoToTheFirstOfSeveralEmulators)
{
    Start(Emulators(3));
    uint8_t command[64] = {2, 1};
    ASSERT_EQ(m_pTransport->BulkWrite(command, sizeof command).eError, ETransferError::kNone);
    ASSERT_EQ(m_pSim->Transfers().size(), 1u);
    EXPECT_EQ(m_pSim->Transfers()[0].nDevice, 0);
    EXPECT_TRUE(m_pSim->Firmware(0).m_bRunning);
    EXPECT_FALSE(m_pSim->Firmware(1).m_bRunning);
}

TEST_F(SimTest, EmulatorsCountInPortOrderNotInAddressOrder)
{
    SSimOptions o = Emulators(3);
    o.bReversePorts = true;  // the highest address sits on the first port
    Start(o);
    uint8_t command[64] = {4, 0};
    ASSERT_EQ(m_pTransport->BulkWrite(command, sizeof command).eError, ETransferError::kNone);
    ASSERT_EQ(m_pSim->Transfers().size(), 1u);
    EXPECT_EQ(m_pSim->Transfers()[0].nDevice, 2);
    EXPECT_EQ(m_pSim->Firmware(2).m_nResets, 1u);
}

TEST_F(SimTest, SearchListsTheInstancesThatOpen)
{
    for (int n = 0; n <= 4; ++n) {
        Start(Emulators(n));
        std::vector<int> expected;
        for (int i = 0; i < n; ++i)
            expected.push_back(i);
        EXPECT_EQ(FindEmulators(*m_pTransport), expected) << n << " attached";
        EXPECT_TRUE(m_pSim->LogLines().empty());
    }
}

TEST_F(SimTest, StallShortReadAndSilenceAreFailuresNotSuccess)
{
    SSimOptions o;
    o.nStallAt = 1;
    Start(o);
    uint8_t command[64] = {1, 0};
    EXPECT_EQ(m_pTransport->BulkWrite(command, sizeof command).eError, ETransferError::kStall);
    EXPECT_EQ(m_pSim->Transfers().at(0).sFault, "STALL");

    // No read command before it: the emulator has nothing to send and the read times out.
    std::vector<uint8_t> dest(32768, 0x11);
    EXPECT_EQ(m_pTransport->BulkRead(dest.data(), dest.size()).eError, ETransferError::kTimeout);
    EXPECT_EQ(dest, std::vector<uint8_t>(32768, 0x11));

    m_pSim->SetFaults(0, 0, 2, 0);
    m_pSim->ClearLog();
    ASSERT_EQ(m_pTransport->BulkWrite(command, sizeof command).eError, ETransferError::kNone);
    EXPECT_EQ(m_pTransport->BulkRead(dest.data(), dest.size()).eError, ETransferError::kShort);
    EXPECT_EQ(m_pSim->Transfers().at(1).data.size(), 16384u);
}

namespace {

// The first emulator's device file opened directly, for usbfs requests libusb does not expose.
class CUsbfsFile {
public:
    CUsbfsFile() : m_fd(::open("/dev/bus/usb/001/002", O_RDWR)) {}
    ~CUsbfsFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    CUsbfsFile(const CUsbfsFile&) = delete;
    CUsbfsFile& operator=(const CUsbfsFile&) = delete;
    bool IsOpen() const { return m_fd >= 0; }
    // The ioctl's value, or minus its errno.
    int Ioctl(unsigned long request, void* arg) const
    {
        const int r = ::ioctl(m_fd, request, arg);
        return r < 0 ? -errno : r;
    }
    int Claim() const { unsigned ifno = 0; return Ioctl(USBDEVFS_CLAIMINTERFACE, &ifno); }
    int Release() const { unsigned ifno = 0; return Ioctl(USBDEVFS_RELEASEINTERFACE, &ifno); }
    int DisconnectClaim(unsigned flags, const char* driver) const
    {
        usbdevfs_disconnect_claim dc{};
        dc.flags = flags;
        std::strncpy(dc.driver, driver, sizeof dc.driver - 1);
        return Ioctl(USBDEVFS_DISCONNECT_CLAIM, &dc);
    }
    // A bulk read the emulator leaves waiting when it has nothing to send.
    int SubmitRead(usbdevfs_urb& urb, std::vector<uint8_t>& buffer) const
    {
        urb = {};
        urb.type = USBDEVFS_URB_TYPE_BULK;
        urb.endpoint = 0x81;
        urb.buffer = buffer.data();
        urb.buffer_length = static_cast<int>(buffer.size());
        return Ioctl(USBDEVFS_SUBMITURB, &urb);
    }
    int DriverRequest(int code) const
    {
        usbdevfs_ioctl ctl{};
        ctl.ioctl_code = code;
        return Ioctl(USBDEVFS_IOCTL, &ctl);
    }
    // GETDRIVER's name, or "errno N" when it fails.
    std::string Driver() const
    {
        usbdevfs_getdriver gd{};
        std::memset(gd.driver, 'x', sizeof gd.driver);
        const int r = Ioctl(USBDEVFS_GETDRIVER, &gd);
        return r < 0 ? "errno " + std::to_string(-r) : std::string(gd.driver, strnlen(gd.driver, sizeof gd.driver));
    }

private:
    int m_fd;
};

}  // namespace

TEST_F(SimTest, SimulatedKernelDriverGivesWayOnlyToADetach)
{
    SSimOptions o;
    o.bKernelDriver = true;
    Start(o);
    CUsbfsFile f;
    ASSERT_TRUE(f.IsOpen());
    EXPECT_EQ(f.Claim(), -EBUSY);
    EXPECT_EQ(f.Driver(), "usbtest");
    EXPECT_EQ(f.DisconnectClaim(USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER, "usbhid"), -EBUSY);
    EXPECT_EQ(f.DisconnectClaim(USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER, "usbtest"), -EBUSY);
    EXPECT_EQ(m_pSim->InterfaceDriver(0), "usbtest");

    EXPECT_EQ(f.DisconnectClaim(USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER, "usbtest"), 0);
    EXPECT_EQ(f.Driver(), "usbfs");
    EXPECT_EQ(f.Claim(), 0);  // already claimed
    EXPECT_EQ(f.DisconnectClaim(USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER, "usbfs"), -EBUSY);
    EXPECT_EQ(f.Release(), 0);
    EXPECT_EQ(f.Driver(), "errno " + std::to_string(ENODATA));
    EXPECT_EQ(f.Release(), -EINVAL);

    // Re-attaching binds the kernel driver again; the older detach is a disconnect, then a claim.
    EXPECT_EQ(f.DriverRequest(USBDEVFS_CONNECT), 1);
    EXPECT_EQ(f.Driver(), "usbtest");
    EXPECT_EQ(f.DriverRequest(USBDEVFS_CONNECT), -EBUSY);
    EXPECT_EQ(f.DriverRequest(USBDEVFS_DISCONNECT), 0);
    EXPECT_EQ(f.DriverRequest(USBDEVFS_DISCONNECT), -ENODATA);
    EXPECT_EQ(f.Claim(), 0);
    EXPECT_EQ(m_pSim->InterfaceDriver(0), "usbfs");
    EXPECT_EQ(f.Release(), 0);
    EXPECT_EQ(m_pSim->InterfaceDriver(0), "");
}

TEST_F(SimTest, WithoutAKernelDriverClaimsSucceedAndThereIsNothingToAttach)
{
    Start();
    {
        CUsbfsFile f;
        ASSERT_TRUE(f.IsOpen());
        EXPECT_EQ(f.Driver(), "errno " + std::to_string(ENODATA));
        EXPECT_EQ(f.DriverRequest(USBDEVFS_CONNECT), 0);
        EXPECT_EQ(f.Claim(), 0);
        EXPECT_EQ(f.Release(), 0);
        EXPECT_EQ(f.DisconnectClaim(USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER, "usbfs"), 0);
        EXPECT_EQ(f.Release(), 0);
        EXPECT_EQ(m_pSim->InterfaceDriver(0), "");
    }

    SSimOptions o;
    o.bNoDisconnectClaim = true;
    Start(o);
    CUsbfsFile old;
    EXPECT_EQ(old.DisconnectClaim(USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER, "usbfs"), -ENOTTY);
}

namespace {

// A libusb context of the test's own, with the first emulator's handles opened on it.
class CLibusb {
public:
    CLibusb()
    {
        if (libusb_init(&m_pContext) != LIBUSB_SUCCESS)
            return;
        const ssize_t n = libusb_get_device_list(m_pContext, &m_pList);
        for (ssize_t i = 0; i < n && !m_pEmulator; ++i) {
            libusb_device_descriptor desc{};
            if (libusb_get_device_descriptor(m_pList[i], &desc) == LIBUSB_SUCCESS && desc.idVendor == 0x0547)
                m_pEmulator = m_pList[i];
        }
    }
    ~CLibusb()
    {
        for (libusb_device_handle* h : m_handles)
            libusb_close(h);
        if (m_pList)
            libusb_free_device_list(m_pList, 1);
        if (m_pContext)
            libusb_exit(m_pContext);
    }
    CLibusb(const CLibusb&) = delete;
    CLibusb& operator=(const CLibusb&) = delete;

    libusb_device_handle* Open()
    {
        libusb_device_handle* h = nullptr;
        if (!m_pEmulator || libusb_open(m_pEmulator, &h) != LIBUSB_SUCCESS)
            return nullptr;
        m_handles.push_back(h);
        return h;
    }
    // Closes `h` as it is, claimed or not.
    void Close(libusb_device_handle* h)
    {
        m_handles.erase(std::remove(m_handles.begin(), m_handles.end(), h), m_handles.end());
        libusb_close(h);
    }
    libusb_device* Emulator() const { return m_pEmulator; }

private:
    libusb_context* m_pContext = nullptr;
    libusb_device** m_pList = nullptr;
    libusb_device* m_pEmulator = nullptr;
    std::vector<libusb_device_handle*> m_handles;
};

// A reset command block on the OUT endpoint; libusb's answer.
int SendReset(libusb_device_handle* h)
{
    uint8_t reset[64] = {4, 0};
    int moved = 0;
    return libusb_bulk_transfer(h, 0x02, reset, sizeof reset, &moved, 250);
}

// emulink_claim_holder as a second program, holding its claim until its standard input closes.
class CClaimHolder {
public:
    CClaimHolder()
    {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        char* argv[] = {const_cast<char*>(CLAIM_HOLDER_PATH), nullptr};
        if (posix_spawn(&m_pid, CLAIM_HOLDER_PATH, &actions, nullptr, argv, environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        m_toChild = in[1];
        m_fromChild = out[0];
    }
    ~CClaimHolder()
    {
        End();
        ::close(m_fromChild);
    }
    CClaimHolder(const CClaimHolder&) = delete;
    CClaimHolder& operator=(const CClaimHolder&) = delete;

    std::string Line() const
    {
        std::string line;
        char c = 0;
        while (::read(m_fromChild, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }
    // Closes its standard input and waits for its end; its exit status.
    int End()
    {
        if (m_toChild >= 0)
            ::close(std::exchange(m_toChild, -1));
        int status = -1;
        if (m_pid > 0 && ::waitpid(std::exchange(m_pid, -1), &status, 0) > 0 && WIFEXITED(status))
            return WEXITSTATUS(status);
        return -1;
    }

private:
    pid_t m_pid = -1;
    int m_toChild = -1;
    int m_fromChild = -1;
};

size_t OpenDescriptors()
{
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

}  // namespace

TEST_F(SimTest, AClaimBelongsToTheOpenFileThatMadeIt)
{
    Start();
    CLibusb usb;
    libusb_device_handle* first = usb.Open();
    libusb_device_handle* second = usb.Open();
    ASSERT_TRUE(first && second);
    ASSERT_EQ(libusb_claim_interface(first, 0), LIBUSB_SUCCESS);
    EXPECT_EQ(libusb_claim_interface(second, 0), LIBUSB_ERROR_BUSY);
    EXPECT_NE(SendReset(second), LIBUSB_SUCCESS);  // its transfers do not slip in either
    EXPECT_TRUE(m_pSim->Transfers().empty());
    {
        // Nothing another file can do breaks the claim; the driver is usbfs for everyone.
        CUsbfsFile other;
        ASSERT_TRUE(other.IsOpen());
        EXPECT_EQ(other.Release(), -EINVAL);
        EXPECT_EQ(other.DisconnectClaim(0, ""), -EBUSY);
        EXPECT_EQ(other.DisconnectClaim(USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER, "usbfs"), -EBUSY);
        EXPECT_EQ(other.DriverRequest(USBDEVFS_DISCONNECT), -EBUSY);
        EXPECT_EQ(other.DriverRequest(USBDEVFS_CONNECT), -EBUSY);
        EXPECT_EQ(other.Driver(), "usbfs");
    }
    EXPECT_EQ(SendReset(first), LIBUSB_SUCCESS);
    EXPECT_EQ(m_pSim->Firmware(0).m_nResets, 1u);

    // Released: the other handle gets it. Closed without a release: it is free again.
    ASSERT_EQ(libusb_release_interface(first, 0), LIBUSB_SUCCESS);
    ASSERT_EQ(libusb_claim_interface(second, 0), LIBUSB_SUCCESS);
    EXPECT_EQ(libusb_claim_interface(first, 0), LIBUSB_ERROR_BUSY);
    usb.Close(second);
    EXPECT_EQ(libusb_claim_interface(first, 0), LIBUSB_SUCCESS);
    EXPECT_EQ(m_pSim->InterfaceDriver(0), "usbfs");
    usb.Close(first);
    EXPECT_EQ(CUsbfsFile().Claim(), 0);
}

TEST_F(SimTest, AClosedFileTakesItsWaitingUrbsAlong)
{
    Start();
    std::vector<uint8_t> buffer(64);
    usbdevfs_urb urb{};
    {
        CUsbfsFile f;
        ASSERT_EQ(f.Claim(), 0);
        ASSERT_EQ(f.SubmitRead(urb, buffer), 0);  // no read command came: it waits
        EXPECT_EQ(m_pSim->UrbsHeld(), 1u);
    }
    CUsbfsFile next;
    EXPECT_EQ(next.Claim(), 0);
    EXPECT_EQ(m_pSim->UrbsHeld(), 0u);
    EXPECT_EQ(m_pSim->InterfaceDriver(0), "usbfs");
}

TEST_F(SimTest, AnotherProgramsClaimEndsWhenItEnds)
{
    Start();
    CClaimHolder holder;
    ASSERT_EQ(holder.Line(), "claimed");
    CLibusb usb;
    libusb_device_handle* h = usb.Open();
    ASSERT_TRUE(h);
    EXPECT_EQ(libusb_claim_interface(h, 0), LIBUSB_ERROR_BUSY);
    EXPECT_EQ(m_pSim->InterfaceDriver(0), "usbfs");
    EXPECT_EQ(holder.End(), 0);  // it ended without releasing
    EXPECT_EQ(libusb_claim_interface(h, 0), LIBUSB_SUCCESS);
    EXPECT_EQ(SendReset(h), LIBUSB_SUCCESS);
}

TEST_F(SimTest, UnplugOnAHeldHandleFailsTheTransfersAfterIt)
{
    uint8_t reset[64] = {4, 0};
    for (const bool during : {false, true}) {
        SCOPED_TRACE(during ? "during" : "after");
        SSimOptions o;
        (during ? o.nUnplugDuring : o.nUnplugAfter) = 3;
        Start(o);
        CDeviceHandle h;
        ASSERT_TRUE(m_pTransport->Open(SDeviceSelector::Index(0), h).Ok());
        for (int k = 1; k <= 2; ++k)
            EXPECT_TRUE(h.Move(CUsbTransport::kWritePipe, reset, sizeof reset, kTestTimeout).Ok()) << k;
        const STransferStatus third = h.Move(CUsbTransport::kWritePipe, reset, sizeof reset, kTestTimeout);
        if (during) {
            EXPECT_EQ(third.eError, ETransferError::kGone);
            EXPECT_EQ(third.nMoved, 32u);
        } else {
            EXPECT_TRUE(third.Ok());
        }
        EXPECT_EQ(m_pSim->EmulatorCount(), 0);
        const STransferStatus fourth = h.Move(CUsbTransport::kWritePipe, reset, sizeof reset, kTestTimeout);
        EXPECT_EQ(fourth.eError, ETransferError::kGone);
        EXPECT_EQ(fourth.nLibusbError, LIBUSB_ERROR_NO_DEVICE);
        EXPECT_EQ(m_pSim->Transfers().size(), 3u);
        EXPECT_EQ(m_pSim->Firmware(0).m_nResets, during ? 2u : 3u);
        h.Close();
        EXPECT_TRUE(m_pTransport->ListEmulators().emulators.empty());
        EXPECT_EQ(m_pTransport->Open(SDeviceSelector::Index(0), h).eError, ETransferError::kNoDevice);
    }
}

TEST_F(SimTest, RefusedOpensLeaveNoDescriptorBehind)
{
    SSimOptions o;
    o.bDenyAccess = true;
    Start(o);
    CDeviceHandle h;
    ASSERT_EQ(m_pTransport->Open(SDeviceSelector::Index(0), h).eError, ETransferError::kAccessDenied);
    const size_t before = OpenDescriptors();
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(m_pTransport->Open(SDeviceSelector::Index(0), h).nLibusbError, LIBUSB_ERROR_ACCESS) << i;
    // A leak costs one descriptor per open, 300 here; on a busy machine a background thread of
    // libusb or umockdev may open one of its own meanwhile.
    EXPECT_LE(OpenDescriptors(), before + 2);

    // The node of an emulator that went away is absent, and costs nothing to try either.
    o.bDenyAccess = false;
    o.nUnplugAfter = 1;
    Start(o);
    CLibusb usb;
    libusb_device_handle* held = usb.Open();
    ASSERT_TRUE(held);
    ASSERT_EQ(libusb_claim_interface(held, 0), LIBUSB_SUCCESS);
    ASSERT_EQ(SendReset(held), LIBUSB_SUCCESS);
    EXPECT_EQ(libusb_release_interface(held, 0), LIBUSB_ERROR_NO_DEVICE);
    usb.Close(held);
    libusb_device_handle* again = nullptr;
    EXPECT_EQ(libusb_open(usb.Emulator(), &again), LIBUSB_ERROR_NO_DEVICE);
    const size_t gone = OpenDescriptors();
    for (int i = 0; i < 300; ++i) {
        CUsbfsFile f;
        ASSERT_FALSE(f.IsOpen()) << i;
        ASSERT_EQ(errno, ENOENT) << i;
    }
    EXPECT_LE(OpenDescriptors(), gone + 2);
}

TEST(DeviceSelector, ReadsNumbersPortPathsAndSerials)
{
    using EBy = SDeviceSelector::EBy;
    struct SCase {
        const char* pszText;
        EBy eBy;
        unsigned nIndex;
        const char* pszText2;
    };
    const SCase cases[] = {
        {"0", EBy::kIndex, 0, ""},
        {"3", EBy::kIndex, 3, ""},
        {"Ezusb-2", EBy::kIndex, 2, ""},
        {"1-4", EBy::kPortPath, 0, "1-4"},
        {"1-4.2", EBy::kPortPath, 0, "1-4.2"},
        {"12-1.3.7", EBy::kPortPath, 0, "12-1.3.7"},
        {"TVX-0042", EBy::kSerial, 0, "TVX-0042"},
        {"1-", EBy::kSerial, 0, "1-"},
        {"1-4..2", EBy::kSerial, 0, "1-4..2"},
        {"-4", EBy::kSerial, 0, "-4"},
        {"serial:0001", EBy::kSerial, 0, "0001"},  // a serial that looks like a number
        {"serial:1-2", EBy::kSerial, 0, "1-2"},
        {"port:1-4.2", EBy::kPortPath, 0, "1-4.2"},
        {"99999999999", EBy::kSerial, 0, "99999999999"},  // no index that large
    };
    for (const SCase& c : cases) {
        const auto s = SDeviceSelector::Parse(c.pszText);
        ASSERT_TRUE(s) << c.pszText;
        EXPECT_EQ(*s, (SDeviceSelector{c.eBy, c.nIndex, c.pszText2})) << c.pszText;
    }
    for (const char* refused : {"", "serial:", "port:", "port:TVX-1"}) {
        bool bAmbiguous = true;
        EXPECT_FALSE(SDeviceSelector::Parse(refused, &bAmbiguous)) << refused;
        EXPECT_FALSE(bAmbiguous) << refused;
    }
    // Number or serial number: neither reading is taken.
    bool bAmbiguous = false;
    EXPECT_FALSE(SDeviceSelector::Parse("0001", &bAmbiguous));
    EXPECT_TRUE(bAmbiguous);
}

namespace {

SSimOptions ThreeWithSerials(std::vector<std::string> serials)
{
    SSimOptions o;
    o.nEmulators = 3;
    o.serials = std::move(serials);
    return o;
}

}  // namespace

TEST_F(SimTest, TransfersGoToTheEmulatorChosenByNumberPortOrSerial)
{
    Start(ThreeWithSerials({"TVX-A", "TVX-B", "TVX-C"}));
    struct SCase {
        SDeviceSelector device;
        int nExpected;  // emulator that gets the transfer; -1: none
    };
    const SCase cases[] = {
        {SDeviceSelector::Index(0), 0},
        {SDeviceSelector::Index(2), 2},
        {*SDeviceSelector::Parse("1-2"), 1},
        {*SDeviceSelector::Parse("1-3"), 2},
        {*SDeviceSelector::Parse("TVX-A"), 0},
        {*SDeviceSelector::Parse("TVX-B"), 1},
        {SDeviceSelector::Index(3), -1},
        {*SDeviceSelector::Parse("1-4"), -1},
        {*SDeviceSelector::Parse("TVX-D"), -1},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.device.eBy == SDeviceSelector::EBy::kIndex ? std::to_string(c.device.nIndex) : c.device.sText);
        m_pSim->ClearLog();
        m_pTransport->SelectDevice(c.device);
        uint8_t reset[64] = {4, 0};
        const STransferStatus s = m_pTransport->BulkWrite(reset, sizeof reset);
        if (c.nExpected < 0) {
            EXPECT_EQ(s.eError, ETransferError::kNoDevice);
            EXPECT_TRUE(m_pSim->Transfers().empty());
            continue;
        }
        EXPECT_TRUE(s.Ok());
        EXPECT_EQ(s.sDevice, m_pSim->PortPath(c.nExpected));
        ASSERT_EQ(m_pSim->Transfers().size(), 1u);
        EXPECT_EQ(m_pSim->Transfers()[0].nDevice, c.nExpected);
    }
    for (int d = 0; d < 3; ++d)
        EXPECT_EQ(m_pSim->Firmware(d).m_nResets, 2u) << d;
}

TEST_F(SimTest, ListingGivesNumberPortIdSerialAndWhetherItOpens)
{
    Start(ThreeWithSerials({"TVX-A", "", "TVX-C"}));
    const SEmulatorList list = m_pTransport->ListEmulators();
    EXPECT_TRUE(list.status.Ok());
    ASSERT_EQ(list.emulators.size(), 3u);
    const char* serials[] = {"TVX-A", "", "TVX-C"};
    for (unsigned i = 0; i < 3; ++i) {
        const SEmulatorInfo& e = list.emulators[i];
        EXPECT_EQ(e.nIndex, i);
        EXPECT_EQ(e.sPortPath, "1-" + std::to_string(i + 1));
        EXPECT_EQ(e.id, (SUsbId{0x0547, 0x2131}));
        EXPECT_EQ(e.sSerial, serials[i]);
        EXPECT_TRUE(e.open.Ok()) << TransferErrorName(e.open.eError);
    }
    EXPECT_TRUE(m_pSim->Transfers().empty());

    SSimOptions o = ThreeWithSerials({"TVX-A"});
    o.nEmulators = 1;
    o.bBusy = true;
    Start(o);
    const SEmulatorList busy = m_pTransport->ListEmulators();
    ASSERT_EQ(busy.emulators.size(), 1u);
    EXPECT_EQ(busy.emulators[0].sSerial, "TVX-A");  // read without claiming
    EXPECT_EQ(busy.emulators[0].open.eError, ETransferError::kBusy);

    o.bBusy = false;
    o.bDenyAccess = true;
    Start(o);
    const SEmulatorList denied = m_pTransport->ListEmulators();
    ASSERT_EQ(denied.emulators.size(), 1u);
    EXPECT_EQ(denied.emulators[0].sPortPath, "1-1");
    EXPECT_EQ(denied.emulators[0].sSerial, "");  // it takes an open device to read it
    EXPECT_EQ(denied.emulators[0].open.eError, ETransferError::kAccessDenied);
}

TEST_F(SimTest, SearchNamesTheEmulatorsItMayNotOpen)
{
    SSimOptions denied = Emulators(2);
    denied.bDenyAccess = true;
    Start(denied);
    std::vector<STransferStatus> refused;
    EXPECT_TRUE(FindEmulators(*m_pTransport, &refused).empty());
    ASSERT_EQ(refused.size(), 2u);
    EXPECT_EQ(refused[0].eError, ETransferError::kAccessDenied);
    EXPECT_EQ(refused[1].sDevice, "1-2");
    EXPECT_EQ(NoDriverMessage(refused), std::string(kMsgNoDriver) + "\n" + DescribeCause(refused[0]) + "\n"
                                            + DescribeCause(refused[1]));
    EXPECT_NE(DescribeCause(refused[0]).find("USB 1-1"), std::string::npos);
    // The window's search says what is true: emulators are there, but may not be opened.
    EXPECT_EQ(SearchFailedMessage(refused), std::string(kMsgCouldNotOpen) + "\n" + DescribeCause(refused[0]) + "\n"
                                                + DescribeCause(refused[1]));

    // Nothing attached: the fixed text alone. libusb not starting: said once, not per instance.
    Start(Emulators(0));
    refused.clear();
    EXPECT_TRUE(FindEmulators(*m_pTransport, &refused).empty());
    EXPECT_TRUE(refused.empty());
    EXPECT_EQ(NoDriverMessage(refused), kMsgNoDriver);
    EXPECT_EQ(SearchFailedMessage(refused), kMsgNoDriver);

    CUsbTransport noUsb(std::nullopt, kTestTimeout,
                        [](libusb_context**) { return static_cast<int>(LIBUSB_ERROR_NO_MEM); });
    EXPECT_TRUE(FindEmulators(noUsb, &refused).empty());
    EXPECT_EQ(refused.size(), 4u);
    EXPECT_EQ(NoDriverMessage(refused),
              std::string(kMsgNoDriver) + "\nUSB is not usable: libusb could not start (LIBUSB_ERROR_NO_MEM). "
                                          "Check that /dev/bus/usb and /sys/bus/usb are there.");
    EXPECT_EQ(noUsb.ListEmulators().status.eError, ETransferError::kNoLibusb);
    EXPECT_EQ(SearchFailedMessage(refused), NoDriverMessage(refused));
}
