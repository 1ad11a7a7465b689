// SPDX-License-Identifier: MIT
// Shared helpers of the application tests: recorded messages, a temporary folder, the simulator.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QTemporaryDir>
#include <QWidget>

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "pages/messagebox.h"
#include "pages/bufferpage.h"
#include "simemulator.h"

// Records every message instead of showing a box.
class CMessageLog {
public:
    CMessageLog()
        : m_hook([this](QWidget* pOwner, const QString& text) { m_messages.push_back({pOwner, text}); })
    {
    }
    struct SEntry {
        QWidget* pOwner;
        QString text;
    };
    int Count() const { return int(m_messages.size()); }
    int Count(const QString& text) const
    {
        int n = 0;
        for (const auto& m : m_messages)
            n += m.text == text ? 1 : 0;
        return n;
    }
    QString Last() const { return m_messages.empty() ? QString() : m_messages.back().text; }
    std::vector<SEntry> m_messages;

private:
    CMessageBoxHook m_hook;
};

inline const QString kNoDriver = QStringLiteral("Could not find Driver! \nPlease Check the connection");

// A folder that goes with its test.
class CTestDir {
public:
    std::string Path(const char* name) const { return (m_dir.path() + QLatin1Char('/') + QLatin1String(name)).toStdString(); }
    void Write(const char* name, const std::string& content) const
    {
        std::ofstream(Path(name), std::ios::binary) << content;
    }
    std::string Read(const char* name) const
    {
        std::ifstream in(Path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    QTemporaryDir m_dir;
};

// A frame stand-in for the pages: a ROM size, a Run flag, a transport and a settings file.
class CFakeFrame : public CFrameLink {
public:
    std::uint32_t CurRomSize() const override { return m_nCurRomSize; }
    void EnableRun() override { ++m_nRunEnabled; }
    CUsbTransport* Transport() override { return m_pTransport; }
    std::string SettingsPath() const override { return m_strSettings; }

    std::uint32_t m_nCurRomSize = 8192;
    int m_nRunEnabled = 0;
    CUsbTransport* m_pTransport = nullptr;
    std::string m_strSettings;
};

// The command blocks (opcode, parameter) among the simulator's OUT transfers, in order.
inline std::vector<std::pair<int, int>> Commands(const CSimulator& sim)
{
    std::vector<std::pair<int, int>> commands;
    for (const STransferRecord& r : sim.Transfers())
        if (!r.bIn && r.data.size() == 64)
            commands.emplace_back(r.data[0], r.data[1]);
    return commands;
}

inline SSimOptions SimEmulators(int n)
{
    SSimOptions o;
    o.nEmulators = n;
    return o;
}
