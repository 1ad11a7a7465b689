// SPDX-License-Identifier: MIT
// --then and the cycle report of `tarvexctl watch`.
#include "watchreport.h"

#include "cli.h"

#include "emulink/emuprotocol.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace tarvexctl {

SThen ParseThen(const std::optional<std::string>& text)
{
    if (!text)
        return {};
    if (*text == "none")
        return {false, false, false};
    SThen then{false, false, false};
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text->find(',', start);
        const std::string item = text->substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (item == "stop")
            then.bStop = true;
        else if (item == "run")
            then.bRun = true;
        else if (item == "reset")
            then.bReset = true;
        else
            throw UsageError("--then takes stop, run and reset separated by commas, or none; not '" + item + "'");
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return then;
}

namespace {

// Local time with milliseconds: "%H:%M:%S.mmm" (text) or "%Y-%m-%dT%H:%M:%S.mmm%z" (JSON).
std::string FormatTime(std::chrono::system_clock::time_point when, bool bIso)
{
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
    std::tm tm{};
    ::localtime_r(&t, &tm);
    char head[32], zone[8] = "";
    std::strftime(head, sizeof head, bIso ? "%Y-%m-%dT%H:%M:%S" : "%H:%M:%S", &tm);
    if (bIso)
        std::strftime(zone, sizeof zone, "%z", &tm);
    char out[48];
    std::snprintf(out, sizeof out, "%s.%03d%s", head, static_cast<int>(ms < 0 ? ms + 1000 : ms), zone);
    return out;
}

std::string Hex8(std::uint32_t v)
{
    char s[9];
    std::snprintf(s, sizeof s, "%08x", v);
    return s;
}

std::string JoinBlocks(const std::vector<std::uint32_t>& blocks, const char* empty)
{
    if (blocks.empty())
        return empty;
    std::string s;
    for (std::uint32_t b : blocks) {
        if (!s.empty())
            s += ',';
        s += std::to_string(b);
    }
    return s;
}

}  // namespace

std::string FormatCycleText(const SCycleReport& report)
{
    std::string blocks;
    for (const auto& side : report.blocks) {
        if (!blocks.empty())
            blocks += '|';
        blocks += JoinBlocks(side, "-");
    }
    return FormatTime(report.when, false) + (report.bFull ? " full" : "") + " blocks " + blocks + " bytes " +
           std::to_string(report.nBytes) + " crc32 " + Hex8(report.nCrc) + " " + std::to_string(report.nMillis) +
           " ms";
}

std::string FormatCycleJson(const SCycleReport& report)
{
    std::string blocks;
    if (report.blocks.size() == 1) {
        blocks.assign(1, '[').append(JoinBlocks(report.blocks.front(), "")).append(1, ']');
    } else {
        for (const auto& side : report.blocks)
            blocks.append(1, blocks.empty() ? '[' : ',').append(1, '[').append(JoinBlocks(side, "")).append(1, ']');
        blocks += blocks.empty() ? "[]" : "]";
    }
    return "{\"time\":\"" + FormatTime(report.when, true) + "\",\"full\":" + (report.bFull ? "true" : "false") +
           ",\"blocks\":" + blocks + ",\"bytes\":" + std::to_string(report.nBytes) + ",\"crc32\":\"" +
           Hex8(report.nCrc) + "\",\"ms\":" + std::to_string(report.nMillis) + "}";
}

}  // namespace tarvexctl
