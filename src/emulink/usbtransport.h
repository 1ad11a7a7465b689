// USB bulk transport to the emulator on libusb: open by "Ezusb-N", one bulk transfer per call.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "emulink/messagesink.h"

struct libusb_context;
struct libusb_device_handle;

struct SUsbId {
    uint16_t nVendor = 0;
    uint16_t nProduct = 0;
    bool operator==(const SUsbId&) const = default;
};

// EZ-USB ids the emulator answers to unless TARVEX_USB_IDS says otherwise.
std::vector<SUsbId> DefaultUsbIds();
// "vvvv:pppp,vvvv:pppp" (hex, blanks allowed around items); nullopt when any item is malformed or none is given.
std::optional<std::vector<SUsbId>> ParseUsbIds(std::string_view text);
// TARVEX_USB_IDS when set and well-formed, the built-in list otherwise.
std::vector<SUsbId> UsbIdsFromEnvironment();

// What happened to one transfer. kNotOpened: the device could not be found or opened;
// kFailed: it was opened but the transfer did not move all its bytes (stall, time-out, error, short).
enum class ETransfer { kOk, kNotOpened, kFailed };

// One opened emulator; closes the device when destroyed. Pipe N is the N-th endpoint of interface 0.
class CDeviceHandle {
public:
    CDeviceHandle() = default;
    ~CDeviceHandle();
    CDeviceHandle(CDeviceHandle&& other) noexcept;
    CDeviceHandle& operator=(CDeviceHandle&& other) noexcept;
    CDeviceHandle(const CDeviceHandle&) = delete;
    CDeviceHandle& operator=(const CDeviceHandle&) = delete;

    bool IsOpen() const { return m_pHandle != nullptr; }
    void Close();
    // Claims interface 0 (detaching a kernel driver that holds it, re-attached on release), moves
    // `length` bytes on pipe `pipe` once, releases the interface.
    // Any failure, including a short transfer, gives kFailed; `received` (if given) gets the count moved.
    ETransfer Transfer(unsigned pipe, uint8_t* data, size_t length, std::chrono::milliseconds timeout,
                       size_t* received = nullptr);

private:
    friend class CUsbTransport;
    libusb_device_handle* m_pHandle = nullptr;
    std::vector<uint8_t> m_endpoints;  // addresses of interface 0, alt 0, in descriptor order
};

class CUsbTransport {
public:
    static constexpr unsigned kWritePipe = 1;
    static constexpr unsigned kReadPipe = 0;
    // Generous for 32 KiB at full speed (about 1 MB/s, so some 33 ms), yet an unanswering emulator
    // holds the program for seconds, not forever.
    static constexpr std::chrono::milliseconds kDefaultTimeout{5000};

    // `sink` gets "Could not open the Device"; ids default to UsbIdsFromEnvironment().
    explicit CUsbTransport(CMessageSink& sink, std::optional<std::vector<SUsbId>> ids = std::nullopt,
                           std::chrono::milliseconds timeout = kDefaultTimeout);
    ~CUsbTransport();
    CUsbTransport(const CUsbTransport&) = delete;
    CUsbTransport& operator=(const CUsbTransport&) = delete;

    // "Ezusb-N": the N-th matching device by bus number, then port path. Shows no message.
    bool OpenDevice(const std::string& name, CDeviceHandle& handle);
    // Opens "Ezusb-0", sends `length` bytes on pipe 1, closes. On kNotOpened shows "Could not open the Device"
    // owned by `owner`.
    ETransfer BulkWrite(void* owner, const uint8_t* data, size_t length);
    // Opens "Ezusb-0", reads `length` bytes from pipe 0, closes. Shows nothing; bytes not received keep their value.
    ETransfer BulkRead(uint8_t* data, size_t length);

    std::chrono::milliseconds Timeout() const { return m_timeout; }
    const std::vector<SUsbId>& Ids() const { return m_ids; }

private:
    struct SContextDeleter {
        void operator()(libusb_context* ctx) const;
    };
    std::unique_ptr<libusb_context, SContextDeleter> m_pContext;
    CMessageSink& m_sink;
    std::vector<SUsbId> m_ids;
    std::chrono::milliseconds m_timeout;
};

inline constexpr const char* kMsgCouldNotOpen = "Could not open the Device";
