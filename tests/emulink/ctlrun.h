// SPDX-License-Identifier: MIT
// Running tarvexctl under tarvex-sim in the background, and the transfer log lines the tests expect.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../tools/process.h"
#include "simemulator.h"

namespace ctltest {

using namespace std::chrono_literals;

constexpr size_t kBlock = 32768;
// Bounds failures only: the machine is slow and shared.
constexpr auto kDeadline = 20s;

inline std::vector<std::string> Lines(const std::filesystem::path& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

inline bool WaitFor(const std::function<bool()>& done)
{
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return done();
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// `tarvex-sim SIMARGS --log LOG -- tarvexctl watch ARGS` running in the background.
class CWatchRun {
public:
    CWatchRun(const TempDir& dir, const std::vector<std::string>& simArgs, const std::vector<std::string>& watchArgs,
              bool bPoll = false)
        : m_out(dir / "watch.out"), m_err(dir / "watch.err"), m_log(dir / "transfers.log")
    {
        std::vector<std::string> argv{TARVEX_SIM_PATH};
        argv.insert(argv.end(), simArgs.begin(), simArgs.end());
        argv.insert(argv.end(), {"--log", m_log, "--", TARVEXCTL_PATH, "watch"});
        argv.insert(argv.end(), watchArgs.begin(), watchArgs.end());
        std::vector<char*> args;
        for (std::string& a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            // A group of its own, as a terminal's job: Ctrl+C reaches the whole group.
            ::setpgid(0, 0);
            if (bPoll)
                ::setenv("TARVEXCTL_WATCH_POLL", "1", 1);
            const int in = ::open("/dev/null", O_RDONLY);
            const int out = ::open(m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int err = ::open(m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(in, 0);
            ::dup2(out, 1);
            ::dup2(err, 2);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
    }
    ~CWatchRun()
    {
        if (m_pid > 0 && !m_bEnded) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    std::vector<std::string> Out() const { return Lines(m_out); }
    std::string Err() const { return ReadFile(m_err); }
    std::vector<std::string> Log() const { return Lines(m_log); }
    bool OutLines(size_t n) const
    {
        return WaitFor([&] { return Out().size() >= n || Ended(); }) && Out().size() >= n;
    }

    // The exit code once it ended by itself or after `sig`; -1 when it did not end in time.
    int End(int sig = 0)
    {
        // SIGINT as the terminal sends it, to the group (tarvex-sim ignores it, as system() does);
        // other signals to tarvex-sim, which passes them on.
        if (sig != 0 && !m_bEnded)
            ::kill(sig == SIGINT ? -m_pid : m_pid, sig);
        WaitFor([&] { return Ended(); });
        if (!m_bEnded)
            return -1;
        return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : 128 + WTERMSIG(m_status);
    }

private:
    bool Ended() const
    {
        if (!m_bEnded && ::waitpid(m_pid, &m_status, WNOHANG) == m_pid)
            m_bEnded = true;
        return m_bEnded;
    }

    std::filesystem::path m_out, m_err, m_log;
    pid_t m_pid = -1;
    mutable bool m_bEnded = false;
    mutable int m_status = 0;
};

inline std::string Cmd(unsigned seq, uint8_t opcode, uint8_t parameter, int device = 0)
{
    uint8_t block[64] = {opcode, parameter};
    return FormatTransfer(seq, device, false, block, sizeof block);
}

inline std::vector<uint8_t> Pattern(size_t n, uint8_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(seed + i * 31 + (i >> 11));
    return v;
}

inline std::string Bytes(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

// `data` (a multiple of 16 bytes) as Intel HEX from address 0, with type-04 records past 64 KiB,
// with or without its end record.
inline std::string IntelHexOf(const std::vector<uint8_t>& data, bool bEnd = true)
{
    std::string text;
    char line[64];
    for (size_t a = 0; a < data.size(); a += 16) {
        if (a % 65536 == 0 && a > 0) {
            const unsigned upper = static_cast<unsigned>(a >> 16);
            std::snprintf(line, sizeof line, ":02000004%04X%02X\n", upper,
                          (0x100 - ((2 + 4 + (upper >> 8) + (upper & 0xFF)) & 0xFF)) & 0xFF);
            text += line;
        }
        unsigned sum = 16 + ((a >> 8) & 0xFF) + (a & 0xFF);
        std::snprintf(line, sizeof line, ":10%04X00", static_cast<unsigned>(a & 0xFFFF));
        text += line;
        for (size_t i = 0; i < 16; ++i) {
            std::snprintf(line, sizeof line, "%02X", data[a + i]);
            text += line;
            sum += data[a + i];
        }
        std::snprintf(line, sizeof line, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
        text += line;
    }
    return bEnd ? text + ":00000001FF\n" : text;
}

// The log of one cycle from transfer `seq` on: stop, each block's command and data, run, reset.
inline std::vector<std::string> CycleLog(unsigned seq, const std::vector<uint8_t>& image, const std::vector<uint32_t>& blocks,
                                  bool bThen = true)
{
    std::vector<std::string> log;
    if (blocks.empty())
        return log;
    if (bThen)
        log.push_back(Cmd(seq++, 2, 0));
    for (uint32_t b : blocks) {
        log.push_back(Cmd(seq++, 0, static_cast<uint8_t>(b)));
        log.push_back(FormatTransfer(seq++, 0, false, image.data() + b * kBlock, kBlock));
    }
    if (bThen) {
        log.push_back(Cmd(seq++, 2, 1));
        log.push_back(Cmd(seq++, 4, 0));
    }
    return log;
}

}  // namespace ctltest
