// SPDX-License-Identifier: MIT
// USB bulk transport to the emulator on libusb: pick an emulator, one bulk transfer per call.
#include "emulink/usbtransport.h"

#include "util/textutil.h"

#include <libusb.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <tuple>
#include <utility>

namespace {

using util::Trim;

// Parses the decimal instance number of "Ezusb-N"; anything else names no device.
std::optional<unsigned> InstanceOf(const std::string& name)
{
    constexpr std::string_view prefix = "Ezusb-";
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
        return std::nullopt;
    unsigned n = 0;
    const char* first = name.data() + prefix.size();
    const char* last = name.data() + name.size();
    auto [ptr, ec] = std::from_chars(first, last, n);
    if (ec != std::errc() || ptr != last)
        return std::nullopt;
    return n;
}

std::optional<uint16_t> Hex16(std::string_view s)
{
    if (s.empty() || s.size() > 4)
        return std::nullopt;
    unsigned v = 0;
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 16);
    if (ec != std::errc() || ptr != s.data() + s.size())
        return std::nullopt;
    return static_cast<uint16_t>(v);
}

bool AllDigits(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Sort key giving the stable order of attached emulators.
using DeviceKey = std::tuple<uint8_t, std::vector<uint8_t>, uint8_t>;

DeviceKey KeyOf(libusb_device* dev)
{
    uint8_t ports[8] = {};
    int n = libusb_get_port_numbers(dev, ports, sizeof ports);
    std::vector<uint8_t> path(ports, ports + std::max(n, 0));
    return {libusb_get_bus_number(dev), std::move(path), libusb_get_device_address(dev)};
}

std::string PortPathOf(const DeviceKey& key)
{
    std::string path = std::to_string(std::get<0>(key));
    const auto& ports = std::get<1>(key);
    for (size_t i = 0; i < ports.size(); ++i) {
        path += i == 0 ? '-' : '.';
        path += std::to_string(ports[i]);
    }
    return path;
}

struct SMatch {
    DeviceKey key;
    std::string sPortPath;
    SUsbId id;
    libusb_device* pDevice;
};

// The attached devices with one of our ids, in the stable order; holds the list for its lifetime.
class CMatchingDevices {
public:
    CMatchingDevices(libusb_context* ctx, const std::vector<SUsbId>& ids)
    {
        const ssize_t count = libusb_get_device_list(ctx, &m_list);
        if (count < 0) {
            m_nError = static_cast<int>(count);
            m_list = nullptr;
            return;
        }
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device_descriptor desc{};
            if (libusb_get_device_descriptor(m_list[i], &desc) != LIBUSB_SUCCESS)
                continue;
            const SUsbId id{desc.idVendor, desc.idProduct};
            if (std::find(ids.begin(), ids.end(), id) == ids.end())
                continue;
            DeviceKey key = KeyOf(m_list[i]);
            std::string path = PortPathOf(key);
            m_matches.push_back({std::move(key), std::move(path), id, m_list[i]});
        }
        std::sort(m_matches.begin(), m_matches.end(), [](const SMatch& a, const SMatch& b) { return a.key < b.key; });
    }
    ~CMatchingDevices()
    {
        if (m_list)
            libusb_free_device_list(m_list, 1);
    }
    CMatchingDevices(const CMatchingDevices&) = delete;
    CMatchingDevices& operator=(const CMatchingDevices&) = delete;

    int Error() const { return m_nError; }
    const std::vector<SMatch>& Matches() const { return m_matches; }

private:
    libusb_device** m_list = nullptr;
    int m_nError = 0;
    std::vector<SMatch> m_matches;
};

STransferStatus Failure(ETransferError error, int libusbError, const std::string& device)
{
    STransferStatus s;
    s.eError = error;
    s.nLibusbError = libusbError;
    s.sDevice = device;
    return s;
}

