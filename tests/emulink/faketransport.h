// SPDX-License-Identifier: MIT
// A recording stand-in for the USB transport: the simulated emulator's firmware behind it, and
// faults by transfer number, so the protocol can be tested without umockdev.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "emulink/transport.h"
#include "simfirmware.h"

struct SFakeFaults {
    bool bAbsent = false;        // no emulator attached
    bool bDenyAccess = false;
    bool bBusy = false;
    bool bNoLibusb = false;
    bool bSwapEndpoints = false;
    // Transfer numbers from 1, counted over the transfers that reach the emulator; 0: none.
    unsigned nStallAt = 0;
    unsigned nTimeoutAt = 0;
    unsigned nShortReadAt = 0;   // a read that delivers half its bytes
    unsigned nUnplugDuring = 0;  // the emulator goes away during this transfer
};

struct SFakeTransfer {
    bool bIn = false;
    size_t nAsked = 0;
    std::vector<uint8_t> data;  // the bytes that moved
    ETransferError eResult = ETransferError::kNone;
};

class CFakeTransport : public CEmuTransport {
public:
    explicit CFakeTransport(const SFakeFaults& faults = {}) : m_faults(faults) {}

    SFakeFaults m_faults;
    CSimFirmware m_firmware;
    std::vector<SFakeTransfer> m_transfers;  // every transfer that reached the emulator
    std::string m_sPortPath = "1-1";
    unsigned m_nOpens = 0;                   // times the emulator was opened and claimed

protected:
    STransferStatus ClaimDevice() override;
    void ReleaseDevice() override {}
    STransferStatus Write(const uint8_t* data, size_t length) override;
    STransferStatus Read(uint8_t* data, size_t length) override;

private:
    STransferStatus Transfer(bool in, uint8_t* data, size_t length);
};
