// SPDX-License-Identifier: MIT
// The simulated emulator's firmware: what it does with the five commands, with no USB around it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr size_t kSimMemorySize = 1048576;

// The emulator's behaviour for its five commands, as far as the host can see it.
class CSimFirmware {
public:
    CSimFirmware();

    // A bulk-OUT transfer: a 64-byte command block, or the data block a write command announced.
    void Out(const uint8_t* data, size_t length);
    // Whether a bulk-IN transfer has data waiting (a read command came before it).
    bool HasInData() const { return m_eState == EState::kSendData; }
    // A bulk-IN transfer of up to `length` bytes; returns how many were produced.
    size_t In(uint8_t* data, size_t length);

    std::vector<uint8_t> m_memory;
    uint8_t m_nMask = 0;
    bool m_bRunning = false;
    unsigned m_nResets = 0;

private:
    enum class EState { kIdle, kReceiveData, kSendData };
    EState m_eState = EState::kIdle;
    size_t m_nBlockOffset = 0;
};
