// SPDX-License-Identifier: MIT
// What the transport's contract tests run on: an emulator with faults and a transport to reach it,
// either the recording fake or the simulator under the real USB transport.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "emulink/transport.h"
#include "simfirmware.h"

struct SRigFaults {
    int nEmulators = 1;
    bool bDenyAccess = false;
    bool bBusy = false;
    bool bNoLibusb = false;
    bool bSwapEndpoints = false;
    unsigned nStallAt = 0;       // transfer numbers from 1; 0: none
    unsigned nTimeoutAt = 0;
    unsigned nShortReadAt = 0;
    unsigned nUnplugDuring = 0;
};

class CTransportRig {
public:
    virtual ~CTransportRig() = default;
    // A fresh emulator (the first at USB port 1-1) and a transport to it.
    virtual CEmuTransport& Start(const SRigFaults& faults) = 0;
    virtual CSimFirmware Firmware() const = 0;
    virtual void SetMemory(const std::vector<uint8_t>& bytes) = 0;
    // Bulk transfers that reached the emulator, the failed ones included.
    virtual size_t Transfers() const = 0;
};

struct SRigMaker {
    std::string sName;
    std::function<std::unique_ptr<CTransportRig>()> make;
};

inline void PrintTo(const SRigMaker& maker, std::ostream* os) { *os << maker.sName; }
