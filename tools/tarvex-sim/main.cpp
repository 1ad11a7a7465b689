// SPDX-License-Identifier: MIT
// tarvex-sim: runs a program against simulated emulators (umockdev), optionally with faults and a transfer log.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "simemulator.h"
#include "tarvex_version.h"

namespace {

constexpr int kUsage = 2;
constexpr uint64_t kFullSpeed = 1000000;  // about what a full-speed bulk pipe carries

const char kHelp[] =
    "Usage: tarvex-sim [options] -- PROGRAM [ARGS...]\n"
    "\n"
    "Runs PROGRAM with simulated Tarvex emulators attached and returns its exit\n"
    "status. As with the kernel, a claim of an emulator belongs to the open device\n"
    "file that made it: others are refused (busy) until it is released, the file is\n"
    "closed or its program ends.\n"
    "\n"
    "Options:\n"
    "  -n, --emulators N     number of emulators attached, 0 to 4 (default 1)\n"
    "      --id VVVV:PPPP    USB vendor and product id they report\n"
    "                        (default 0547:2131)\n"
    "      --log FILE        write every bulk transfer: seq device direction length\n"
    "                        first-bytes sha256 [fault]\n"
    "      --memory FILE     initial contents of every emulator's 1 MiB memory\n"
    "                        (default all FF)\n"
    "      --serial S1[,S2...]\n"
    "                        serial-number strings of emulators 0, 1...\n"
    "                        (default none)\n"
    "      --dump FILE       write emulator 0's memory to FILE when PROGRAM ends;\n"
    "                        a %d in FILE writes every emulator's, %d replaced by\n"
    "                        its number\n"
    "      --unplug-after K  every emulator goes away once PROGRAM has the result of\n"
    "                        the K-th transfer: device files still open answer \"no\n"
    "                        device\", and it is not found or opened again\n"
    "      --unplug-during K the K-th transfer moves half its bytes and ends \"no\n"
    "                        device\"; every emulator goes away with it\n"
    "      --stall K         the K-th transfer stalls\n"
    "      --timeout K       the K-th transfer is never answered\n"
    "      --short-read K    the K-th transfer, if a read, delivers half its bytes\n"
    "      --short-reads     every read delivers half its bytes\n"
    "      --kernel-driver   a kernel driver (usbtest) holds interface 0 until a\n"
    "                        program detaches it\n"
    "      --deny-access     the emulators' device nodes may not be opened, as\n"
    "                        without udev rules; root is refused too\n"
    "      --busy            another program holds the emulators' interface 0\n"
    "      --swap-endpoints  interface 0 lists its bulk-OUT endpoint before its\n"
    "                        bulk-IN endpoint\n"
    "      --full-speed      limit transfers to about 1 MB/s, as full-speed USB\n"
    "      --throughput B    limit transfers to B bytes per second\n"
    "  -h, --help            show this text\n"
    "      --version         show the version\n"
    "\n"
    "Exit status:\n"
    "  PROGRAM's own; 128+N if it was killed by signal N, 127 if it cannot be run,\n"
    "  2 on a usage error, 1 if the simulated emulators cannot be set up.\n";

[[noreturn]] void Usage(const std::string& why)
{
    std::cerr << "tarvex-sim: " << why << "\n" << kHelp;
    std::exit(kUsage);
}

template <typename T>
T Number(std::string_view option, const char* text, int base = 10)
{
    T value{};
    std::string_view s = text ? text : "";
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value, base);
    if (s.empty() || ec != std::errc() || ptr != s.data() + s.size())
        Usage(std::string(option) + " needs a number");
    return value;
}

// The first 1 MiB at most: /dev/zero or a pipe that never ends must not be read to the end.
std::vector<uint8_t> ReadMemoryImage(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::vector<uint8_t> image(kSimMemorySize);
    in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
    if (in.bad())
        throw std::runtime_error("cannot read " + path);
    image.resize(static_cast<size_t>(in.gcount()));
    return image;
}

}  // namespace

