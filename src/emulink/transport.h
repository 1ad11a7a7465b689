// SPDX-License-Identifier: MIT
// What the protocol needs of a transport: one bulk write, one bulk read, and the status of each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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
    int nInstance = -1;    // N of "Ezusb-N" when a device was found

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

// The emulator's two pipes. An operation opens the emulator and claims it once (Open), does all
// its transfers, then lets it go (Close): while it holds the claim the kernel refuses every other
// program's, so nothing can slip between a command block and its data block. Opens nest: only the
// outermost Open and Close reach the device. A transfer outside any operation opens and closes the
// emulator around itself.
class CEmuTransport {
public:
    CEmuTransport() = default;
    virtual ~CEmuTransport() = default;
    CEmuTransport(const CEmuTransport&) = delete;
    CEmuTransport& operator=(const CEmuTransport&) = delete;

    STransferStatus Open();
    void Close();
    bool IsOpen() const { return m_nDepth > 0; }

    // Sends `length` bytes on pipe 1.
    STransferStatus BulkWrite(const uint8_t* data, size_t length);
    // Reads `length` bytes from pipe 0; bytes not received keep their value.
    STransferStatus BulkRead(uint8_t* data, size_t length);

protected:
    // The device proper: opened and claimed, then let go.
    virtual STransferStatus ClaimDevice() = 0;
    virtual void ReleaseDevice() = 0;
    // One transfer on the open device.
    virtual STransferStatus Write(const uint8_t* data, size_t length) = 0;
    virtual STransferStatus Read(uint8_t* data, size_t length) = 0;

private:
    template <typename Move>
    STransferStatus Transfer(size_t length, Move move);

    int m_nDepth = 0;
};

// Holds the emulator for one operation: opened on construction, let go on destruction.
class CEmuClaim {
public:
    explicit CEmuClaim(CEmuTransport& transport) : m_transport(transport), m_status(transport.Open()) {}
    ~CEmuClaim()
    {
        if (m_status.Ok())
            m_transport.Close();
    }
    CEmuClaim(const CEmuClaim&) = delete;
    CEmuClaim& operator=(const CEmuClaim&) = delete;

    bool Ok() const { return m_status.Ok(); }
    // Why the emulator could not be opened; Ok when it was.
    const STransferStatus& Status() const { return m_status; }

private:
    CEmuTransport& m_transport;
    STransferStatus m_status;
};
