// SPDX-License-Identifier: MIT
// File helpers shared by the settings store and tarvexctl: a descriptor owner, errno texts and
// the one writer that replaces a file without ever leaving it half-written or losing it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace util {

// Owns one file descriptor; closes it when it goes.
class CUniqueFd {
public:
    explicit CUniqueFd(int fd = -1) noexcept : m_fd(fd) {}
    CUniqueFd(CUniqueFd&& other) noexcept : m_fd(other.Release()) {}
    CUniqueFd& operator=(CUniqueFd&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    CUniqueFd(const CUniqueFd&) = delete;
    CUniqueFd& operator=(const CUniqueFd&) = delete;
    ~CUniqueFd() { Close(); }

    int Get() const noexcept { return m_fd; }
    bool Valid() const noexcept { return m_fd >= 0; }
    void Reset(int fd = -1) noexcept;
    int Release() noexcept
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    // Closes now; returns 0, or the errno of a failed close (a late write error on some file
    // systems).
    int Close() noexcept;

private:
    int m_fd;
};

// The system's text for an errno value ("Permission denied"), safe from any thread.
std::string ErrnoText(int err);

// Writes all of data at the descriptor's position; returns 0 or the errno of the failure.
int WriteAll(int fd, const void* data, std::size_t size);

// Shared lock of a regular file for a reader, waiting a bounded time for a writer to finish.
// Best effort: a file that cannot be locked is read anyway.
void LockForReading(int fd);

struct FileWriteOptions {
    // The current content is larger than this: the file is not touched. The new content would
    // be: the write is refused, so that we never make a file our own reader turns away.
    std::size_t nMaxSize = SIZE_MAX;
    // Hand the current content to the editor (the file must then be readable as well).
    bool bReadCurrent = false;
    // Devices, FIFOs and terminals (/dev/stdout) are written directly when set, refused when not.
    bool bWriteSpecialFiles = false;
    // Write the file in place when the folder refuses a temporary file, when the file has more
    // names than one (replacing would split the hard link) or when a replacement could not get
    // the file's owner back. Without it those cases fail or split the link.
    bool bInPlaceFallback = false;
};

// Gets the new content from `edit`, given the current content (empty for a new file), and puts
// it at `path`. Symbolic links are followed and stay links; a dangling link gets its target
// created. A regular file is replaced by a temporary file in its folder and a rename, so readers
// see the old content or the new, never a part; the temporary file has no name until it is
// complete (O_TMPFILE) or a fixed one the next writer takes over, so a crash leaves none behind
// for good. The writer holds an exclusive lock on the file from its read to its replacement, so
// two programs saving at once both end in a whole file: the one that ends last wins. An existing
// file the user may not write is refused. `edit` returns false to refuse, having set `error`.
// On failure returns false with `error` naming the file and the cause; the file is unchanged.
bool UpdateFile(const std::string& path, const FileWriteOptions& options,
                const std::function<bool(std::string& content, std::string& error)>& edit,
                std::string& error);

// tarvexctl's output files: data goes to path as UpdateFile does, devices and FIFOs are written
// directly, hard links are split as a fresh file would split them.
bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> data,
                         std::string& error);

} // namespace util