int main(int argc, char** argv)
{
    // Answered before the re-exec, so that they work where the preload libraries are missing.
    if (argc >= 2 && (std::string_view(argv[1]) == "-h" || std::string_view(argv[1]) == "--help")) {
        std::cout << kHelp;
        return 0;
    }
    if (argc >= 2 && std::string_view(argv[1]) == "--version") {
        std::cout << "tarvex-sim " << TARVEX_VERSION << "\n";
        return 0;
    }
    // Both this process (umockdev's uevents resolve device paths through its preload library)
    // and the program it runs need umockdev's preload library, and ours in front of it.
    ReexecUnderUmockdev(argv);
    // Termination is passed on to PROGRAM rather than ending us while it runs: we must outlive it
    // to remove the simulated devices and umockdev's temporary folder. Blocked before the
    // simulator starts its threads, so that only the wait below takes these signals.
    sigset_t waited, oldMask;
    sigemptyset(&waited);
    for (int sig : {SIGTERM, SIGHUP, SIGCHLD})
        sigaddset(&waited, sig);
    sigprocmask(SIG_BLOCK, &waited, &oldMask);
    SSimOptions options;
    std::string memoryFile, dumpFile;
    int i = 1;
    for (; i < argc; ++i) {
        std::string_view a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        auto value = [&]() -> const char* {
            if (!next)
                Usage(std::string(a) + " needs a value");
            ++i;
            return next;
        };
        if (a == "--") {
            ++i;
            break;
        } else if (a == "-h" || a == "--help") {
            std::cout << kHelp;
            return 0;
        } else if (a == "--version") {
            std::cout << "tarvex-sim " << TARVEX_VERSION << "\n";
            return 0;
        } else if (a == "-n" || a == "--emulators") {
            options.nEmulators = Number<int>(a, value());
            if (options.nEmulators < 0 || options.nEmulators > kSimMaxEmulators)
                Usage("--emulators takes 0 to 4");
        } else if (a == "--id") {
            std::string_view id = value();
            if (id.size() != 9 || id[4] != ':')
                Usage("--id takes VVVV:PPPP");
            options.nVendor = Number<uint16_t>(a, std::string(id.substr(0, 4)).c_str(), 16);
            options.nProduct = Number<uint16_t>(a, std::string(id.substr(5)).c_str(), 16);
        } else if (a == "--log") {
            options.sLogFile = value();
        } else if (a == "--memory") {
            memoryFile = value();
        } else if (a == "--dump") {
            dumpFile = value();
        } else if (a == "--serial") {
            std::string_view list = value();
            options.serials.clear();
            for (size_t comma; (comma = list.find(',')) != std::string_view::npos; list.remove_prefix(comma + 1))
                options.serials.emplace_back(list.substr(0, comma));
            options.serials.emplace_back(list);
        } else if (a == "--unplug-during") {
            options.nUnplugDuring = Number<unsigned>(a, value());
        } else if (a == "--deny-access") {
            options.bDenyAccess = true;
        } else if (a == "--busy") {
            options.bBusy = true;
        } else if (a == "--swap-endpoints") {
            options.bSwapEndpoints = true;
        } else if (a == "--unplug-after") {
            options.nUnplugAfter = Number<unsigned>(a, value());
        } else if (a == "--stall") {
            options.nStallAt = Number<unsigned>(a, value());
        } else if (a == "--timeout") {
            options.nTimeoutAt = Number<unsigned>(a, value());
        } else if (a == "--short-read") {
            options.nShortReadAt = Number<unsigned>(a, value());
        } else if (a == "--short-reads") {
            options.bShortReads = true;
        } else if (a == "--kernel-driver") {
            options.bKernelDriver = true;
        } else if (a == "--full-speed") {
            options.nThroughput = kFullSpeed;
        } else if (a == "--throughput") {
            options.nThroughput = Number<uint64_t>(a, value());
        } else {
            Usage("unknown option " + std::string(a));
        }
    }
    if (i >= argc)
        Usage("no program to run");

    try {
        CSimulator sim(options);
        if (!memoryFile.empty()) {
            const std::vector<uint8_t> image = ReadMemoryImage(memoryFile);
            for (int d = 0; d < options.nEmulators; ++d)
                sim.SetMemory(d, 0, image);
        }

        // Like system(): the terminal's interrupt goes to the program; we stay to clean up.
        struct sigaction ignore {}, oldInt {}, oldQuit {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGINT, &ignore, &oldInt);
        sigaction(SIGQUIT, &ignore, &oldQuit);

        pid_t pid = fork();
        if (pid < 0)
            throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
        if (pid == 0) {
            sigaction(SIGINT, &oldInt, nullptr);
            sigaction(SIGQUIT, &oldQuit, nullptr);
            sigprocmask(SIG_SETMASK, &oldMask, nullptr);
            execvp(argv[i], argv + i);
            std::fprintf(stderr, "tarvex-sim: cannot run %s: %s\n", argv[i], std::strerror(errno));
            _exit(127);
        }
        int status = 0;
        for (;;) {
            int sig = 0;
            if (sigwait(&waited, &sig) != 0)
                continue;
            if (sig != SIGCHLD)
                kill(pid, sig);
            else if (waitpid(pid, &status, WNOHANG) == pid)
                break;
        }
        // "%d" in the name: one file per emulator; otherwise emulator 0's alone.
        const size_t perEmulator = dumpFile.find("%d");
        for (int d = 0; !dumpFile.empty() && d < (perEmulator == std::string::npos ? 1 : options.nEmulators)
             && d < options.nEmulators;
             ++d) {
            std::string name = dumpFile;
            if (perEmulator != std::string::npos)
                name.replace(perEmulator, 2, std::to_string(d));
            const auto memory = sim.Firmware(d).m_memory;
            std::ofstream out(name, std::ios::binary);
            out.write(reinterpret_cast<const char*>(memory.data()), static_cast<std::streamsize>(memory.size()));
            if (!out)
                std::cerr << "tarvex-sim: cannot write " << name << "\n";
        }
        if (WIFEXITED(status))
            return WEXITSTATUS(status);
        if (WIFSIGNALED(status))
            return 128 + WTERMSIG(status);
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "tarvex-sim: " << e.what() << "\n";
        return 1;
    }
}
