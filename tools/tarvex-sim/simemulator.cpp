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
#include <map>
#include <mutex>
#include <stdexcept>
#include <string_view>

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

// What umockdev's thread shares with the simulator: the model's mutex, and the way back to the
// simulator, cleared when it goes, so that a callback still queued there finds nothing to touch.
struct CSimulator::SCore {
    std::mutex mutex;
    CSimulator* pSim = nullptr;
};

struct CSimulator::SDevice {
    // A URB the program has not reaped yet; an owned reference. Reaping the one marked pulls the cable.
    struct SUrb {
        UMockdevIoctlData* pData = nullptr;
        bool bUnplugWhenReaped = false;
    };
    // One open of the device file. Its URBs are its own, as in the kernel.
    struct SFile {
        std::deque<SUrb> reapable;  // completed
        std::vector<SUrb> parked;   // end only by a discard, the file's close or an unplug
    };

    int nIndex = 0;
    std::string sSysPath;
    std::string sDevNode;
    std::string sPortPath;
    std::string sSerial;
    std::vector<unsigned> halted;         // endpoints that stalled and wait for CLEAR_HALT
    UMockdevIoctlBase* pHandler = nullptr;
    CSimFirmware firmware;
    // Who holds interface 0: nobody, the kernel driver, or an open file through usbfs.
    enum class EDriver { kNone, kKernel, kUsbfs };
    EDriver eDriver = EDriver::kNone;
    UMockdevIoctlClient* pHolder = nullptr;  // the file whose usbfs claim it is; none: a program outside
    std::map<UMockdevIoctlClient*, SFile> files;  // by umockdev's client, one per open
};

namespace {

// What a callback on umockdev's thread is given: the shared core and the emulator it is about.
struct SToken {
    std::shared_ptr<CSimulator::SCore> pCore;
    int nDevice = 0;
};

}  // namespace

// The ioctl handler; runs on umockdev's thread while the client process waits in ioctl(). It never
// waits itself: what cannot be answered at once is answered from that thread's own loop.
struct SHandlerAccess {
    using SDevice = CSimulator::SDevice;
    using EDriver = SDevice::EDriver;

    struct SAnswer {
        long nResult = 0;
        int nError = 0;
        std::chrono::microseconds delay{0};  // the transfer's time at the throughput limit
        // It turned on another open file's claim: asked once more after umockdev's thread has
        // handled what is queued before it. A file's close is seen there later than the kernel
        // sees it, and may be among that.
        bool bAgain = false;
    };

    // An answer given later from umockdev's loop; holds the client until then.
    struct SLater {
        SToken token;
        UMockdevIoctlClient* pClient = nullptr;
        SAnswer answer;
    };

    static void Attach(CSimulator& sim, SDevice& dev)
    {
        const auto deleteToken = [](gpointer token, GClosure*) { delete static_cast<SToken*>(token); };
        g_signal_connect_data(dev.pHandler, "handle-ioctl", G_CALLBACK(OnIoctl), new SToken{sim.m_pCore, dev.nIndex},
                              deleteToken, GConnectFlags(0));
        g_signal_connect_data(dev.pHandler, "client-connected", G_CALLBACK(OnConnected),
                              new SToken{sim.m_pCore, dev.nIndex}, deleteToken, GConnectFlags(0));
    }

    // The open file `client` of `dev`, watched from when it is first seen until umockdev drops it.
    static SDevice::SFile& FileOf(const SToken& token, SDevice& dev, UMockdevIoctlClient* client)
    {
        auto [it, added] = dev.files.try_emplace(client);
        if (added)
            g_object_weak_ref(G_OBJECT(client), OnFileGone, new SToken(token));
        return it->second;
    }

