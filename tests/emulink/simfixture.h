// SPDX-License-Identifier: MIT
// Shared fixture: a simulated emulator, a transport on it with short time-outs, and a counting message sink.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "session/messagesink.h"
#include "emulink/usbtransport.h"
#include "simemulator.h"
#include "transporttest.h"

class SimTest : public ::testing::Test {
protected:
    // Time-outs short enough for tests; the simulator answers at once unless told not to.
    static constexpr std::chrono::milliseconds kTestTimeout{250};

    void Start(SSimOptions options = {})
    {
        m_pTransport.reset();
        m_pSim.reset();
        m_pSim = std::make_unique<CSimulator>(options);
        m_pTransport = std::make_unique<CUsbTransport>(std::vector<SUsbId>{{0x0547, 0x2131}}, kTestTimeout);
    }
    void TearDown() override
    {
        m_pTransport.reset();
        m_pSim.reset();
    }
    static SSimOptions Emulators(int n)
    {
        SSimOptions o;
        o.nEmulators = n;
        return o;
    }

    CCountingSink m_sink;
    std::unique_ptr<CSimulator> m_pSim;
    std::unique_ptr<CUsbTransport> m_pTransport;
    int m_owner = 0;  // its address stands in for the page that owns the messages
};
