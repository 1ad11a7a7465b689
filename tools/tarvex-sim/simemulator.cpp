// SPDX-License-Identifier: MIT
// The simulated emulator: umockdev fakes the USB device(s), a firmware model answers the commands.
#include "simemulator.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <linux/usbdevice_fs.h>
#include <unistd.h>
#include <umockdev.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <string_view>
#include <thread>

namespace {

std::string Hex(const uint8_t* data, size_t length)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < length; ++i) {
        s += digits[data[i] >> 4];
        s += digits[data[i] & 15];
    }
    return s;
}

constexpr uint8_t kSerialIndex = 3;  // string descriptor index of the serial number

// Descriptors: device (vendor/product patched in), configuration, interface 0 with the bulk-IN
// endpoint first (pipe 0) and the bulk-OUT endpoint second (pipe 1), both full-speed 64-byte packets;
// `swap` lists them the other way round.
std::string DescriptorHex(uint16_t vendor, uint16_t product, bool hasSerial, bool swap)
{
    uint8_t d[] = {
        0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40, 0, 0, 0, 0, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01,
        0x09, 0x02, 0x20, 0x00, 0x01, 0x01, 0x00, 0x80, 0x32,
        0x09, 0x04, 0x00, 0x00, 0x02, 0xFF, 0x00, 0x00, 0x00,
        0x07, 0x05, 0x81, 0x02, 0x40, 0x00, 0x00,
        0x07, 0x05, 0x02, 0x02, 0x40, 0x00, 0x00,
    };
    d[8] = static_cast<uint8_t>(vendor);
    d[9] = static_cast<uint8_t>(vendor >> 8);
    d[10] = static_cast<uint8_t>(product);
    d[11] = static_cast<uint8_t>(product >> 8);
    d[16] = hasSerial ? kSerialIndex : 0;
    if (swap)
        std::swap_ranges(d + 36, d + 43, d + 43);
    // umockdev reads node contents only in upper-case hex.
    std::string hex = Hex(d, sizeof d);
    for (char& c : hex)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return hex;
}

// One level of an ioctl argument, fetched from the client's memory; changes go back to it.
class CResolved {
public:
    CResolved(UMockdevIoctlData* arg, size_t size) : m_p(umockdev_ioctl_data_resolve(arg, 0, size, nullptr)) {}
    ~CResolved()
    {
        if (m_p)
            g_object_unref(m_p);
    }
    CResolved(const CResolved&) = delete;
    CResolved& operator=(const CResolved&) = delete;
    explicit operator bool() const { return m_p != nullptr; }
    template <typename T>
    T& As() const { return *reinterpret_cast<T*>(m_p->data); }

private:
    UMockdevIoctlData* m_p;
};

struct SGError {
    GError* p = nullptr;
    ~SGError() { g_clear_error(&p); }
    std::string Text() const { return p ? p->message : "unknown error"; }
};

}  // namespace

std::string FormatTransfer(unsigned seq, int device, bool in, const uint8_t* data, size_t length,
                           const std::string& fault)
{
    gchar* digest = g_compute_checksum_for_data(G_CHECKSUM_SHA256, data, length);
    std::string line = std::to_string(seq) + " dev" + std::to_string(device) + (in ? " IN " : " OUT ")
        + std::to_string(length) + " " + (length ? Hex(data, std::min<size_t>(length, 16)) : "-") + " " + digest;
    g_free(digest);
    if (!fault.empty())
        line += " " + fault;
    return line;
}

std::string FormatTransfer(const STransferRecord& r)
{
    return FormatTransfer(r.nSeq, r.nDevice, r.bIn, r.data.data(), r.data.size(), r.sFault);
}

namespace {

constexpr std::string_view kOurPreload = "libtarvex-sim-preload";
constexpr std::string_view kUmockdevPreload = "libumockdev-preload";

bool Preloaded(std::string_view name)
{
    const char* preload = std::getenv("LD_PRELOAD");
    return preload && std::string_view(preload).find(name) != std::string_view::npos;
}

// Our preload library: where an installed tarvex-sim has it (the way there from the program's
// folder is fixed when it is built), else where this build put it.
std::string OurPreloadLibrary()
{
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        const std::string_view exe(self, static_cast<size_t>(n));
        const std::string installed = std::string(exe.substr(0, exe.rfind('/') + 1)) + TARVEX_SIM_PRELOAD_FROM_BINDIR;
        if (access(installed.c_str(), R_OK) == 0)
            return installed;
    }
    if (access(TARVEX_SIM_PRELOAD_BUILT, R_OK) == 0)
        return TARVEX_SIM_PRELOAD_BUILT;
    return {};
}

}  // namespace