    static void OnConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user)
    {
        const SToken& token = *static_cast<SToken*>(user);
        std::lock_guard lock(token.pCore->mutex);
        if (CSimulator* sim = token.pCore->pSim)
            FileOf(token, *sim->m_devices[static_cast<size_t>(token.nDevice)], client);
    }

    // umockdev lets a client go once its program has closed the file or ended (its
    // client-vanished signal is never emitted). The kernel then ends the file's claim and URBs.
    static void OnFileGone(gpointer user, GObject* gone)
    {
        const std::unique_ptr<SToken> token(static_cast<SToken*>(user));
        std::vector<UMockdevIoctlData*> urbs;
        {
            std::lock_guard lock(token->pCore->mutex);
            CSimulator* sim = token->pCore->pSim;
            if (!sim)
                return;
            SDevice& dev = *sim->m_devices[static_cast<size_t>(token->nDevice)];
            const auto client = reinterpret_cast<UMockdevIoctlClient*>(gone);
            const auto it = dev.files.find(client);
            if (it == dev.files.end())
                return;
            if (dev.eDriver == EDriver::kUsbfs && dev.pHolder == client)
                Unbind(dev);
            for (const auto& u : it->second.reapable)
                urbs.push_back(u.pData);
            for (const auto& u : it->second.parked)
                urbs.push_back(u.pData);
            dev.files.erase(it);
        }
        for (UMockdevIoctlData* u : urbs)
            g_object_unref(u);
    }

    static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user)
    {
        Answer(*static_cast<SToken*>(user), client, false);
        return TRUE;
    }

    static void Answer(const SToken& token, UMockdevIoctlClient* client, bool last)
    {
        SAnswer a;
        {
            std::lock_guard lock(token.pCore->mutex);
            if (CSimulator* sim = token.pCore->pSim)
                a = Decide(*sim, token, client, last);
            else
                a.nError = ENODEV;
        }
        if (a.nError != 0)
            a.nResult = -1;
        GMainContext* loop = g_main_context_get_thread_default();
        if (!loop || (!a.bAgain && a.delay.count() <= 0)) {
            umockdev_ioctl_client_complete(client, a.nResult, a.nError);
            return;
        }
        // Behind everything of higher priority already queued, or after the delay.
        GSource* source = a.bAgain ? g_idle_source_new()
                                   : g_timeout_source_new(static_cast<guint>((a.delay.count() + 999) / 1000));
        if (a.bAgain)
            g_source_set_priority(source, G_PRIORITY_LOW);
        auto* later = new SLater{token, static_cast<UMockdevIoctlClient*>(g_object_ref(client)), a};
        g_source_set_callback(source, OnLater, later, [](gpointer p) {
            auto* l = static_cast<SLater*>(p);
            g_object_unref(l->pClient);
            delete l;
        });
        g_source_attach(source, loop);
        g_source_unref(source);
    }

    static gboolean OnLater(gpointer p)
    {
        const SLater& later = *static_cast<SLater*>(p);
        if (later.answer.bAgain)
            Answer(later.token, later.pClient, true);
        else
            umockdev_ioctl_client_complete(later.pClient, later.answer.nResult, later.answer.nError);
        return G_SOURCE_REMOVE;
    }

    // The answer to the client's ioctl; `last`: no asking again.
    static SAnswer Decide(CSimulator& sim, const SToken& token, UMockdevIoctlClient* client, bool last)
    {
        SDevice& dev = *sim.m_devices[static_cast<size_t>(token.nDevice)];
        SDevice::SFile& file = FileOf(token, dev, client);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        const auto request = umockdev_ioctl_client_get_request(client);
        SAnswer a;
        bool other = false;  // the answer turned on another open file's claim
        // A removed device answers nothing but the reaping of URBs that have ended.
        if (sim.m_bUnplugged && request != USBDEVFS_REAPURB && request != USBDEVFS_REAPURBNDELAY) {
            a.nError = ENODEV;
            return a;
        }
        switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            // Without these libusb would split a 32 KiB transfer into several URBs.
            CResolved caps(arg, sizeof(uint32_t));
            if (!caps) {
                a.nError = EFAULT;
                break;
            }
            caps.As<uint32_t>() = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM
                | USBDEVFS_CAP_BULK_SCATTER_GATHER;
            break;
        }
        case USBDEVFS_RESET:
            break;
        case USBDEVFS_SETINTERFACE:
            a.nError = Claim(dev, client, other);
            break;
        case USBDEVFS_CLEAR_HALT: {
            CResolved ep(arg, sizeof(unsigned));
            if (!ep) {
                a.nError = EFAULT;
                break;
            }
            a.nError = Claim(dev, client, other);
            if (a.nError == 0) {
                auto& halted = dev.halted;
                halted.erase(std::remove(halted.begin(), halted.end(), ep.As<unsigned>()), halted.end());
            }
            break;
        }
        case USBDEVFS_CLAIMINTERFACE: {
            CResolved ifno(arg, sizeof(unsigned));
            a.nError = !ifno ? EFAULT : ifno.As<unsigned>() != 0 ? ENOENT : Claim(dev, client, other);
            break;
        }
        case USBDEVFS_RELEASEINTERFACE: {
            CResolved ifno(arg, sizeof(unsigned));
            a.nError = !ifno ? EFAULT : ifno.As<unsigned>() != 0 ? ENOENT : Release(dev, client);
            break;
        }
        case USBDEVFS_DISCONNECT_CLAIM: {
            if (sim.m_options.bNoDisconnectClaim) {
                a.nError = ENOTTY;
                break;
            }
            CResolved dc(arg, sizeof(usbdevfs_disconnect_claim));
            a.nError = dc ? DisconnectClaim(dev, client, dc.As<usbdevfs_disconnect_claim>(), other) : EFAULT;
            break;
        }
        case USBDEVFS_GETDRIVER: {
            CResolved gd(arg, sizeof(usbdevfs_getdriver));
            if (!gd) {
                a.nError = EFAULT;
                break;
            }
            auto& g = gd.As<usbdevfs_getdriver>();
            if (g.interface != 0 || dev.eDriver == EDriver::kNone) {
                a.nError = ENODATA;
                break;
            }
            other = HeldByAnother(dev, client);
            if (other && !last)
                break;
            std::memset(g.driver, 0, sizeof g.driver);
            std::strncpy(g.driver, DriverName(dev), sizeof g.driver - 1);
            break;
        }
        case USBDEVFS_IOCTL: {
            CResolved ctl(arg, sizeof(usbdevfs_ioctl));
            if (!ctl)
                a.nError = EFAULT;
            else
                DriverIoctl(sim, dev, client, ctl.As<usbdevfs_ioctl>(), a, other);
            break;
        }
        case USBDEVFS_SUBMITURB:
            Submit(sim, dev, file, client, arg, a, other);
            break;
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
            Reap(sim, file, arg, a);
            break;
        case USBDEVFS_DISCARDURB: {
            unsigned long addr = 0;
            std::memcpy(&addr, arg->data, std::min<size_t>(sizeof addr, static_cast<size_t>(arg->data_len)));
            auto it = std::find_if(file.parked.begin(), file.parked.end(),
                                   [addr](const SDevice::SUrb& u) { return u.pData->client_addr == addr; });
            if (it == file.parked.end()) {
                a.nError = EINVAL;
                break;
            }
            auto* urb = reinterpret_cast<usbdevfs_urb*>(it->pData->data);
            urb->status = -ENOENT;
            urb->actual_length = 0;
            file.reapable.push_back(*it);
            file.parked.erase(it);
            break;
        }
        default:
            a.nError = ENOTTY;
            break;
        }
        a.bAgain = other && !last;
        return a;
    }

    static const char* DriverName(const SDevice& dev)
    {
        switch (dev.eDriver) {
        case EDriver::kKernel: return kSimKernelDriver;
        case EDriver::kUsbfs: return "usbfs";
        case EDriver::kNone: break;
        }
        return "";
    }

    static void Unbind(SDevice& dev)
    {
        dev.eDriver = EDriver::kNone;
        dev.pHolder = nullptr;
    }

    static bool HeldByAnother(const SDevice& dev, const UMockdevIoctlClient* file)
    {
        return dev.eDriver == EDriver::kUsbfs && dev.pHolder && dev.pHolder != file;
    }

    // Interface 0 for `file` through usbfs; 0 or an errno. Held by the kernel driver, a program
    // outside or another file: EBUSY, and `other` tells the last. The kernel claims it this way
    // too for a file that uses the interface without having claimed it.
    static int Claim(SDevice& dev, UMockdevIoctlClient* file, bool& other)
    {
        if (dev.eDriver == EDriver::kUsbfs && dev.pHolder == file)
            return 0;
        if (dev.eDriver != EDriver::kNone) {
            other = HeldByAnother(dev, file);
            return EBUSY;
        }
        dev.eDriver = EDriver::kUsbfs;
        dev.pHolder = file;
        return 0;
    }

    static int Release(SDevice& dev, const UMockdevIoctlClient* file)
    {
        if (dev.eDriver != EDriver::kUsbfs || dev.pHolder != file)
            return EINVAL;  // not claimed through this file
        Unbind(dev);
        return 0;
    }

    // Unbinds whatever driver holds the interface, unless the flags spare it, then claims it.
    // A usbfs claim of another file or program is never broken.
    static int DisconnectClaim(SDevice& dev, UMockdevIoctlClient* file, const usbdevfs_disconnect_claim& dc,
                               bool& other)
    {
        if (dc.interface != 0)
            return EINVAL;
        if (dev.eDriver == EDriver::kUsbfs && dev.pHolder != file) {
            other = HeldByAnother(dev, file);
            return EBUSY;
        }
        if (dev.eDriver != EDriver::kNone) {
            const std::string_view bound = DriverName(dev);
            const std::string_view named(dc.driver, strnlen(dc.driver, sizeof dc.driver));
            if ((dc.flags & USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER) && named != bound)
                return EBUSY;
            if ((dc.flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER) && named == bound)
                return EBUSY;
            Unbind(dev);
        }
        return Claim(dev, file, other);
    }

    // USBDEVFS_IOCTL's driver requests: DISCONNECT unbinds (ENODATA when nothing is bound);
    // CONNECT binds the kernel driver again and answers 1, or 0 when there is none to bind.
    // Another file's or program's usbfs claim: EBUSY.
    static void DriverIoctl(const CSimulator& sim, SDevice& dev, const UMockdevIoctlClient* file,
                            const usbdevfs_ioctl& ctl, SAnswer& a, bool& other)
    {
        const auto code = static_cast<unsigned>(ctl.ioctl_code);
        if (ctl.ifno != 0)
            a.nError = EINVAL;
        else if (dev.eDriver == EDriver::kUsbfs && dev.pHolder != file) {
            other = HeldByAnother(dev, file);
            a.nError = EBUSY;
        } else if (code == USBDEVFS_DISCONNECT) {
            if (dev.eDriver == EDriver::kNone)
                a.nError = ENODATA;
            else
                Unbind(dev);
        } else if (code == USBDEVFS_CONNECT) {
            if (dev.eDriver != EDriver::kNone)
                a.nError = EBUSY;
            else if (sim.m_options.bKernelDriver) {
                dev.eDriver = EDriver::kKernel;
                a.nResult = 1;
            }
        } else {
            a.nError = ENOTTY;
        }
    }

    // GET_DESCRIPTOR for a string: the language list (0) and the serial number. Fills the data stage
    // behind the 8-byte setup packet; returns its length, or 0 for a request the emulator refuses.
    static int StringDescriptor(const SDevice& dev, uint8_t* bytes, size_t length)
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

    // Takes one URB of `file`: a control request at once, a bulk transfer through the firmware.
    static void Submit(CSimulator& sim, SDevice& dev, SDevice::SFile& file, UMockdevIoctlClient* client,
                       UMockdevIoctlData* arg, SAnswer& a, bool& other)
    {
        UMockdevIoctlData* ud = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        if (!ud) {
            a.nError = EFAULT;
            return;
        }
        auto* urb = reinterpret_cast<usbdevfs_urb*>(ud->data);
        // A bulk endpoint belongs to interface 0, which must be this file's.
        if (urb->type == USBDEVFS_URB_TYPE_BULK)
            a.nError = Claim(dev, client, other);
        if (a.nError != 0) {
            g_object_unref(ud);
            return;
        }
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
            file.reapable.push_back({ud, false});
            return;
        }

        const unsigned seq = ++sim.m_nTransfers;
        const SSimOptions& o = sim.m_options;
        STransferRecord record;
        record.nSeq = seq;
        record.nDevice = dev.nIndex;
        record.bIn = in;
        bool park = false;
        bool cut = false;
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
            cut = true;
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
        const SDevice::SUrb queued{ud, seq == o.nUnplugAfter};
        if (park)
            file.parked.push_back(queued);
        else
            file.reapable.push_back(queued);

        if (sim.m_pLogFile) {
            std::fprintf(sim.m_pLogFile, "%s\n", FormatTransfer(record).c_str());
            std::fflush(sim.m_pLogFile);
        }
        const size_t moved = record.data.size();
        sim.m_log.push_back(std::move(record));
        // The cut URB stays to be reaped; the devices go now.
        if (cut)
            sim.Unplug();
        if (o.nThroughput)
            a.delay = std::chrono::microseconds(static_cast<int64_t>(moved * 1000000 / o.nThroughput));
    }

    // Hands the client its oldest completed URB. After an unplug that is still allowed, then ENODEV.
    static void Reap(CSimulator& sim, SDevice::SFile& file, UMockdevIoctlData* arg, SAnswer& a)
    {
        if (file.reapable.empty()) {
            a.nError = sim.m_bUnplugged ? ENODEV : EAGAIN;
            return;
        }
        UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
        if (!slot) {
            a.nError = EFAULT;
            return;
        }
        const SDevice::SUrb urb = file.reapable.front();
        file.reapable.pop_front();
        umockdev_ioctl_data_set_ptr(slot, 0, urb.pData);
        g_object_unref(slot);
        g_object_unref(urb.pData);
        // The program has this transfer's result; the cable goes now.
        if (urb.bUnplugWhenReaped)
            sim.Unplug();
    }
};