// How libusb's answer to opening or claiming reads to the user.
ETransferError OpenErrorOf(int rc)
{
    switch (rc) {
    case LIBUSB_ERROR_ACCESS: return ETransferError::kAccessDenied;
    case LIBUSB_ERROR_BUSY: return ETransferError::kBusy;
    case LIBUSB_ERROR_NO_DEVICE: return ETransferError::kNoDevice;
    default: return ETransferError::kOpenFailed;
    }
}

bool IsBulk(const libusb_endpoint_descriptor& ep, bool in)
{
    return (ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) == LIBUSB_TRANSFER_TYPE_BULK
        && ((ep.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN) == in;
}

// Opens without claiming: checks the pipes (from the descriptors, before touching the device), then opens.
STransferStatus OpenUnclaimed(const SMatch& match, libusb_device_handle*& out, std::vector<uint8_t>& endpoints)
{
    libusb_config_descriptor* config = nullptr;
    int rc = libusb_get_active_config_descriptor(match.pDevice, &config);
    if (rc != LIBUSB_SUCCESS)
        return Failure(OpenErrorOf(rc), rc, match.sPortPath);
    STransferStatus status;
    status.sDevice = match.sPortPath;
    endpoints.clear();
    if (config->bNumInterfaces > 0 && config->interface[0].num_altsetting > 0) {
        const libusb_interface_descriptor& alt = config->interface[0].altsetting[0];
        for (int e = 0; e < alt.bNumEndpoints; ++e)
            endpoints.push_back(alt.endpoint[e].bEndpointAddress);
        if (alt.bNumEndpoints < 2 || !IsBulk(alt.endpoint[CUsbTransport::kReadPipe], true)
            || !IsBulk(alt.endpoint[CUsbTransport::kWritePipe], false))
            status.eError = ETransferError::kWrongEndpoint;
    } else {
        status.eError = ETransferError::kWrongEndpoint;
    }
    libusb_free_config_descriptor(config);
    if (!status.Ok())
        return status;
    rc = libusb_open(match.pDevice, &out);
    if (rc != LIBUSB_SUCCESS) {
        out = nullptr;
        return Failure(OpenErrorOf(rc), rc, match.sPortPath);
    }
    // A kernel driver may hold interface 0 (Linux's usbtest binds 0547:2235 and 04b4:8613):
    // libusb then detaches it for each claim and gives it back on release. Where the
    // platform cannot do that (LIBUSB_ERROR_NOT_SUPPORTED) the claim alone is tried.
    libusb_set_auto_detach_kernel_driver(out, 1);
    return status;
}

std::string SerialOf(libusb_device_handle* h, libusb_device* dev)
{
    libusb_device_descriptor desc{};
    if (libusb_get_device_descriptor(dev, &desc) != LIBUSB_SUCCESS || desc.iSerialNumber == 0)
        return {};
    unsigned char text[256] = {};
    const int n = libusb_get_string_descriptor_ascii(h, desc.iSerialNumber, text, sizeof text);
    return n > 0 ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(n)) : std::string();
}

}  // namespace

std::vector<SUsbId> DefaultUsbIds()
{
    return {
        {0x0547, 0x2131},  // Anchor Chips AN2131 EZ-USB
        {0x0547, 0x2235},  // Anchor Chips AN2235 EZ-USB FX
        {0x04B4, 0x8613},  // Cypress CY7C68013 EZ-USB FX2
    };
}

