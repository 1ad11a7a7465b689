// Standard input through a memory file, standard output written whole, and the output check.
#include "streams.h"

#include "cli.h"

#include <cerrno>
#include <cstring>
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

int WriteAllTo(int fd, const std::uint8_t* data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t put = ::write(fd, data + done, size - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return put < 0 ? errno : EIO;
        done += static_cast<std::size_t>(put);
    }
    return 0;
}

}  // namespace

std::optional<CInput> CInput::Open(const std::string& arg, std::string& error)
{
    if (arg != "-")
        return CInput(arg, arg, -1);
    const int fd = ::memfd_create("tarvexctl-stdin", MFD_CLOEXEC);
    if (fd < 0) {
        error = std::string("cannot keep standard input: ") + std::strerror(errno);
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
            error = std::string("cannot read standard input: ") + std::strerror(errno);
            return std::nullopt;
        }
        if (got == 0)
            break;
        total += static_cast<std::size_t>(got);
        if (total > kMaxStdin) {
            error = "standard input is larger than 256 MiB; give the file by name";
            return std::nullopt;
        }
        if (const int err = WriteAllTo(fd, buffer, static_cast<std::size_t>(got)); err != 0) {
            error = std::string("cannot keep standard input: ") + std::strerror(err);
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
        return WriteFileAtomically(path, data, error);
    if (const int err = WriteAllTo(STDOUT_FILENO, data.data(), data.size()); err != 0) {
        error = std::string("cannot write standard output: ") + std::strerror(err);
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
            error = "cannot write " + path + ": " + std::strerror(EISDIR);
            return false;
        }
        if (::access(path.c_str(), W_OK) != 0) {
            error = "cannot write " + path + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }
    if (errno != ENOENT) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string dir = std::filesystem::path(path).parent_path().string();
    if (dir.empty())
        dir = ".";
    if (::access(dir.c_str(), W_OK | X_OK) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace tarvexctl
