// SPDX-License-Identifier: MIT
// USB bulk transport to the emulator on libusb: pick an emulator, one bulk transfer per call.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "emulink/transport.h"

struct libusb_context;
struct libusb_device_handle;

struct SUsbId {
    uint16_t nVendor = 0;
    uint16_t nProduct = 0;
    bool operator==(const SUsbId&) const = default;
};

// EZ-USB ids the emulator answers to unless TARVEX_USB_IDS says otherwise.
std::vector<SUsbId> DefaultUsbIds();
// "vvvv:pppp,vvvv:pppp" (hex, blanks allowed around items); nullopt when any item is malformed or none is
// given, with `bad` (if given) set to the first malformed item.
std::optional<std::vector<SUsbId>> ParseUsbIds(std::string_view text, std::string* bad = nullptr);
// TARVEX_USB_IDS when set and well-formed, the built-in list otherwise; `warning` (if given) gets a
// line naming the bad entry of a malformed TARVEX_USB_IDS, and stays empty otherwise.
std::vector<SUsbId> UsbIdsFromEnvironment(std::string* warning = nullptr);

// Which emulator the transfers go to: the N-th attached one ("Ezusb-N"), the one plugged into a
// USB port, or the one with a serial number.
struct SDeviceSelector {
    enum class EBy { kIndex, kPortPath, kSerial };
    EBy eBy = EBy::kIndex;
    unsigned nIndex = 0;
    std::string sText;  // the port path or the serial number

    static SDeviceSelector Index(unsigned n) { return {EBy::kIndex, n, {}}; }
    // "N" or "Ezusb-N": by index; "port:BUS-PORT[.PORT...]" or a bare port path as Linux names ports
    // (e.g. "1-4.2"): by port; "serial:S" or any other text: by serial number S. nullopt for an empty
    // text, "serial:" or "port:" without a port path. Digits with a leading zero ("0001") read as a
    // number and as a serial number alike: nullopt too, with `ambiguous` (if given) set.
    static std::optional<SDeviceSelector> Parse(std::string_view text, bool* ambiguous = nullptr);
    // "emulator 1", "the emulator at USB port 1-4.2", "the emulator with serial number A1B2".
    std::string Describe() const;
    bool operator==(const SDeviceSelector&) const = default;
};

// True for "BUS-PORT[.PORT...]": decimal numbers, one '-', then '.' between ports.
bool IsPortPath(std::string_view text);

// What 'find' shows of one attached emulator.
struct SEmulatorInfo {
    unsigned nIndex = 0;    // N of "Ezusb-N"
    std::string sPortPath;  // "1-4.2"
    SUsbId id;
    std::string sSerial;    // empty when it has none or it could not be read
    STransferStatus open;   // how opening it went: access denied, busy...
};

struct SEmulatorList {
    STransferStatus status;  // kNoLibusb when libusb could not start; otherwise Ok
    std::vector<SEmulatorInfo> emulators;
};

// What happened to one transfer on an open handle, in two words; the status tells more.
enum class ETransfer { kOk, kNotOpened, kFailed };

// One opened emulator with interface 0 claimed; releases and closes when destroyed. Pipe N is the N-th
// endpoint of interface 0.
class CDeviceHandle {
public:
    CDeviceHandle() = default;
    ~CDeviceHandle();
    CDeviceHandle(CDeviceHandle&& other) noexcept;
    CDeviceHandle& operator=(CDeviceHandle&& other) noexcept;
    CDeviceHandle(const CDeviceHandle&) = delete;
    CDeviceHandle& operator=(const CDeviceHandle&) = delete;

    bool IsOpen() const { return m_pHandle != nullptr; }
    const std::string& PortPath() const { return m_sPortPath; }
    void Close();
    // Moves `length` bytes on pipe `pipe` once. A stalled endpoint has its halt cleared afterwards,
    // so that the next transfer can work.
    STransferStatus Move(unsigned pipe, uint8_t* data, size_t length, std::chrono::milliseconds timeout);
    // Move, in two words; `received` (if given) gets the count moved.
    ETransfer Transfer(unsigned pipe, uint8_t* data, size_t length, std::chrono::milliseconds timeout,
                       size_t* received = nullptr);

private:
    friend class CUsbTransport;
    libusb_device_handle* m_pHandle = nullptr;
    bool m_bClaimed = false;
    std::vector<uint8_t> m_endpoints;  // addresses of interface 0, alt 0, in descriptor order
    std::string m_sPortPath;
};

class CUsbTransport : public CEmuTransport {
public:
    static constexpr unsigned kWritePipe = 1;
    static constexpr unsigned kReadPipe = 0;
    // Generous for 32 KiB at full speed (about 1 MB/s, so some 33 ms), yet an unanswering emulator
    // holds the program for seconds, not forever.
    static constexpr std::chrono::milliseconds kDefaultTimeout{5000};
    // libusb_init, or a stand-in that fails.
    using InitFn = int (*)(libusb_context**);

    // ids default to UsbIdsFromEnvironment().
    explicit CUsbTransport(std::optional<std::vector<SUsbId>> ids = std::nullopt,
                           std::chrono::milliseconds timeout = kDefaultTimeout, InitFn init = nullptr);
    ~CUsbTransport() override;

    // The emulator BulkWrite and BulkRead use: "Ezusb-0" unless told otherwise.
    void SelectDevice(const SDeviceSelector& device) { m_device = device; }
    const SDeviceSelector& Device() const { return m_device; }

    // "Ezusb-N": the N-th matching device by bus number, then port path. Shows no message.
    bool OpenDevice(const std::string& name, CDeviceHandle& handle);
    // Opens the device and claims interface 0; the status says why not.
    STransferStatus Open(const SDeviceSelector& device, CDeviceHandle& handle);
    // Every matching device in the order of "Ezusb-N", each opened once to read its serial number.
    SEmulatorList ListEmulators();

    std::chrono::milliseconds Timeout() const { return m_timeout; }
    const std::vector<SUsbId>& Ids() const { return m_ids; }

protected:
    // Opens and claims the selected device for an operation; the transfers move bytes on pipe 1 or 0.
    STransferStatus ClaimDevice() override;
    void ReleaseDevice() override;
    STransferStatus Write(const uint8_t* data, size_t length) override;
    STransferStatus Read(uint8_t* data, size_t length) override;

private:
    struct SContextDeleter {
        void operator()(libusb_context* ctx) const;
    };
    std::unique_ptr<libusb_context, SContextDeleter> m_pContext;
    int m_nInitError = 0;
    std::vector<SUsbId> m_ids;
    std::chrono::milliseconds m_timeout;
    SDeviceSelector m_device;
    CDeviceHandle m_handle;  // open while an operation runs
};
