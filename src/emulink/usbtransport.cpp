// USB bulk transport to the emulator on libusb: open by "Ezusb-N", one bulk transfer per call.
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

// Sort key giving the stable order of attached emulators.
using DeviceKey = std::tuple<uint8_t, std::vector<uint8_t>, uint8_t>;

DeviceKey KeyOf(libusb_device* dev)
{
    uint8_t ports[8] = {};
    int n = libusb_get_port_numbers(dev, ports, sizeof ports);
    std::vector<uint8_t> path(ports, ports + std::max(n, 0));
    return {libusb_get_bus_number(dev), std::move(path), libusb_get_device_address(dev)};
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

std::optional<std::vector<SUsbId>> ParseUsbIds(std::string_view text)
{
    std::vector<SUsbId> ids;
    while (true) {
        size_t comma = text.find(',');
        std::string_view item = Trim(text.substr(0, comma));
        size_t colon = item.find(':');
        if (colon == std::string_view::npos)
            return std::nullopt;
        auto vid = Hex16(Trim(item.substr(0, colon)));
        auto pid = Hex16(Trim(item.substr(colon + 1)));
        if (!vid || !pid)
            return std::nullopt;
        ids.push_back({*vid, *pid});
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    return ids;
}

std::vector<SUsbId> UsbIdsFromEnvironment()
{
    if (const char* env = std::getenv("TARVEX_USB_IDS")) {
        if (auto ids = ParseUsbIds(env))
            return *ids;
    }
    return DefaultUsbIds();
}

CDeviceHandle::~CDeviceHandle() { Close(); }

CDeviceHandle::CDeviceHandle(CDeviceHandle&& other) noexcept
    : m_pHandle(std::exchange(other.m_pHandle, nullptr)), m_endpoints(std::move(other.m_endpoints))
{
}

CDeviceHandle& CDeviceHandle::operator=(CDeviceHandle&& other) noexcept
{
    if (this != &other) {
        Close();
        m_pHandle = std::exchange(other.m_pHandle, nullptr);
        m_endpoints = std::move(other.m_endpoints);
    }
    return *this;
}

void CDeviceHandle::Close()
{
    if (m_pHandle)
        libusb_close(std::exchange(m_pHandle, nullptr));
    m_endpoints.clear();
}

ETransfer CDeviceHandle::Transfer(unsigned pipe, uint8_t* data, size_t length, std::chrono::milliseconds timeout,
                                  size_t* received)
{
    if (received)
        *received = 0;
    if (!m_pHandle || pipe >= m_endpoints.size() || length > static_cast<size_t>(INT32_MAX))
        return ETransfer::kFailed;
    if (libusb_claim_interface(m_pHandle, 0) != LIBUSB_SUCCESS)
        return ETransfer::kFailed;
    int moved = 0;
    int rc = libusb_bulk_transfer(m_pHandle, m_endpoints[pipe], data, static_cast<int>(length), &moved,
                                  static_cast<unsigned>(timeout.count()));
    libusb_release_interface(m_pHandle, 0);
    if (received)
        *received = static_cast<size_t>(std::max(moved, 0));
    return rc == LIBUSB_SUCCESS && static_cast<size_t>(moved) == length ? ETransfer::kOk : ETransfer::kFailed;
}

void CUsbTransport::SContextDeleter::operator()(libusb_context* ctx) const { libusb_exit(ctx); }

CUsbTransport::CUsbTransport(CMessageSink& sink, std::optional<std::vector<SUsbId>> ids,
                             std::chrono::milliseconds timeout)
    : m_sink(sink), m_ids(ids ? std::move(*ids) : UsbIdsFromEnvironment()), m_timeout(timeout)
{
    libusb_context* ctx = nullptr;
    if (libusb_init(&ctx) == LIBUSB_SUCCESS)
        m_pContext.reset(ctx);
}

CUsbTransport::~CUsbTransport() = default;

bool CUsbTransport::OpenDevice(const std::string& name, CDeviceHandle& handle)
{
    handle.Close();
    auto instance = InstanceOf(name);
    if (!instance || !m_pContext)
        return false;

    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(m_pContext.get(), &list);
    if (count < 0)
        return false;
    std::vector<std::pair<DeviceKey, libusb_device*>> matches;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor desc{};
        if (libusb_get_device_descriptor(list[i], &desc) != LIBUSB_SUCCESS)
            continue;
        SUsbId id{desc.idVendor, desc.idProduct};
        if (std::find(m_ids.begin(), m_ids.end(), id) != m_ids.end())
            matches.emplace_back(KeyOf(list[i]), list[i]);
    }
    std::sort(matches.begin(), matches.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });

    bool ok = false;
    if (*instance < matches.size()) {
        libusb_device* dev = matches[*instance].second;
        libusb_config_descriptor* config = nullptr;
        libusb_device_handle* h = nullptr;
        if (libusb_get_active_config_descriptor(dev, &config) == LIBUSB_SUCCESS && config->bNumInterfaces > 0
            && config->interface[0].num_altsetting > 0 && libusb_open(dev, &h) == LIBUSB_SUCCESS) {
            const libusb_interface_descriptor& alt = config->interface[0].altsetting[0];
            // A kernel driver may hold interface 0 (Linux's usbtest binds 0547:2235 and 04b4:8613):
            // libusb then detaches it for each claim and gives it back on release. Where the
            // platform cannot do that (LIBUSB_ERROR_NOT_SUPPORTED) the claim alone is tried.
            libusb_set_auto_detach_kernel_driver(h, 1);
            handle.m_pHandle = h;
            for (int e = 0; e < alt.bNumEndpoints; ++e)
                handle.m_endpoints.push_back(alt.endpoint[e].bEndpointAddress);
            ok = true;
        }
        if (config)
            libusb_free_config_descriptor(config);
    }
    libusb_free_device_list(list, 1);
    return ok;
}

ETransfer CUsbTransport::BulkWrite(void* owner, const uint8_t* data, size_t length)
{
    CDeviceHandle handle;
    if (!OpenDevice("Ezusb-0", handle)) {
        m_sink.ShowMessage(owner, kMsgCouldNotOpen);
        return ETransfer::kNotOpened;
    }
    // libusb takes a non-const buffer for both directions; an OUT transfer only reads it.
    return handle.Transfer(kWritePipe, const_cast<uint8_t*>(data), length, m_timeout);
}

ETransfer CUsbTransport::BulkRead(uint8_t* data, size_t length)
{
    CDeviceHandle handle;
    if (!OpenDevice("Ezusb-0", handle))
        return ETransfer::kNotOpened;
    return handle.Transfer(kReadPipe, data, length, m_timeout);
}
