// SPDX-License-Identifier: MIT
// Shared by the emulator link's tests: a message sink that counts, and readable transfer errors.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "session/messagesink.h"
#include "emulink/transport.h"

struct SMessage {
    void* pOwner;
    std::string sText;
};

class CCountingSink : public CMessageSink {
public:
    void ShowMessage(void* owner, const std::string& text) override { m_messages.push_back({owner, text}); }
    size_t Count(const std::string& text) const
    {
        size_t n = 0;
        for (const auto& m : m_messages)
            n += m.sText == text ? 1 : 0;
        return n;
    }
    std::vector<SMessage> m_messages;
};

inline void PrintTo(ETransferError error, std::ostream* os) { *os << TransferErrorName(error); }
