// SPDX-License-Identifier: MIT
// The shared file writer: link resolution, locking, temporary files and the in-place fallback.
#include "util/fileutil.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <string_view>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace util {

void CUniqueFd::Reset(int fd) noexcept
{
    Close();
    m_fd = fd;
}

int CUniqueFd::Close() noexcept
{
    const int fd = Release();
    if (fd < 0 || ::close(fd) == 0)
        return 0;
    // EINTR: Linux has closed the descriptor anyway; there is nothing to retry.
    return errno == EINTR ? 0 : errno;
}

namespace {

// strerror_r comes in two shapes (GNU returns the text, XSI fills the buffer); take either.
[[maybe_unused]] const char* ErrorTextOf(int rc, const char* buf)
{
    return rc == 0 ? buf : nullptr;
}
[[maybe_unused]] const char* ErrorTextOf(const char* text, const char*)
{
    return text;
}

} // namespace

std::string ErrnoText(int err)
{
    char buf[256] = {};
    const char* text = ErrorTextOf(::strerror_r(err, buf, sizeof buf), buf);
    if (!text || !*text)
        return "error " + std::to_string(err);
    return text;
}

int WriteAll(int fd, const void* data, std::size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

namespace {

// Takes the lock, polling so that a program that keeps the file locked cannot hang us. A file
// system without locks counts as locked: saving unlocked beats not saving.
bool Lock(int fd, int operation, std::chrono::milliseconds patience)
{
    const auto deadline = std::chrono::steady_clock::now() + patience;
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        if (::flock(fd, operation | LOCK_NB) == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
}

int PwriteAll(int fd, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::pwrite(fd, data.data() + done, data.size() - done,
                                   static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// Reads the whole file from its start; more than `limit` bytes give EFBIG.
int ReadWhole(int fd, std::size_t limit, std::string& out)
{
    out.clear();
    char chunk[8192];
    for (;;) {
        const ssize_t n = ::pread(fd, chunk, sizeof chunk, static_cast<off_t>(out.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return 0;
        if (static_cast<std::size_t>(n) > limit - out.size())
            return EFBIG;
        out.append(chunk, static_cast<std::size_t>(n));
    }
}

std::string DirOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links to the name that holds (or is to hold) the data; a dangling link gives
// the missing name it points to. Returns 0 or an errno.
int ResolveLinks(std::string path, std::string& target)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            if (errno != ENOENT)
                return errno;
            target = path;
            return 0;
        }
        if (!S_ISLNK(st.st_mode)) {
            target = path;
            return 0;
        }
        std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
        if (n < 0)
            return errno;
        if (static_cast<std::size_t>(n) >= link.size())
            continue; // the link changed under us; read it again
        link.resize(static_cast<std::size_t>(n));
        if (link.empty())
            return ENOENT;
        path = link.front() == '/' ? link : DirOf(path) + "/" + link;
    }
    return ELOOP;
}

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A failed write must leave no trace. Returns the errno to report.
struct Failure {
    int err = 0;
    std::string cause; // instead of the errno's text
};

class CWriter {
public:
    CWriter(std::string target, const FileWriteOptions& options)
        : m_target(std::move(target)), m_options(options), m_dir(DirOf(m_target)),
          m_temp(m_dir + "/." + BaseOf(m_target) + ".tmp")
    {
    }

    std::optional<Failure> Run(const std::function<bool(std::string&, std::string&)>& edit);

private:
    std::optional<Failure> OpenLocked();
    std::optional<Failure> Replace(const std::string& content, bool& bInPlace);
    std::optional<Failure> WriteInPlace(const std::string& content);
    void ForgetCreated();

    std::string m_target;
    const FileWriteOptions& m_options;
    std::string m_dir;
    std::string m_temp; // the one fixed temporary name of this file
    CUniqueFd m_fd;     // the target, locked
    struct stat m_st {};
    bool m_bCreated = false;
};

std::optional<Failure> CWriter::OpenLocked()
{
    const int access = m_options.bReadCurrent ? O_RDWR : O_WRONLY;
    for (int attempt = 0; attempt < 50; ++attempt) {
        m_fd.Reset(::open(m_target.c_str(), access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        m_bCreated = m_fd.Valid();
        if (!m_fd.Valid()) {
            if (errno != EEXIST)
                return Failure{errno, {}};
            // O_NONBLOCK: a FIFO put here since we looked must not hang us.
            m_fd.Reset(::open(m_target.c_str(),
                              access | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
            if (!m_fd.Valid()) {
                if (errno == ENOENT)
                    continue; // removed since: create it
                return Failure{errno, {}};
            }
        }
        if (::fstat(m_fd.Get(), &m_st) != 0)
            return Failure{errno, {}};
        if (!S_ISREG(m_st.st_mode))
            return Failure{0, "not a regular file"};
        if (!Lock(m_fd.Get(), LOCK_EX, std::chrono::seconds(5)))
            return Failure{0, "another program keeps it locked; try again"};
        // Another writer may have replaced the file while we waited for its lock; then ours is
        // the old one, and the new one is what we must read and replace.
        struct stat now {};
        if (::stat(m_target.c_str(), &now) == 0 && SameFile(now, m_st))
            return std::nullopt;
        m_bCreated = false;
    }
    return Failure{0, "it keeps being replaced by another program"};
}

void CWriter::ForgetCreated()
{
    // Only the empty file we created ourselves, and only while it is still the one at the name.
    struct stat now {};
    if (m_bCreated && ::stat(m_target.c_str(), &now) == 0 && SameFile(now, m_st) && now.st_size == 0)
        ::unlink(m_target.c_str());
}

std::optional<Failure> CWriter::Run(const std::function<bool(std::string&, std::string&)>& edit)
{
    if (auto failure = OpenLocked())
        return failure;
    std::string content;
    if (m_options.bReadCurrent) {
        if (static_cast<std::uint64_t>(m_st.st_size) > m_options.nMaxSize)
            return Failure{0, "it is larger than " + std::to_string(m_options.nMaxSize)
                                  + " bytes and is left alone"};
        if (const int err = ReadWhole(m_fd.Get(), m_options.nMaxSize, content)) {
            if (err == EFBIG)
                return Failure{0, "it grew past " + std::to_string(m_options.nMaxSize)
                                      + " bytes and is left alone"};
            return Failure{err, {}};
        }
    }
    std::string cause;
    if (!edit(content, cause)) {
        ForgetCreated();
        return Failure{0, cause};
    }
    if (content.size() > m_options.nMaxSize) {
        ForgetCreated();
        return Failure{0, "it would grow past " + std::to_string(m_options.nMaxSize) + " bytes"};
    }

    // More than one name: replacing the file would leave the other names with the old content.
    bool bInPlace = m_options.bInPlaceFallback && m_st.st_nlink > 1;
    if (!bInPlace) {
        if (auto failure = Replace(content, bInPlace)) {
            ForgetCreated();
            return failure;
        }
    }
    if (bInPlace)
        return WriteInPlace(content);
    return std::nullopt;
}

std::optional<Failure> CWriter::Replace(const std::string& content, bool& bInPlace)
{
    const auto folderRefuses = [&](int err) {
        if (m_options.bInPlaceFallback && (err == EACCES || err == EPERM)) {
            bInPlace = true; // the file may be written although its folder may not
            return true;
        }
        return false;
    };
    // First a file without a name, linked in only when complete, then a named one for file
    // systems without O_TMPFILE. The name is fixed, so a writer that dies leaves one file at
    // most, and the next writer (holding the lock) takes it over.
    for (const bool anonymous : {true, false}) {
        CUniqueFd temp;
        if (anonymous) {
            temp.Reset(::open(m_dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
            if (!temp.Valid()) {
                if (folderRefuses(errno))
                    return std::nullopt;
                continue; // no O_TMPFILE here: try a name
            }
        } else {
            if (::unlink(m_temp.c_str()) != 0 && errno != ENOENT && !folderRefuses(errno))
                return Failure{errno, {}};
            if (bInPlace)
                return std::nullopt;
            temp.Reset(::open(m_temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                              0666));
            if (!temp.Valid()) {
                if (folderRefuses(errno))
                    return std::nullopt;
                return Failure{errno, {}};
            }
        }
        const auto discard = [&] {
            temp.Close();
            if (!anonymous)
                ::unlink(m_temp.c_str());
        };
        if (const int err = WriteAll(temp.Get(), content.data(), content.size())) {
            discard();
            return Failure{err, {}};
        }
        if (!m_bCreated) {
            if ((m_st.st_uid != ::geteuid() || m_st.st_gid != ::getegid())
                && ::fchown(temp.Get(), m_st.st_uid, m_st.st_gid) != 0
                && m_options.bInPlaceFallback) {
                // Only the owner (or root) may hand a file back to its owner; writing in place
                // keeps owner, group and any ACL as they are.
                discard();
                bInPlace = true;
                return std::nullopt;
            }
            if (::fchmod(temp.Get(), m_st.st_mode & 07777) != 0) {
                const int err = errno;
                discard();
                return Failure{err, {}};
            }
        }
        if (::fsync(temp.Get()) != 0) {
            const int err = errno;
            discard();
            return Failure{err, {}};
        }
        if (anonymous) {
            if (::unlink(m_temp.c_str()) != 0 && errno != ENOENT)
                return Failure{errno, {}};
            const std::string self = "/proc/self/fd/" + std::to_string(temp.Get());
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, m_temp.c_str(), AT_SYMLINK_FOLLOW) != 0)
                continue; // no /proc: the named way
        }
        temp.Close(); // fsync'ed already: a late close error tells nothing more
        if (::rename(m_temp.c_str(), m_target.c_str()) != 0) {
            const int err = errno;
            ::unlink(m_temp.c_str());
            return Failure{err, {}};
        }
        CUniqueFd dir(::open(m_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir.Valid())
            (void)::fsync(dir.Get()); // the rename is done; a folder that cannot sync is no failure
        return std::nullopt;
    }
    return Failure{ENOTSUP, {}};
}

std::optional<Failure> CWriter::WriteInPlace(const std::string& content)
{
    // New bytes over the old first, then the cut: the file is never shorter than either.
    if (const int err = PwriteAll(m_fd.Get(), content))
        return Failure{err, {}};
    if (::ftruncate(m_fd.Get(), static_cast<off_t>(content.size())) != 0)
        return Failure{errno, {}};
    if (::fsync(m_fd.Get()) != 0)
        return Failure{errno, {}};
    return std::nullopt;
}

} // namespace

void LockForReading(int fd)
{
    (void)Lock(fd, LOCK_SH, std::chrono::seconds(2));
}

bool UpdateFile(const std::string& path, const FileWriteOptions& options,
                const std::function<bool(std::string& content, std::string& error)>& edit,
                std::string& error)
{
    const auto fail = [&](const Failure& f) {
        error = "cannot write " + path + ": " + (f.cause.empty() ? ErrnoText(f.err) : f.cause);
        return false;
    };
    std::string target;
    if (const int err = ResolveLinks(path, target))
        return fail({err, {}});

    struct stat st {};
    if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (S_ISDIR(st.st_mode))
            return fail({EISDIR, {}});
        if (!options.bWriteSpecialFiles)
            return fail({0, "not a regular file"});
        std::string content;
        std::string cause;
        if (!edit(content, cause))
            return fail({0, cause});
        CUniqueFd fd(::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
        if (!fd.Valid())
            return fail({errno, {}});
        int err = WriteAll(fd.Get(), content.data(), content.size());
        if (const int closeErr = fd.Close(); err == 0)
            err = closeErr;
        return err == 0 || fail({err, {}});
    }

    CWriter writer(target, options);
    if (auto failure = writer.Run(edit))
        return fail(*failure);
    return true;
}

bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> data,
                         std::string& error)
{
    FileWriteOptions options;
    options.bWriteSpecialFiles = true;
    return UpdateFile(path, options,
                      [&](std::string& content, std::string&) {
                          content.assign(reinterpret_cast<const char*>(data.data()), data.size());
                          return true;
                      },
                      error);
}

} // namespace util
