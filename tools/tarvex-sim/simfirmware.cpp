// SPDX-License-Identifier: MIT
// The simulated emulator's firmware: what it does with the five commands, with no USB around it.
#include "simfirmware.h"

#include <algorithm>

namespace {

constexpr size_t kCommandSize = 64;
constexpr size_t kBlockSize = 32768;

}  // namespace

CSimFirmware::CSimFirmware() : m_memory(kSimMemorySize, 0xFF) {}

void CSimFirmware::Out(const uint8_t* data, size_t length)
{
    if (m_eState == EState::kReceiveData) {
        std::copy_n(data, std::min(length, kBlockSize), m_memory.begin() + static_cast<ptrdiff_t>(m_nBlockOffset));
        m_eState = EState::kIdle;
        return;
    }
    m_eState = EState::kIdle;
    if (length != kCommandSize)
        return;  // not a command block: the firmware ignores it
    // The block index wraps at the memory's end, as 20 address lines would.
    const size_t offset = static_cast<size_t>(data[1]) * kBlockSize % kSimMemorySize;
    switch (data[0]) {
    case 0: m_eState = EState::kReceiveData; m_nBlockOffset = offset; break;
    case 1: m_eState = EState::kSendData; m_nBlockOffset = offset; break;
    case 2: m_bRunning = data[1] != 0; break;
    case 3: m_nMask = data[1]; break;
    case 4: ++m_nResets; break;
    default: break;
    }
}

size_t CSimFirmware::In(uint8_t* data, size_t length)
{
    if (m_eState != EState::kSendData)
        return 0;
    size_t n = std::min(length, kBlockSize);
    std::copy_n(m_memory.begin() + static_cast<ptrdiff_t>(m_nBlockOffset), n, data);
    m_eState = EState::kIdle;
    return n;
}