bool InMockEnvironment()
{
    return Preloaded(kUmockdevPreload) && Preloaded(kOurPreload);
}

bool PreloadUmockdev()
{
    if (InMockEnvironment())
        return true;
    const std::string ours = OurPreloadLibrary();
    if (ours.empty())
        return false;
    // Ours in front: it sees an open before umockdev's library does.
    std::string preload = ours + ":libumockdev-preload.so.0";
    if (const char* old = std::getenv("LD_PRELOAD"); old && *old)
        preload += std::string(":") + old;
    setenv("LD_PRELOAD", preload.c_str(), 1);
    // An ASan-built program otherwise refuses to start behind the preload library.
    std::string asan = "verify_asan_link_order=0";
    if (const char* old = std::getenv("ASAN_OPTIONS"); old && *old)
        asan = std::string(old) + ":" + asan;
    setenv("ASAN_OPTIONS", asan.c_str(), 1);
    return true;
}

void ReexecUnderUmockdev(char** argv)
{
    if (InMockEnvironment())
        return;
    if (!PreloadUmockdev()) {
        std::fprintf(stderr, "cannot find %s.so, which the simulated emulators need\n", kOurPreload.data());
        std::exit(1);
    }
    execv("/proc/self/exe", argv);
    std::fprintf(stderr, "cannot restart under umockdev: %s\n", std::strerror(errno));
    std::exit(1);
}

struct CSimulator::SDevice {
    CSimulator* pSim = nullptr;
    int nIndex = 0;
    std::string sSysPath;
    std::string sDevNode;
    std::string sPortPath;
    std::string sSerial;
    bool bHeldElsewhere = false;          // another program has interface 0 claimed
    std::vector<unsigned> halted;         // endpoints that stalled and wait for CLEAR_HALT
    UMockdevIoctlBase* pHandler = nullptr;
    CSimFirmware firmware;
    // Who holds interface 0: nobody, the kernel driver, or a program through usbfs. Programs are not
    // told apart: umockdev does not report a closed device file, so a per-file claim could outlive it.
    enum class EDriver { kNone, kKernel, kUsbfs };
    EDriver eDriver = EDriver::kNone;
    std::deque<UMockdevIoctlData*> reapable;  // completed URBs, owned references
    std::vector<UMockdevIoctlData*> parked;   // URBs that will only end by being discarded
};