CSimulator::CSimulator(const SSimOptions& options) : m_pCore(std::make_shared<SCore>()), m_options(options)
{
    m_pCore->pSim = this;
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
        dev->nIndex = i;
        if (static_cast<size_t>(i) < options.serials.size())
            dev->sSerial = options.serials[static_cast<size_t>(i)];
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
        if (options.bBusy)
            dev->eDriver = SDevice::EDriver::kUsbfs;  // held by no file of ours
        if (options.bDenyAccess) {
            // Our preload library refuses a node with no permission bits to everyone.
            gchar* root = umockdev_testbed_get_root_dir(tb);
            const std::string node = std::string(root) + dev->sDevNode;
            g_free(root);
            if (::chmod(node.c_str(), 0) != 0)
                throw std::runtime_error("cannot close the device node " + node + ": " + std::strerror(errno));
        }
        dev->pHandler = umockdev_ioctl_base_new();
        SHandlerAccess::Attach(*this, *dev);
        if (!umockdev_testbed_attach_ioctl(tb, dev->sDevNode.c_str(), dev->pHandler, &err.p))
            throw std::runtime_error("umockdev cannot attach the emulator: " + err.Text());
        m_devices.push_back(std::move(dev));
    }
}

CSimulator::~CSimulator()
{
    // From here on umockdev's thread leaves the model alone; files still open keep no URBs of ours.
    std::vector<UMockdevIoctlData*> urbs;
    {
        std::lock_guard lock(m_pCore->mutex);
        m_pCore->pSim = nullptr;
        for (auto& dev : m_devices) {
            for (const auto& [client, file] : dev->files) {
                for (const auto& u : file.reapable)
                    urbs.push_back(u.pData);
                for (const auto& u : file.parked)
                    urbs.push_back(u.pData);
            }
            dev->files.clear();
        }
    }
    g_object_unref(static_cast<UMockdevTestbed*>(m_pTestbed));
    for (UMockdevIoctlData* u : urbs)
        g_object_unref(u);
    for (auto& dev : m_devices)
        g_object_unref(dev->pHandler);
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

void CSimulator::Unplug()
{
    if (m_bUnplugged)
        return;
    // URBs still waiting end as the kernel ends them when the device goes.
    for (auto& dev : m_devices) {
        for (auto& [client, file] : dev->files) {
            for (SDevice::SUrb& u : file.parked) {
                auto* urb = reinterpret_cast<usbdevfs_urb*>(u.pData->data);
                urb->status = -ESHUTDOWN;
                urb->actual_length = 0;
                file.reapable.push_back({u.pData, false});
            }
            file.parked.clear();
        }
    }
    RemoveAll();
}

int CSimulator::EmulatorCount() const
{
    std::lock_guard lock(m_pCore->mutex);
    return m_bUnplugged ? 0 : static_cast<int>(m_devices.size());
}

CSimFirmware CSimulator::Firmware(int device) const
{
    std::lock_guard lock(m_pCore->mutex);
    return m_devices.at(static_cast<size_t>(device))->firmware;
}

void CSimulator::SetMemory(int device, size_t offset, const std::vector<uint8_t>& bytes)
{
    std::lock_guard lock(m_pCore->mutex);
    auto& memory = m_devices.at(static_cast<size_t>(device))->firmware.m_memory;
    if (offset > memory.size() || bytes.size() > memory.size() - offset)
        throw std::out_of_range("beyond the emulator's memory");
    std::copy(bytes.begin(), bytes.end(), memory.begin() + static_cast<ptrdiff_t>(offset));
}

std::string CSimulator::InterfaceDriver(int device) const
{
    std::lock_guard lock(m_pCore->mutex);
    return SHandlerAccess::DriverName(*m_devices.at(static_cast<size_t>(device)));
}

size_t CSimulator::UrbsHeld() const
{
    std::lock_guard lock(m_pCore->mutex);
    size_t n = 0;
    for (const auto& dev : m_devices)
        for (const auto& [client, file] : dev->files)
            n += file.reapable.size() + file.parked.size();
    return n;
}

std::vector<STransferRecord> CSimulator::Transfers() const
{
    std::lock_guard lock(m_pCore->mutex);
    return m_log;
}

std::vector<std::string> CSimulator::LogLines() const
{
    std::lock_guard lock(m_pCore->mutex);
    std::vector<std::string> lines;
    for (const auto& r : m_log)
        lines.push_back(FormatTransfer(r));
    return lines;
}

void CSimulator::ClearLog()
{
    std::lock_guard lock(m_pCore->mutex);
    m_log.clear();
    m_nTransfers = 0;
}

std::string CSimulator::PortPath(int device) const
{
    std::lock_guard lock(m_pCore->mutex);
    return m_devices.at(static_cast<size_t>(device))->sPortPath;
}

void CSimulator::SetFaults(unsigned stallAt, unsigned timeoutAt, unsigned shortReadAt, unsigned unplugAfter)
{
    std::lock_guard lock(m_pCore->mutex);
    m_options.nStallAt = stallAt;
    m_options.nTimeoutAt = timeoutAt;
    m_options.nShortReadAt = shortReadAt;
    m_options.nUnplugAfter = unplugAfter;
}
