// SPDX-License-Identifier: MIT
// One cycle of keeping emulators in step with a rebuilt image: only the blocks that changed,
// between a stop and a run and reset.
#pragma once

#include "session/blocksync.h"
#include "session/romsession.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The commands sent around the changed blocks: stop before them, run and then reset after them.
struct SThen {
    bool bStop = true;
    bool bRun = true;
    bool bReset = true;
};

struct SCycleResult {
    EEmuResult eResult = EEmuResult::kOk;         // how the cycle's transfers ended
    bool bSame = true;                            // the read-back found every block as sent
    bool bInterrupted = false;                    // stopped between two blocks
    bool bFull = false;                           // every emulator's contents were unknown: all blocks
    std::vector<std::vector<std::uint32_t>> blocks;  // per emulator: the blocks to send
    int nSide = -1;                               // the emulator where it stopped or failed
    std::size_t nSent = 0;                        // blocks of that emulator sent before it
    bool bInBlocks = false;                       // it stopped or failed among the blocks
    std::string mismatch;                         // where the read-back differed, in words
};

// One emulator, or the two of a 16-bit pair (image bytes 2k on the first, 2k + 1 on the second).
class CWatchCycle {
public:
    CWatchCycle(std::vector<CRomSession*> sides, SThen then, bool bVerify);

    // Brings every emulator to `image`: stop, each one's changed blocks, their read-back, run,
    // reset, with every emulator held for the whole cycle. `stop` is asked before each block; true
    // ends the cycle there. A cycle that changes no block sends nothing. After anything but
    // success the emulators' contents count as unknown, so the next cycle sends everything.
    SCycleResult Run(const CRomImage& image, const std::function<bool()>& stop);
    // The next cycle sends every block.
    void Forget();

private:
    bool Each(const std::function<EEmuResult(CRomSession&)>& step, SCycleResult& result);

    std::vector<CRomSession*> m_sides;
    std::vector<CBlockSync> m_sync;
    SThen m_then;
    bool m_bVerify;
};