// The ioctl handler; runs on umockdev's thread while the client process waits in ioctl().
struct SHandlerAccess {
    static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user)
    {
        auto* dev = static_cast<CSimulator::SDevice*>(user);
        CSimulator& sim = *dev->pSim;
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        std::chrono::microseconds delay{0};
        long result = 0;
        int error = 0;
        {
            std::lock_guard lock(sim.m_mutex);
            switch (umockdev_ioctl_client_get_request(client)) {
            case USBDEVFS_GET_CAPABILITIES: {
                // Without these libusb would split a 32 KiB transfer into several URBs.
                UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), nullptr);
                uint32_t caps = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM
                    | USBDEVFS_CAP_BULK_SCATTER_GATHER;
                std::memcpy(d->data, &caps, sizeof caps);
                g_object_unref(d);
                break;
            }
            case USBDEVFS_SETINTERFACE:
            case USBDEVFS_RESET:
                break;
            case USBDEVFS_CLEAR_HALT: {
                CResolved ep(arg, sizeof(unsigned));
                if (!ep) {
                    error = EFAULT;
                    break;
                }
                auto& halted = dev->halted;
                halted.erase(std::remove(halted.begin(), halted.end(), ep.As<unsigned>()), halted.end());
                break;
            }
            case USBDEVFS_CLAIMINTERFACE: {
                CResolved ifno(arg, sizeof(unsigned));
                error = !ifno ? EFAULT : ifno.As<unsigned>() != 0 ? ENOENT : Claim(*dev);
                break;
            }
            case USBDEVFS_RELEASEINTERFACE: {
                CResolved ifno(arg, sizeof(unsigned));
                error = !ifno ? EFAULT : ifno.As<unsigned>() != 0 ? ENOENT : Release(*dev);
                // An unplug waits for the end of the transfer that reached the count.
                if (sim.m_bUnplugPending && !sim.m_bUnplugged) {
                    sim.RemoveAll();
                    error = ENODEV;
                } else if (sim.m_options.nUnplugAfter && sim.m_nTransfers >= sim.m_options.nUnplugAfter
                           && !sim.m_bUnplugged)
                    sim.RemoveAll();
                break;
            }
            case USBDEVFS_DISCONNECT_CLAIM: {
                if (sim.m_options.bNoDisconnectClaim) {
                    error = ENOTTY;
                    break;
                }
                CResolved dc(arg, sizeof(usbdevfs_disconnect_claim));
                error = dc ? DisconnectClaim(*dev, dc.As<usbdevfs_disconnect_claim>()) : EFAULT;
                break;
            }
            case USBDEVFS_GETDRIVER: {
                CResolved gd(arg, sizeof(usbdevfs_getdriver));
                if (!gd) {
                    error = EFAULT;
                    break;
                }
                auto& g = gd.As<usbdevfs_getdriver>();
                if (g.interface != 0 || (dev->eDriver == CSimulator::SDevice::EDriver::kNone && !dev->bHeldElsewhere)) {
                    error = ENODATA;
                    break;
                }
                std::memset(g.driver, 0, sizeof g.driver);
                std::strncpy(g.driver, DriverName(*dev), sizeof g.driver - 1);
                break;
            }
            case USBDEVFS_IOCTL: {
                CResolved ctl(arg, sizeof(usbdevfs_ioctl));
                if (!ctl)
                    error = EFAULT;
                else
                    DriverIoctl(sim, *dev, ctl.As<usbdevfs_ioctl>(), result, error);
                break;
            }
            case USBDEVFS_SUBMITURB:
                delay = Submit(sim, *dev, arg, result, error);
                break;
            case USBDEVFS_REAPURB:
            case USBDEVFS_REAPURBNDELAY: {
                if (dev->reapable.empty()) {
                    result = -1;
                    error = EAGAIN;
                    break;
                }
                UMockdevIoctlData* urb = dev->reapable.front();
                dev->reapable.pop_front();
                UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
                umockdev_ioctl_data_set_ptr(slot, 0, urb);
                g_object_unref(slot);
                g_object_unref(urb);
                break;
            }
            case USBDEVFS_DISCARDURB: {
                unsigned long addr = 0;
                std::memcpy(&addr, arg->data, std::min<size_t>(sizeof addr, static_cast<size_t>(arg->data_len)));
                auto it = std::find_if(dev->parked.begin(), dev->parked.end(),
                                       [addr](UMockdevIoctlData* u) { return u->client_addr == addr; });
                if (it == dev->parked.end()) {
                    result = -1;
                    error = EINVAL;
                    break;
                }
                auto* urb = reinterpret_cast<usbdevfs_urb*>((*it)->data);
                urb->status = -ENOENT;
                urb->actual_length = 0;
                dev->reapable.push_back(*it);
                dev->parked.erase(it);
                break;
            }
            default:
                result = -1;
                error = ENOTTY;
                break;
            }
        }
        if (error != 0)
            result = -1;
        if (delay.count() > 0)
            std::this_thread::sleep_for(delay);
        umockdev_ioctl_client_complete(client, result, error);
        return TRUE;
    }

    static const char* DriverName(const CSimulator::SDevice& dev)
    {
        if (dev.bHeldElsewhere)
            return "usbfs";
        switch (dev.eDriver) {
        case CSimulator::SDevice::EDriver::kKernel: return kSimKernelDriver;
        case CSimulator::SDevice::EDriver::kUsbfs: return "usbfs";
        case CSimulator::SDevice::EDriver::kNone: break;
        }
        return "";
    }

    static void Unbind(CSimulator::SDevice& dev) { dev.eDriver = CSimulator::SDevice::EDriver::kNone; }

    // Interface 0 through usbfs; 0 or an errno. Held by the kernel driver: EBUSY.
    static int Claim(CSimulator::SDevice& dev)
    {
        if (dev.eDriver == CSimulator::SDevice::EDriver::kKernel || dev.bHeldElsewhere)
            return EBUSY;
        dev.eDriver = CSimulator::SDevice::EDriver::kUsbfs;
        return 0;
    }

    static int Release(CSimulator::SDevice& dev)
    {
        if (dev.eDriver != CSimulator::SDevice::EDriver::kUsbfs)
            return EINVAL;  // not claimed
        Unbind(dev);
        return 0;
    }

    // Unbinds whatever driver holds the interface, unless the flags spare it, then claims it.
    static int DisconnectClaim(CSimulator::SDevice& dev, const usbdevfs_disconnect_claim& dc)
    {
        if (dc.interface != 0)
            return EINVAL;
        if (dev.bHeldElsewhere)
            return EBUSY;  // usbfs claims of other programs are never broken
        if (dev.eDriver != CSimulator::SDevice::EDriver::kNone) {
            const std::string_view bound = DriverName(dev);
            const std::string_view named(dc.driver, strnlen(dc.driver, sizeof dc.driver));
            if ((dc.flags & USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER) && named != bound)
                return EBUSY;
            if ((dc.flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER) && named == bound)
                return EBUSY;
            Unbind(dev);
        }
        return Claim(dev);
    }

    // USBDEVFS_IOCTL's driver requests: DISCONNECT unbinds (ENODATA when nothing is bound);
    // CONNECT binds the kernel driver again and answers 1, or 0 when there is none to bind.
    static void DriverIoctl(const CSimulator& sim, CSimulator::SDevice& dev, const usbdevfs_ioctl& ctl,
                            long& result, int& error)
    {
        using EDriver = CSimulator::SDevice::EDriver;
        const auto code = static_cast<unsigned>(ctl.ioctl_code);
        if (ctl.ifno != 0)
            error = EINVAL;
        else if (dev.bHeldElsewhere)
            error = EBUSY;
        else if (code == USBDEVFS_DISCONNECT) {
            if (dev.eDriver == EDriver::kNone)
                error = ENODATA;
            else
                Unbind(dev);
        } else if (code == USBDEVFS_CONNECT) {
            if (dev.eDriver != EDriver::kNone)
                error = EBUSY;
            else if (sim.m_options.bKernelDriver) {
                dev.eDriver = EDriver::kKernel;
                result = 1;
            }
        } else {
            error = ENOTTY;
        }
    }

    // GET_DESCRIPTOR for a string: the language list (0) and the serial number. Fills the data stage
    // behind the 8-byte setup packet; returns its length, or 0 for a request the emulator refuses.
    static int StringDescriptor(const CSimulator::SDevice& dev, uint8_t* bytes, size_t length)
    {
        const uint8_t requestType = bytes[0], request = bytes[1], index = bytes[2], type = bytes[3];
        const size_t wanted = std::min<size_t>(static_cast<size_t>(bytes[6] | bytes[7] << 8), length - 8);
        if (requestType != 0x80 || request != 6 || type != 3)
            return 0;
        std::vector<uint8_t> desc;
        if (index == 0)
            desc = {4, 3, 0x09, 0x04};  // US English
        else if (index == kSerialIndex && !dev.sSerial.empty()) {
            desc = {0, 3};
            for (char ch : dev.sSerial.substr(0, 126)) {
                desc.push_back(static_cast<uint8_t>(ch));
                desc.push_back(0);
            }
            desc[0] = static_cast<uint8_t>(desc.size());
        } else
            return 0;
        const size_t n = std::min(wanted, desc.size());
        std::copy_n(desc.begin(), n, bytes + 8);
        return static_cast<int>(n);
    }

    // Takes one URB; returns how long the transfer should take at the throughput limit.
    static std::chrono::microseconds Submit(CSimulator& sim, CSimulator::SDevice& dev, UMockdevIoctlData* arg,
                                            long& result, int& error)
    {
        UMockdevIoctlData* ud = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        if (!ud) {
            result = -1;
            error = EFAULT;
            return {};
        }
        auto* urb = reinterpret_cast<usbdevfs_urb*>(ud->data);
        const size_t length = static_cast<size_t>(std::max(urb->buffer_length, 0));
        UMockdevIoctlData* buf = length
            ? umockdev_ioctl_data_resolve(ud, offsetof(usbdevfs_urb, buffer), length, nullptr)
            : nullptr;
        uint8_t* bytes = buf ? buf->data : nullptr;
        const bool in = (urb->endpoint & 0x80) != 0;
        urb->actual_length = 0;
        urb->status = 0;

        if (urb->type != USBDEVFS_URB_TYPE_BULK) {
            // Of the control requests the emulator answers only for its string descriptors.
            if (urb->type == USBDEVFS_URB_TYPE_CONTROL && bytes && length >= 8)
                urb->actual_length = StringDescriptor(dev, bytes, length);
            if (urb->actual_length <= 0) {
                urb->actual_length = 0;
                urb->status = -EPIPE;
            }
            if (buf)
                g_object_unref(buf);
            dev.reapable.push_back(ud);
            return {};
        }

        const unsigned seq = ++sim.m_nTransfers;
        const SSimOptions& o = sim.m_options;
        STransferRecord record;
        record.nSeq = seq;
        record.nDevice = dev.nIndex;
        record.bIn = in;
        bool park = false;
        const unsigned endpoint = urb->endpoint;
        const bool halted = std::find(dev.halted.begin(), dev.halted.end(), endpoint) != dev.halted.end();
        if (seq == o.nStallAt || halted) {
            // A stalled endpoint stays halted until the host clears it.
            urb->status = -EPIPE;
            record.sFault = "STALL";
            if (!halted)
                dev.halted.push_back(endpoint);
        } else if (seq == o.nUnplugDuring) {
            // Half the bytes move, then the cable is pulled: the URB ends as the kernel ends it.
            size_t half = length / 2;
            if (in)
                half = dev.firmware.In(bytes, half);
            else
                dev.firmware.Out(bytes, half);
            urb->actual_length = static_cast<int>(half);
            urb->status = -ESHUTDOWN;
            record.data.assign(bytes, bytes + half);
            record.sFault = "UNPLUG";
            sim.m_bUnplugPending = true;
        } else if (seq == o.nTimeoutAt || (in && !dev.firmware.HasInData())) {
            park = true;  // a device that never answers: the host gives up and discards the URB
            record.sFault = "TIMEOUT";
        } else if (in) {
            size_t want = length;
            if (o.bShortReads || seq == o.nShortReadAt) {
                want = length / 2;
                record.sFault = "SHORT";
            }
            size_t got = dev.firmware.In(bytes, want);
            urb->actual_length = static_cast<int>(got);
            record.data.assign(bytes, bytes + got);
        } else {
            dev.firmware.Out(bytes, length);
            urb->actual_length = static_cast<int>(length);
            record.data.assign(bytes, bytes + length);
        }
        if (buf)
            g_object_unref(buf);
        if (park)
            dev.parked.push_back(ud);
        else
            dev.reapable.push_back(ud);

        if (sim.m_pLogFile) {
            std::fprintf(sim.m_pLogFile, "%s\n", FormatTransfer(record).c_str());
            std::fflush(sim.m_pLogFile);
        }
        const size_t moved = record.data.size();
        sim.m_log.push_back(std::move(record));
        if (o.nThroughput)
            return std::chrono::microseconds(static_cast<int64_t>(moved * 1000000 / o.nThroughput));
        return {};
    }
};

