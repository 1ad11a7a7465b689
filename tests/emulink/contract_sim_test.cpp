// SPDX-License-Identifier: MIT
// The transport contract on the real USB transport, reaching the simulated emulator through umockdev.
#include <libusb.h>

#include "emulink/usbtransport.h"
#include "simemulator.h"
#include "transportcontract.h"

namespace {

class CSimRig : public CTransportRig {
public:
    ~CSimRig() override { Stop(); }
    CEmuTransport& Start(const SRigFaults& f) override
    {
        Stop();
        SSimOptions o;
        o.nEmulators = f.nEmulators;
        o.bDenyAccess = f.bDenyAccess;
        o.bBusy = f.bBusy;
        o.bSwapEndpoints = f.bSwapEndpoints;
        o.nStallAt = f.nStallAt;
        o.nTimeoutAt = f.nTimeoutAt;
        o.nShortReadAt = f.nShortReadAt;
        o.nUnplugDuring = f.nUnplugDuring;
        m_pSim = std::make_unique<CSimulator>(o);
        const CUsbTransport::InitFn failing = [](libusb_context**) { return static_cast<int>(LIBUSB_ERROR_OTHER); };
        m_pTransport = std::make_unique<CUsbTransport>(std::vector<SUsbId>{{0x0547, 0x2131}},
                                                       std::chrono::milliseconds(250), f.bNoLibusb ? failing : nullptr);
        return *m_pTransport;
    }
    CSimFirmware Firmware() const override { return m_pSim->Firmware(0); }
    void SetMemory(const std::vector<uint8_t>& bytes) override { m_pSim->SetMemory(0, 0, bytes); }
    size_t Transfers() const override { return m_pSim->Transfers().size(); }

private:
    void Stop()
    {
        m_pTransport.reset();
        m_pSim.reset();
    }
    std::unique_ptr<CSimulator> m_pSim;
    std::unique_ptr<CUsbTransport> m_pTransport;
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(Sim, TransportContract,
                         ::testing::Values(SRigMaker{"Sim", [] { return std::make_unique<CSimRig>(); }}), RigName);
