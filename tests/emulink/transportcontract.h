// SPDX-License-Identifier: MIT
// The transport contract's fixture: each test binary instantiates it with the rigs it can run.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "transportrig.h"
#include "transporttest.h"

class TransportContract : public ::testing::TestWithParam<SRigMaker> {
protected:
    CEmuTransport& Start(const SRigFaults& faults = {});
    void TearDown() override;

    CCountingSink m_sink;
    std::unique_ptr<CTransportRig> m_pRig;
    int m_owner = 0;  // its address stands in for the page that owns the messages
};

inline std::string RigName(const ::testing::TestParamInfo<SRigMaker>& info) { return info.param.sName; }
