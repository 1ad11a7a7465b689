// SPDX-License-Identifier: MIT
// What the protocol needs of a transport: one bulk write, one bulk read, and the status of each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "session/messagesink.h"

inline constexpr const char* kMsgCouldNotOpen = "Could not open the Device";

// Why a transfer did not move all its bytes. The first group fails before any byte moves
// (the device could not be found, opened or claimed); the second fails during the transfer.
enum class ETransferError {
    kNone,
    kNoDevice,       // no matching device where one was asked for
    kAccessDenied,   // the device node may not be opened by this user
    kBusy,           // another program holds the emulator's interface
    kNoLibusb,       // libusb could not start: no USB access at all
    kWrongEndpoint,  // pipe 0 is not a bulk IN endpoint, or pipe 1 not a bulk OUT endpoint
    kOpenFailed,     // any other reason the device could not be opened
    kGone,           // the device went away during the transfer
    kTimeout,
    kStall,
    kShort,          // the transfer ended with fewer bytes than asked
    kOther,          // any other USB error
};

struct STransferStatus {
    ETransferError eError = ETransferError::kNone;
    int nLibusbError = 0;  // the libusb error code behind eError; 0 for none
    size_t nMoved = 0;
    size_t nAsked = 0;
    std::string sDevice;   // where the device sits, "BUS-PORT[.PORT...]"; empty when none was found

    bool Ok() const { return eError == ETransferError::kNone; }
    // The device could not be used at all, so not one byte reached it.
    bool NotOpened() const;
};

// "no device", "access denied", ...: for logs and tests.
const char* TransferErrorName(ETransferError error);
// One plain line: what went wrong and what to do. Empty when all went well and when the device is
// simply absent, where the fixed message says all there is to say.
std::string DescribeCause(const STransferStatus& status);
// `text`, followed on a second line by the cause when there is one.
std::string WithCause(std::string_view text, const STransferStatus& status);

// The emulator's two pipes. Implementations move the bytes; the message of a failed open is shown
// here, the same for every implementation.
class CEmuTransport {
public:
    explicit CEmuTransport(CMessageSink& sink) : m_sink(sink) {}
    virtual ~CEmuTransport() = default;
    CEmuTransport(const CEmuTransport&) = delete;
    CEmuTransport& operator=(const CEmuTransport&) = delete;

    // Sends `length` bytes on pipe 1. When the device cannot be opened, shows "Could not open the
    // Device" owned by `owner`, with the cause on a second line when there is more to it than absence.
    STransferStatus BulkWrite(void* owner, const uint8_t* data, size_t length);
    // Reads `length` bytes from pipe 0. Shows nothing; bytes not received keep their value.
    STransferStatus BulkRead(uint8_t* data, size_t length) { return Read(data, length); }

protected:
    virtual STransferStatus Write(const uint8_t* data, size_t length) = 0;
    virtual STransferStatus Read(uint8_t* data, size_t length) = 0;

private:
    CMessageSink& m_sink;
};
