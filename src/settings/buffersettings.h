// SPDX-License-Identifier: MIT
// The buffer page's persisted fields and their one list of load/save exchanges.
#pragma once

#include <string>

#include "emulink/romtypes.h"

class CIniFile;

// The page members that survive from one run to the next; the names double as INI keys.
struct CBufferPageSettings {
    std::string m_sFileName;
    int m_nFileFormat = 0;
    std::string m_csBufferOffset = "00000000";
    std::string m_csFileOffset = "00000000";
    std::string m_csBufferStart = "00000000";
    std::string m_csBufferStop = "00000000";
    std::string m_csFillValue = "00";
    unsigned m_nRomSize = kDefaultRomSize;
};

// Section of the profile file that holds the page's fields.
inline constexpr const char* kBufferPageSection = "BUFFERPAGE";

// bLoad: read every field (missing ones take their defaults); otherwise write them all.
// Uses the profile file beside the executable.
void ExchangeSettings(bool bLoad, CBufferPageSettings& settings);
// The same over a given store; its current section becomes BUFFERPAGE.
void ExchangeSettings(bool bLoad, CBufferPageSettings& settings, CIniFile& ini);
