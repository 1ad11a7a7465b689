// The simulated emulator: umockdev fakes the USB device(s), a firmware model answers the commands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

inline constexpr size_t kSimMemorySize = 1048576;
inline constexpr int kSimMaxEmulators = 4;

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

struct SSimOptions {
    int nEmulators = 1;              // 0 (none attached) to 4
    uint16_t nVendor = 0x0547;       // AN2131 EZ-USB, one of the ids Tarvex looks for
    uint16_t nProduct = 0x2131;
    unsigned nUnplugAfter = 0;       // every emulator goes away after this many transfers; 0: never
    unsigned nStallAt = 0;           // transfer number (from 1) that stalls; 0: none
    unsigned nTimeoutAt = 0;         // transfer number that is never answered; 0: none
    unsigned nShortReadAt = 0;       // IN transfer number that delivers only half its bytes; 0: none
    bool bShortReads = false;        // every IN transfer delivers only half its bytes
    uint64_t nThroughput = 0;        // bytes per second; 0: unlimited
    std::string sLogFile;            // transfer log; empty: none
    bool bReversePorts = false;      // emulator i sits on port n - i instead of i + 1
    bool bKernelDriver = false;      // a kernel driver ("usbtest") holds interface 0 until detached
    bool bNoDisconnectClaim = false; // USBDEVFS_DISCONNECT_CLAIM is unknown (ENOTTY), as on old kernels
};

inline constexpr const char* kSimKernelDriver = "usbtest";

// One bulk transfer as the emulator saw it.
struct STransferRecord {
    unsigned nSeq = 0;               // from 1, over all emulators
    int nDevice = 0;
    bool bIn = false;
    std::vector<uint8_t> data;       // the bytes actually moved
    std::string sFault;              // "", "STALL", "TIMEOUT" or "SHORT"
};

// The log line of a transfer: "seq devN OUT|IN length first-16-bytes-hex sha256 [fault]".
std::string FormatTransfer(unsigned seq, int device, bool in, const uint8_t* data, size_t length,
                           const std::string& fault = {});
std::string FormatTransfer(const STransferRecord& record);

// True when this process runs with umockdev's preload library (needed to reach a simulated device).
bool InMockEnvironment();

// Puts umockdev's preload library in front of LD_PRELOAD (and lets an ASan build start behind it)
// for this process's children; does nothing when already there.
void PreloadUmockdev();

// Restarts this program under umockdev's preload library unless it already runs there.
// Returns only when it runs there; exits with status 1 when the restart fails.
void ReexecUnderUmockdev(char** argv);

// A umockdev testbed with the simulated emulators attached. Devices exist from construction until
// destruction or an unplug. The handlers run on umockdev's own thread, so every accessor locks.
class CSimulator {
public:
    explicit CSimulator(const SSimOptions& options);  // throws std::runtime_error
    ~CSimulator();
    CSimulator(const CSimulator&) = delete;
    CSimulator& operator=(const CSimulator&) = delete;

    int EmulatorCount() const;
    // A copy of emulator `device`'s firmware state.
    CSimFirmware Firmware(int device) const;
    void SetMemory(int device, size_t offset, const std::vector<uint8_t>& bytes);
    // The driver bound to interface 0 of emulator `device`: kSimKernelDriver, "usbfs" while a
    // program has it claimed, or "" for none.
    std::string InterfaceDriver(int device) const;
    std::vector<STransferRecord> Transfers() const;
    std::vector<std::string> LogLines() const;
    void ClearLog();
    // Faults can be changed between operations (transfer numbers count from the last ClearLog).
    void SetFaults(unsigned stallAt, unsigned timeoutAt, unsigned shortReadAt, unsigned unplugAfter);

    struct SDevice;

private:
    friend struct SHandlerAccess;
    void RemoveAll();

    mutable std::mutex m_mutex;
    SSimOptions m_options;
    void* m_pTestbed = nullptr;      // UMockdevTestbed*
    std::vector<std::unique_ptr<SDevice>> m_devices;
    std::vector<STransferRecord> m_log;
    unsigned m_nTransfers = 0;
    bool m_bUnplugged = false;
    std::FILE* m_pLogFile = nullptr;
};
