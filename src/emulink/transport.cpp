// SPDX-License-Identifier: MIT
// Transfer statuses in words, and the one message of a failed open.
#include "emulink/transport.h"

#include "tarvex_version.h"

#include <libusb.h>

bool STransferStatus::NotOpened() const
{
    switch (eError) {
    case ETransferError::kNoDevice:
    case ETransferError::kAccessDenied:
    case ETransferError::kBusy:
    case ETransferError::kNoLibusb:
    case ETransferError::kWrongEndpoint:
    case ETransferError::kOpenFailed:
        return true;
    default:
        return false;
    }
}

const char* TransferErrorName(ETransferError error)
{
    switch (error) {
    case ETransferError::kNone: return "ok";
    case ETransferError::kNoDevice: return "no device";
    case ETransferError::kAccessDenied: return "access denied";
    case ETransferError::kBusy: return "busy";
    case ETransferError::kNoLibusb: return "libusb not usable";
    case ETransferError::kWrongEndpoint: return "wrong endpoint";
    case ETransferError::kOpenFailed: return "open failed";
    case ETransferError::kGone: return "device gone";
    case ETransferError::kTimeout: return "time-out";
    case ETransferError::kStall: return "stall";
    case ETransferError::kShort: return "short transfer";
    case ETransferError::kOther: return "USB error";
    }
    return "USB error";
}

namespace {
constexpr const char* kReplug = ": check the target's power, then unplug the emulator and plug it in again.";
}  // namespace

std::string DescribeCause(const STransferStatus& s)
{
    const std::string device = s.sDevice.empty() ? "The emulator" : "The emulator at USB " + s.sDevice;
    const std::string code = s.nLibusbError != 0 ? std::string(" (") + libusb_error_name(s.nLibusbError) + ")" : "";
    switch (s.eError) {
    case ETransferError::kNone:
    case ETransferError::kNoDevice:
        return {};
    case ETransferError::kAccessDenied:
        return device + " may not be opened by this user" + code + ": the udev rules " TARVEX_UDEV_RULES_FILE
               " give the user at the seat access. If that file is there, run " TARVEX_UDEV_RELOAD_HINT
               ", or plug the emulator in again.";
    case ETransferError::kBusy:
        return "busy: another program is using "
            + (s.nInstance >= 0 ? "Ezusb-" + std::to_string(s.nInstance) : std::string("the emulator")) + " ("
            + (s.sDevice.empty() ? std::string() : "USB " + s.sDevice + ", ") + libusb_error_name(s.nLibusbError)
            + "): nothing was sent. Close that program or wait for it to finish, then try again.";
    case ETransferError::kNoLibusb:
        return "USB is not usable: libusb could not start" + code
            + ". Check that /dev/bus/usb and /sys/bus/usb are there.";
    case ETransferError::kWrongEndpoint:
        return (s.sDevice.empty() ? std::string("The device") : "The device at USB " + s.sDevice)
            + " is no emulator Tarvex can drive: pipe 0 must be a bulk IN endpoint and pipe 1 a bulk OUT"
              " endpoint. Check the ids in TARVEX_USB_IDS.";
    case ETransferError::kOpenFailed:
        return device + " could not be opened" + code + ": plug it in again.";
    case ETransferError::kGone:
        return device + " was unplugged during the transfer" + code + ": check the cable and plug it in again.";
    case ETransferError::kTimeout:
        return device + " did not answer in time" + code + kReplug;
    case ETransferError::kStall:
        return device + " stalled the transfer" + code + kReplug;
    case ETransferError::kShort:
        return "Only " + std::to_string(s.nMoved) + " of " + std::to_string(s.nAsked) + " bytes were moved"
            + (s.sDevice.empty() ? std::string() : " (emulator at USB " + s.sDevice + ")") + ".";
    case ETransferError::kOther:
        return device + " reported a USB error" + code + ".";
    }
    return {};
}

std::string WithCause(std::string_view text, const STransferStatus& status)
{
    std::string message(text);
    if (const std::string cause = DescribeCause(status); !cause.empty())
        message += "\n" + cause;
    return message;
}

STransferStatus CEmuTransport::Open()
{
    if (m_nDepth > 0) {
        ++m_nDepth;
        return {};
    }
    STransferStatus status = ClaimDevice();
    if (status.Ok())
        m_nDepth = 1;
    return status;
}

void CEmuTransport::Close()
{
    if (m_nDepth > 0 && --m_nDepth == 0)
        ReleaseDevice();
}

template <typename Move>
STransferStatus CEmuTransport::Transfer(size_t length, Move move)
{
    const CEmuClaim claim(*this);
    if (!claim.Ok()) {
        STransferStatus status = claim.Status();
        status.nAsked = length;
        return status;
    }
    return move();
}

STransferStatus CEmuTransport::BulkWrite(const uint8_t* data, size_t length)
{
    return Transfer(length, [&] { return Write(data, length); });
}

STransferStatus CEmuTransport::BulkRead(uint8_t* data, size_t length)
{
    return Transfer(length, [&] { return Read(data, length); });
}
