// SPDX-License-Identifier: MIT
// The simulated emulator: umockdev fakes the USB device(s), a firmware model answers the commands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "simfirmware.h"

inline constexpr int kSimMaxEmulators = 4;

struct SSimOptions {
    int nEmulators = 1;              // 0 (none attached) to 4
    uint16_t nVendor = 0x0547;       // AN2131 EZ-USB, one of the ids Tarvex looks for
    uint16_t nProduct = 0x2131;
    unsigned nUnplugAfter = 0;       // every emulator goes away once this transfer is reaped; 0: never
    unsigned nStallAt = 0;           // transfer number (from 1) that stalls; 0: none
    unsigned nTimeoutAt = 0;         // transfer number that is never answered; 0: none
    unsigned nShortReadAt = 0;       // IN transfer number that delivers only half its bytes; 0: none
    bool bShortReads = false;        // every IN transfer delivers only half its bytes
    uint64_t nThroughput = 0;        // bytes per second; 0: unlimited
    std::string sLogFile;            // transfer log; empty: none
    bool bReversePorts = false;      // emulator i sits on port n - i instead of i + 1
    bool bKernelDriver = false;      // a kernel driver ("usbtest") holds interface 0 until detached
    bool bNoDisconnectClaim = false; // USBDEVFS_DISCONNECT_CLAIM is unknown (ENOTTY), as on old kernels
    unsigned nUnplugDuring = 0;      // transfer number that moves half its bytes, then every emulator goes
    bool bDenyAccess = false;        // the device nodes may not be opened, not even by root
    bool bBusy = false;              // a program outside the simulation holds interface 0 through usbfs
    bool bSwapEndpoints = false;     // interface 0 lists its bulk-OUT endpoint first
    std::vector<std::string> serials; // serial-number string of emulator i; none when absent or empty
};

inline constexpr const char* kSimKernelDriver = "usbtest";

// One bulk transfer as the emulator saw it.
struct STransferRecord {
    unsigned nSeq = 0;               // from 1, over all emulators
    int nDevice = 0;
    bool bIn = false;
    std::vector<uint8_t> data;       // the bytes actually moved
    std::string sFault;              // "", "STALL", "TIMEOUT", "SHORT" or "UNPLUG"
};

// The log line of a transfer: "seq devN OUT|IN length first-16-bytes-hex sha256 [fault]".
std::string FormatTransfer(unsigned seq, int device, bool in, const uint8_t* data, size_t length,
                           const std::string& fault = {});
std::string FormatTransfer(const STransferRecord& record);

// True when this process runs with umockdev's preload library and ours in front of it (needed to
// reach a simulated device).
bool InMockEnvironment();

// Puts our preload library and umockdev's in front of LD_PRELOAD (and lets an ASan build start
// behind them) for this process's children; does nothing when already there. False when our
// preload library cannot be found.
bool PreloadUmockdev();

// Restarts this program under the preload libraries unless it already runs there.
// Returns only when it runs there; exits with status 1 when the restart fails.
void ReexecUnderUmockdev(char** argv);

// A umockdev testbed with the simulated emulators attached. Devices exist from construction until
// destruction or an unplug. The handlers run on umockdev's own thread, so every accessor locks.
// Each open of a device file is a file of its own, as in the kernel: a claim of interface 0
// belongs to the file that made it and ends with its release or with the file's close.
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
    // URBs submitted and not yet reaped, over every emulator and open file.
    size_t UrbsHeld() const;
    std::vector<STransferRecord> Transfers() const;
    std::vector<std::string> LogLines() const;
    void ClearLog();
    // Faults can be changed between operations (transfer numbers count from the last ClearLog).
    void SetFaults(unsigned stallAt, unsigned timeoutAt, unsigned shortReadAt, unsigned unplugAfter);
    // "BUS-PORT" of emulator `device` as libusb names it, e.g. "1-2".
    std::string PortPath(int device) const;

    struct SDevice;
    struct SCore;

private:
    friend struct SHandlerAccess;
    void RemoveAll();
    void Unplug();

    std::shared_ptr<SCore> m_pCore;  // the model's mutex, shared with umockdev's thread
    SSimOptions m_options;
    void* m_pTestbed = nullptr;      // UMockdevTestbed*
    std::vector<std::unique_ptr<SDevice>> m_devices;
    std::vector<STransferRecord> m_log;
    unsigned m_nTransfers = 0;
    bool m_bUnplugged = false;
    std::FILE* m_pLogFile = nullptr;
};
