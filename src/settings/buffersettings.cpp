// SPDX-License-Identifier: MIT
// The buffer page's settings exchange: one list of calls for loading and saving.
#include "settings/buffersettings.h"

#include "settings/inifile.h"

void ExchangeSettings(bool bLoad, CBufferPageSettings& settings)
{
    CIniFile ini(true);
    ExchangeSettings(bLoad, settings, ini);
}

void ExchangeSettings(bool bLoad, CBufferPageSettings& s, CIniFile& ini)
{
    ini.SetSection(kBufferPageSection);
    ini.ExchangeString(bLoad, s.m_sFileName, "m_sFileName", nullptr, "");
    ini.ExchangeInt(bLoad, s.m_nFileFormat, "m_nFileFormat", nullptr, 0);
    ini.ExchangeString(bLoad, s.m_csBufferOffset, "m_csBufferOffset", nullptr, "00000000");
    ini.ExchangeString(bLoad, s.m_csFileOffset, "m_csFileOffset", nullptr, "00000000");
    ini.ExchangeString(bLoad, s.m_csBufferStart, "m_csBufferStart", nullptr, "00000000");
    ini.ExchangeString(bLoad, s.m_csBufferStop, "m_csBufferStop", nullptr, "00000000");
    ini.ExchangeString(bLoad, s.m_csFillValue, "m_csFillValue", nullptr, "00");
    ini.ExchangeInt(bLoad, s.m_nRomSize, "m_nRomSize", nullptr, kDefaultRomSize);
}