CSimulator::CSimulator(const SSimOptions& options) : m_options(options)
{
    if (options.nEmulators < 0 || options.nEmulators > kSimMaxEmulators)
        throw std::runtime_error("the simulator holds 0 to 4 emulators");
    if (!options.sLogFile.empty()) {
        m_pLogFile = std::fopen(options.sLogFile.c_str(), "w");
        if (!m_pLogFile)
            throw std::runtime_error("cannot write the transfer log " + options.sLogFile + ": " + std::strerror(errno));
    }
    auto* tb = umockdev_testbed_new();
    m_pTestbed = tb;
    for (int i = 0; i < options.nEmulators; ++i) {
        auto dev = std::make_unique<SDevice>();
        dev->pSim = this;
        dev->nIndex = i;
        if (static_cast<size_t>(i) < options.serials.size())
            dev->sSerial = options.serials[static_cast<size_t>(i)];
        dev->bHeldElsewhere = options.bBusy;
        const std::string desc =
            DescriptorHex(options.nVendor, options.nProduct, !dev->sSerial.empty(), options.bSwapEndpoints);
        char devnum[16];
        std::snprintf(devnum, sizeof devnum, "%03d", i + 2);
        const std::string port = std::to_string(options.bReversePorts ? options.nEmulators - i : i + 1);
        dev->sSysPath = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-" + port;
        dev->sPortPath = "1-" + port;
        dev->sDevNode = std::string("/dev/bus/usb/001/") + devnum;
        const std::string record = "P: /devices/pci0000:00/0000:00:14.0/usb1/1-" + port + "\n"
            + "N: bus/usb/001/" + devnum + "=" + desc + "\n"
            + "E: DEVNAME=" + dev->sDevNode + "\n"
            + "E: DEVTYPE=usb_device\nE: DRIVER=usb\nE: SUBSYSTEM=usb\nE: BUSNUM=001\n"
            + "E: DEVNUM=" + devnum + "\n"
            + "A: busnum=1\nA: devnum=" + std::to_string(i + 2) + "\n"
            + "A: dev=189:" + std::to_string(i + 1) + "\nA: speed=12\nA: bConfigurationValue=1\n"
            + "H: descriptors=" + desc + "\n";
        SGError err;
        if (!umockdev_testbed_add_from_string(tb, record.c_str(), &err.p))
            throw std::runtime_error("umockdev cannot add the emulator: " + err.Text());
        if (options.bKernelDriver)
            dev->eDriver = SDevice::EDriver::kKernel;
        if (options.bDenyAccess) {
            // Our preload library refuses a node with no permission bits to everyone.
            gchar* root = umockdev_testbed_get_root_dir(tb);
            const std::string node = std::string(root) + dev->sDevNode;
            g_free(root);
            if (::chmod(node.c_str(), 0) != 0)
                throw std::runtime_error("cannot close the device node " + node + ": " + std::strerror(errno));
        }
        dev->pHandler = umockdev_ioctl_base_new();
        g_signal_connect(dev->pHandler, "handle-ioctl", G_CALLBACK(SHandlerAccess::OnIoctl), dev.get());
        if (!umockdev_testbed_attach_ioctl(tb, dev->sDevNode.c_str(), dev->pHandler, &err.p))
            throw std::runtime_error("umockdev cannot attach the emulator: " + err.Text());
        m_devices.push_back(std::move(dev));
    }
}

