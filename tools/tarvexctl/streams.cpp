// SPDX-License-Identifier: MIT
// Standard input through a memory file, standard output written whole, and the output check.
#include "streams.h"

#include "cli.h"

#include "util/fileutil.h"

#include <cerrno>
#include <filesystem>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvexctl {
namespace {

// Standard input beyond this is refused: no ROM image file comes near it (a dense 1 MiB Intel
// HEX file is some 3 MB), and the copy lives in memory.
constexpr std::size_t kMaxStdin = 256u << 20;

}  // namespace

std::optional<CInput> CInput::Open(const std::string& arg, std::string& error)
{
    if (arg != "-")
        return CInput(arg, arg, -1);
    const int fd = ::memfd_create("tarvexctl-stdin", MFD_CLOEXEC);
    if (fd < 0) {
        error = std::string("cannot keep standard input: ") + util::ErrnoText(errno);
        return std::nullopt;
    }
    CInput input("/proc/self/fd/" + std::to_string(fd), "standard input", fd);
    std::uint8_t buffer[65536];
    std::size_t total = 0;
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = std::string("cannot read standard input: ") + util::ErrnoText(errno);
            return std::nullopt;
        }
        if (got == 0)
            break;
        total += static_cast<std::size_t>(got);
        if (total > kMaxStdin) {
            error = "standard input is larger than 256 MiB; give the file by name";
            return std::nullopt;
        }
        if (const int err = util::WriteAll(fd, buffer, static_cast<std::size_t>(got)); err != 0) {
            error = std::string("cannot keep standard input: ") + util::ErrnoText(err);
            return std::nullopt;
        }
    }
    return input;
}

CInput::CInput(CInput&& other) noexcept
    : m_path(std::move(other.m_path)), m_name(std::move(other.m_name)), m_fd(other.m_fd)
{
    other.m_fd = -1;
}

CInput& CInput::operator=(CInput&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_path = std::move(other.m_path);
        m_name = std::move(other.m_name);
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

CInput::~CInput()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::string CInput::Named(std::string text) const
{
    if (m_path == m_name)
        return text;
    for (std::size_t at = text.find(m_path); at != std::string::npos; at = text.find(m_path, at + m_name.size()))
        text.replace(at, m_path.size(), m_name);
    return text;
}

bool WriteOutput(const std::string& path, std::span<const std::uint8_t> data, std::string& error)
{
    if (path != "-")
        return util::WriteFileAtomically(path, data, error);
    if (const int err = util::WriteAll(STDOUT_FILENO, data.data(), data.size()); err != 0) {
        error = std::string("cannot write standard output: ") + util::ErrnoText(err);
        return false;
    }
    return true;
}

bool CheckOutput(const std::string& path, std::string& error)
{
    if (path == "-")
        return true;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            error = "cannot write " + path + ": " + util::ErrnoText(EISDIR);
            return false;
        }
        if (::access(path.c_str(), W_OK) != 0) {
            error = "cannot write " + path + ": " + util::ErrnoText(errno);
            return false;
        }
        return true;
    }
    if (errno != ENOENT) {
        error = "cannot write " + path + ": " + util::ErrnoText(errno);
        return false;
    }
    std::string dir = std::filesystem::path(path).parent_path().string();
    if (dir.empty())
        dir.assign(1, '.');  // not = ".": GCC 12 at -O3 warns of an overlap that is not there
    if (::access(dir.c_str(), W_OK | X_OK) != 0) {
        error = "cannot write " + path + ": " + util::ErrnoText(errno);
        return false;
    }
    return true;
}

}  // namespace tarvexctl