std::optional<std::vector<SUsbId>> ParseUsbIds(std::string_view text, std::string* bad)
{
    std::vector<SUsbId> ids;
    while (true) {
        size_t comma = text.find(',');
        std::string_view item = Trim(text.substr(0, comma));
        size_t colon = item.find(':');
        std::optional<uint16_t> vid, pid;
        if (colon != std::string_view::npos) {
            vid = Hex16(Trim(item.substr(0, colon)));
            pid = Hex16(Trim(item.substr(colon + 1)));
        }
        if (!vid || !pid) {
            if (bad)
                *bad = std::string(item);
            return std::nullopt;
        }
        ids.push_back({*vid, *pid});
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    return ids;
}

std::vector<SUsbId> UsbIdsFromEnvironment(std::string* warning)
{
    if (const char* env = std::getenv("TARVEX_USB_IDS")) {
        std::string bad;
        if (auto ids = ParseUsbIds(env, &bad))
            return *ids;
        if (warning)
            *warning = "TARVEX_USB_IDS is not a list of vvvv:pppp ids (hex, separated by commas): '" + bad +
                       "' is not one, so the built-in ids are used";
    }
    return DefaultUsbIds();
}

CDeviceHandle::~CDeviceHandle() { Close(); }

CDeviceHandle::CDeviceHandle(CDeviceHandle&& other) noexcept
    : m_pHandle(std::exchange(other.m_pHandle, nullptr)),
      m_bClaimed(std::exchange(other.m_bClaimed, false)),
      m_endpoints(std::move(other.m_endpoints)),
      m_sPortPath(std::move(other.m_sPortPath))
{
}

CDeviceHandle& CDeviceHandle::operator=(CDeviceHandle&& other) noexcept
{
    if (this != &other) {
        Close();
        m_pHandle = std::exchange(other.m_pHandle, nullptr);
        m_bClaimed = std::exchange(other.m_bClaimed, false);
        m_endpoints = std::move(other.m_endpoints);
        m_sPortPath = std::move(other.m_sPortPath);
    }
    return *this;
}

void CDeviceHandle::Close()
{
    if (m_pHandle) {
        if (m_bClaimed)
            libusb_release_interface(m_pHandle, 0);
        libusb_close(std::exchange(m_pHandle, nullptr));
    }
    m_bClaimed = false;
    m_endpoints.clear();
    m_sPortPath.clear();
}

STransferStatus CDeviceHandle::Move(unsigned pipe, uint8_t* data, size_t length, std::chrono::milliseconds timeout)
{
    STransferStatus s;
    s.nAsked = length;
    s.sDevice = m_sPortPath;
    if (!m_pHandle) {
        s.eError = ETransferError::kNoDevice;
        return s;
    }
    if (pipe >= m_endpoints.size()) {
        s.eError = ETransferError::kWrongEndpoint;
        return s;
    }
    if (length > static_cast<size_t>(INT32_MAX)) {
        s.eError = ETransferError::kOther;
        s.nLibusbError = LIBUSB_ERROR_INVALID_PARAM;
        return s;
    }
    const uint8_t endpoint = m_endpoints[pipe];
    int moved = 0;
    const int rc = libusb_bulk_transfer(m_pHandle, endpoint, data, static_cast<int>(length), &moved,
                                        static_cast<unsigned>(timeout.count()));
    s.nMoved = static_cast<size_t>(std::max(moved, 0));
    s.nLibusbError = rc;
    switch (rc) {
    case LIBUSB_SUCCESS:
        if (s.nMoved < length)
            s.eError = ETransferError::kShort;
        break;
    case LIBUSB_ERROR_TIMEOUT:
        s.eError = ETransferError::kTimeout;
        break;
    case LIBUSB_ERROR_PIPE:
        // The endpoint stays halted until told otherwise; without this every later transfer on it
        // would stall as well.
        s.eError = ETransferError::kStall;
        libusb_clear_halt(m_pHandle, endpoint);
        break;
    case LIBUSB_ERROR_NO_DEVICE:
        s.eError = ETransferError::kGone;
        break;
    default:
        s.eError = ETransferError::kOther;
        break;
    }
    return s;
}

ETransfer CDeviceHandle::Transfer(unsigned pipe, uint8_t* data, size_t length, std::chrono::milliseconds timeout,
                                  size_t* received)
{
    const STransferStatus s = Move(pipe, data, length, timeout);
    if (received)
        *received = s.nMoved;
    return s.Ok() ? ETransfer::kOk : s.NotOpened() ? ETransfer::kNotOpened : ETransfer::kFailed;
}

bool IsPortPath(std::string_view text)
{
    const size_t dash = text.find('-');
    if (dash == std::string_view::npos || !AllDigits(text.substr(0, dash)))
        return false;
    std::string_view ports = text.substr(dash + 1);
    while (true) {
        const size_t dot = ports.find('.');
        if (!AllDigits(ports.substr(0, dot)))
            return false;
        if (dot == std::string_view::npos)
            return true;
        ports.remove_prefix(dot + 1);
    }
}

std::optional<SDeviceSelector> SDeviceSelector::Parse(std::string_view text, bool* ambiguous)
{
    if (ambiguous)
        *ambiguous = false;
    constexpr std::string_view serialPrefix = "serial:";
    constexpr std::string_view portPrefix = "port:";
    if (text.substr(0, serialPrefix.size()) == serialPrefix) {
        text.remove_prefix(serialPrefix.size());
        if (text.empty())
            return std::nullopt;
        return SDeviceSelector{EBy::kSerial, 0, std::string(text)};
    }
    if (text.substr(0, portPrefix.size()) == portPrefix) {
        text.remove_prefix(portPrefix.size());
        if (!IsPortPath(text))
            return std::nullopt;
        return SDeviceSelector{EBy::kPortPath, 0, std::string(text)};
    }
    if (text.empty())
        return std::nullopt;
    std::string_view digits = text;
    const bool bNamed = digits.substr(0, 6) == "Ezusb-";
    if (bNamed)
        digits.remove_prefix(6);
    unsigned n = 0;
    if (AllDigits(digits)) {
        // Nobody numbers emulators with leading zeros, but serial numbers often have them.
        if (!bNamed && digits.size() > 1 && digits[0] == '0') {
            if (ambiguous)
                *ambiguous = true;
            return std::nullopt;
        }
        auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
        if (ec == std::errc() && ptr == digits.data() + digits.size())
            return Index(n);
    }
    if (IsPortPath(text))
        return SDeviceSelector{EBy::kPortPath, 0, std::string(text)};
    return SDeviceSelector{EBy::kSerial, 0, std::string(text)};
}

std::string SDeviceSelector::Describe() const
{
    switch (eBy) {
    case EBy::kIndex: return "emulator " + std::to_string(nIndex);
    case EBy::kPortPath: return "the emulator at USB port " + sText;
    case EBy::kSerial: return "the emulator with serial number " + sText;
    }
    return {};
}

void CUsbTransport::SContextDeleter::operator()(libusb_context* ctx) const { libusb_exit(ctx); }

CUsbTransport::CUsbTransport(std::optional<std::vector<SUsbId>> ids, std::chrono::milliseconds timeout, InitFn init)
    : m_ids(ids ? std::move(*ids) : UsbIdsFromEnvironment()), m_timeout(timeout)
{
    libusb_context* ctx = nullptr;
    m_nInitError = init ? init(&ctx) : libusb_init(&ctx);
    if (m_nInitError == LIBUSB_SUCCESS)
        m_pContext.reset(ctx);
    else if (m_nInitError > 0)
        m_nInitError = LIBUSB_ERROR_OTHER;
}

CUsbTransport::~CUsbTransport() = default;

bool CUsbTransport::OpenDevice(const std::string& name, CDeviceHandle& handle)
{
    handle.Close();
    const auto instance = InstanceOf(name);
    return instance && Open(SDeviceSelector::Index(*instance), handle).Ok();
}

STransferStatus CUsbTransport::Open(const SDeviceSelector& device, CDeviceHandle& handle)
{
    handle.Close();
    if (!m_pContext)
        return Failure(ETransferError::kNoLibusb, m_nInitError, {});
    CMatchingDevices devices(m_pContext.get(), m_ids);
    if (devices.Error() != 0)
        return Failure(ETransferError::kOpenFailed, devices.Error(), {});
    const auto& matches = devices.Matches();

    // Opens and claims `match`; a serial number is checked between the two, before the claim
    // can disturb a device that is not the one asked for.
    auto openOne = [&](const SMatch& match, const std::string* serial) -> STransferStatus {
        libusb_device_handle* h = nullptr;
        std::vector<uint8_t> endpoints;
        STransferStatus status = OpenUnclaimed(match, h, endpoints);
        if (!status.Ok())
            return status;
        handle.m_pHandle = h;
        handle.m_endpoints = std::move(endpoints);
        handle.m_sPortPath = match.sPortPath;
        if (serial && SerialOf(h, match.pDevice) != *serial) {
            handle.Close();
            return Failure(ETransferError::kNoDevice, 0, {});
        }
        const int rc = libusb_claim_interface(h, 0);
        if (rc != LIBUSB_SUCCESS) {
            handle.Close();
            return Failure(OpenErrorOf(rc), rc, match.sPortPath);
        }
        handle.m_bClaimed = true;
        return status;
    };
    auto openMatch = [&](const SMatch& match, const std::string* serial) {
        STransferStatus status = openOne(match, serial);
        if (status.eError != ETransferError::kNoDevice)
            status.nInstance = static_cast<int>(&match - matches.data());
        return status;
    };

    switch (device.eBy) {
    case SDeviceSelector::EBy::kIndex:
        if (device.nIndex < matches.size())
            return openMatch(matches[device.nIndex], nullptr);
        break;
    case SDeviceSelector::EBy::kPortPath:
        for (const SMatch& m : matches)
            if (m.sPortPath == device.sText)
                return openMatch(m, nullptr);
        break;
    case SDeviceSelector::EBy::kSerial: {
        // Every device has to be asked; when the one asked for is among those that refused, the
        // refusal is the better answer than "none".
        STransferStatus refused = Failure(ETransferError::kNoDevice, 0, {});
        for (const SMatch& m : matches) {
            STransferStatus status = openMatch(m, &device.sText);
            if (status.Ok())
                return status;
            if (status.eError != ETransferError::kNoDevice && refused.eError == ETransferError::kNoDevice)
                refused = status;
        }
        return refused;
    }
    }
    return Failure(ETransferError::kNoDevice, 0, {});
}

SEmulatorList CUsbTransport::ListEmulators()
{
    SEmulatorList list;
    if (!m_pContext) {
        list.status = Failure(ETransferError::kNoLibusb, m_nInitError, {});
        return list;
    }
    CMatchingDevices devices(m_pContext.get(), m_ids);
    if (devices.Error() != 0) {
        list.status = Failure(ETransferError::kOpenFailed, devices.Error(), {});
        return list;
    }
    unsigned index = 0;
    for (const SMatch& m : devices.Matches()) {
        SEmulatorInfo info;
        info.nIndex = index++;
        info.sPortPath = m.sPortPath;
        info.id = m.id;
        libusb_device_handle* h = nullptr;
        std::vector<uint8_t> endpoints;
        info.open = OpenUnclaimed(m, h, endpoints);
        if (h) {
            info.sSerial = SerialOf(h, m.pDevice);
            // Claimed once to learn whether another program holds it.
            const int rc = libusb_claim_interface(h, 0);
            if (rc == LIBUSB_SUCCESS)
                libusb_release_interface(h, 0);
            else
                info.open = Failure(OpenErrorOf(rc), rc, m.sPortPath);
            libusb_close(h);
        }
        list.emulators.push_back(std::move(info));
    }
    return list;
}

STransferStatus CUsbTransport::ClaimDevice() { return Open(m_device, m_handle); }

void CUsbTransport::ReleaseDevice() { m_handle.Close(); }

STransferStatus CUsbTransport::Write(const uint8_t* data, size_t length)
{
    // libusb takes a non-const buffer for both directions; an OUT transfer only reads it.
    return m_handle.Move(kWritePipe, const_cast<uint8_t*>(data), length, m_timeout);
}

STransferStatus CUsbTransport::Read(uint8_t* data, size_t length)
{
    return m_handle.Move(kReadPipe, data, length, m_timeout);
}