CSimulator::~CSimulator()
{
    g_object_unref(static_cast<UMockdevTestbed*>(m_pTestbed));
    for (auto& dev : m_devices) {
        for (UMockdevIoctlData* u : dev->reapable)
            g_object_unref(u);
        for (UMockdevIoctlData* u : dev->parked)
            g_object_unref(u);
        g_object_unref(dev->pHandler);
    }
    if (m_pLogFile)
        std::fclose(m_pLogFile);
}

void CSimulator::RemoveAll()
{
    auto* tb = static_cast<UMockdevTestbed*>(m_pTestbed);
    for (auto& dev : m_devices) {
        umockdev_testbed_uevent(tb, dev->sSysPath.c_str(), "remove");
        umockdev_testbed_remove_device(tb, dev->sSysPath.c_str());
    }
    m_bUnplugged = true;
}

int CSimulator::EmulatorCount() const
{
    std::lock_guard lock(m_mutex);
    return m_bUnplugged ? 0 : static_cast<int>(m_devices.size());
}

CSimFirmware CSimulator::Firmware(int device) const
{
    std::lock_guard lock(m_mutex);
    return m_devices.at(static_cast<size_t>(device))->firmware;
}

void CSimulator::SetMemory(int device, size_t offset, const std::vector<uint8_t>& bytes)
{
    std::lock_guard lock(m_mutex);
    auto& memory = m_devices.at(static_cast<size_t>(device))->firmware.m_memory;
    if (offset > memory.size() || bytes.size() > memory.size() - offset)
        throw std::out_of_range("beyond the emulator's memory");
    std::copy(bytes.begin(), bytes.end(), memory.begin() + static_cast<ptrdiff_t>(offset));
}

std::string CSimulator::InterfaceDriver(int device) const
{
    std::lock_guard lock(m_mutex);
    return SHandlerAccess::DriverName(*m_devices.at(static_cast<size_t>(device)));
}

std::vector<STransferRecord> CSimulator::Transfers() const
{
    std::lock_guard lock(m_mutex);
    return m_log;
}

std::vector<std::string> CSimulator::LogLines() const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::string> lines;
    for (const auto& r : m_log)
        lines.push_back(FormatTransfer(r));
    return lines;
}

void CSimulator::ClearLog()
{
    std::lock_guard lock(m_mutex);
    m_log.clear();
    m_nTransfers = 0;
}

std::string CSimulator::PortPath(int device) const
{
    std::lock_guard lock(m_mutex);
    return m_devices.at(static_cast<size_t>(device))->sPortPath;
}

void CSimulator::SetFaults(unsigned stallAt, unsigned timeoutAt, unsigned shortReadAt, unsigned unplugAfter)
{
    std::lock_guard lock(m_mutex);
    m_options.nStallAt = stallAt;
    m_options.nTimeoutAt = timeoutAt;
    m_options.nShortReadAt = shortReadAt;
    m_options.nUnplugAfter = unplugAfter;
}
