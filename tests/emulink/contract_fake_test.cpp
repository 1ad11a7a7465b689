// SPDX-License-Identifier: MIT
// The transport contract on the recording fake: no USB, no umockdev.
#include "faketransport.h"
#include "transportcontract.h"

namespace {

class CFakeRig : public CTransportRig {
public:
    CEmuTransport& Start(const SRigFaults& f) override
    {
        SFakeFaults faults;
        faults.bAbsent = f.nEmulators == 0;
        faults.bDenyAccess = f.bDenyAccess;
        faults.bBusy = f.bBusy;
        faults.bNoLibusb = f.bNoLibusb;
        faults.bSwapEndpoints = f.bSwapEndpoints;
        faults.nStallAt = f.nStallAt;
        faults.nTimeoutAt = f.nTimeoutAt;
        faults.nShortReadAt = f.nShortReadAt;
        faults.nUnplugDuring = f.nUnplugDuring;
        m_pFake = std::make_unique<CFakeTransport>(faults);
        return *m_pFake;
    }
    CSimFirmware Firmware() const override { return m_pFake->m_firmware; }
    void SetMemory(const std::vector<uint8_t>& bytes) override
    {
        std::copy(bytes.begin(), bytes.end(), m_pFake->m_firmware.m_memory.begin());
    }
    size_t Transfers() const override { return m_pFake->m_transfers.size(); }

private:
    std::unique_ptr<CFakeTransport> m_pFake;
};

}  // namespace

INSTANTIATE_TEST_SUITE_P(Fake, TransportContract,
                         ::testing::Values(SRigMaker{"Fake", [] { return std::make_unique<CFakeRig>(); }}), RigName);

// What the fake records, beyond the contract: the bytes of each transfer, a failed one included.
TEST(FakeTransport, RecordsEveryTransferThatReachedTheEmulator)
{
    SFakeFaults faults;
    faults.nStallAt = 2;
    CFakeTransport fake(faults);
    const uint8_t command[64] = {2, 1};
    EXPECT_TRUE(fake.BulkWrite(command, sizeof command).Ok());
    EXPECT_EQ(fake.BulkWrite(command, sizeof command).eError, ETransferError::kStall);
    ASSERT_EQ(fake.m_transfers.size(), 2u);
    EXPECT_EQ(fake.m_transfers[0].data, std::vector<uint8_t>(command, command + 64));
    EXPECT_FALSE(fake.m_transfers[0].bIn);
    EXPECT_EQ(fake.m_transfers[1].eResult, ETransferError::kStall);
    EXPECT_TRUE(fake.m_transfers[1].data.empty());
    EXPECT_TRUE(fake.m_firmware.m_bRunning);
}
