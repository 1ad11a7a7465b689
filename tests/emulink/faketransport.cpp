// SPDX-License-Identifier: MIT
// A recording stand-in for the USB transport, answering as libusb does for each fault.
#include "faketransport.h"

#include <libusb.h>

#include <algorithm>

STransferStatus CFakeTransport::Write(const uint8_t* data, size_t length)
{
    // The fake only reads an OUT buffer, as libusb does.
    return Transfer(false, const_cast<uint8_t*>(data), length);
}

STransferStatus CFakeTransport::Read(uint8_t* data, size_t length) { return Transfer(true, data, length); }

STransferStatus CFakeTransport::ClaimDevice()
{
    STransferStatus s;
    auto refuse = [&s](ETransferError error, int libusbError, const std::string& device, int instance) {
        s.eError = error;
        s.nLibusbError = libusbError;
        s.sDevice = device;
        s.nInstance = instance;
        return s;
    };
    if (m_faults.bNoLibusb)
        return refuse(ETransferError::kNoLibusb, LIBUSB_ERROR_OTHER, {}, -1);
    if (m_faults.bAbsent)
        return refuse(ETransferError::kNoDevice, 0, {}, -1);
    if (m_faults.bSwapEndpoints)
        return refuse(ETransferError::kWrongEndpoint, 0, m_sPortPath, 0);
    if (m_faults.bDenyAccess)
        return refuse(ETransferError::kAccessDenied, LIBUSB_ERROR_ACCESS, m_sPortPath, 0);
    if (m_faults.bBusy)
        return refuse(ETransferError::kBusy, LIBUSB_ERROR_BUSY, m_sPortPath, 0);
    ++m_nOpens;
    s.sDevice = m_sPortPath;
    return s;
}

STransferStatus CFakeTransport::Transfer(bool in, uint8_t* data, size_t length)
{
    STransferStatus s;
    s.nAsked = length;
    s.sDevice = m_sPortPath;
    if (m_faults.bAbsent) {
        // Unplugged while the emulator was held: every transfer after it finds it gone.
        s.eError = ETransferError::kGone;
        s.nLibusbError = LIBUSB_ERROR_NO_DEVICE;
        return s;
    }
    const unsigned seq = static_cast<unsigned>(m_transfers.size()) + 1;
    SFakeTransfer record;
    record.bIn = in;
    record.nAsked = length;
    if (seq == m_faults.nStallAt) {
        s.eError = ETransferError::kStall;
        s.nLibusbError = LIBUSB_ERROR_PIPE;
    } else if (seq == m_faults.nTimeoutAt || (in && !m_firmware.HasInData())) {
        s.eError = ETransferError::kTimeout;
        s.nLibusbError = LIBUSB_ERROR_TIMEOUT;
    } else if (seq == m_faults.nUnplugDuring) {
        // Half the bytes leave, none is counted as moved (libusb does not count a cut transfer).
        const size_t half = length / 2;
        if (in)
            record.data.assign(data, data + m_firmware.In(data, half));
        else {
            m_firmware.Out(data, half);
            record.data.assign(data, data + half);
        }
        s.eError = ETransferError::kGone;
        s.nLibusbError = LIBUSB_ERROR_NO_DEVICE;
        m_faults.bAbsent = true;
    } else if (in) {
        const size_t want = seq == m_faults.nShortReadAt ? length / 2 : length;
        s.nMoved = m_firmware.In(data, want);
        record.data.assign(data, data + s.nMoved);
        if (s.nMoved < length)
            s.eError = ETransferError::kShort;
    } else {
        m_firmware.Out(data, length);
        s.nMoved = length;
        record.data.assign(data, data + length);
    }
    record.eResult = s.eError;
    m_transfers.push_back(std::move(record));
    return s;
}
