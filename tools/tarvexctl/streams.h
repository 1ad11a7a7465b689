// SPDX-License-Identifier: MIT
// Standard input and output as tarvexctl's FILE and OUT arguments ("-"), and output checks made before a transfer.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tarvexctl {

// An input file by name; "-" is standard input, copied into an anonymous memory file so the
// loaders can read it like any file (a pipe has no size and cannot be read twice).
class CInput {
public:
    // nullopt with `error` set when standard input cannot be read.
    static std::optional<CInput> Open(const std::string& arg, std::string& error);
    CInput(CInput&& other) noexcept;
    CInput& operator=(CInput&& other) noexcept;
    CInput(const CInput&) = delete;
    ~CInput();

    // What the loaders open.
    const std::string& Path() const { return m_path; }
    // What messages call it: the argument, or "standard input".
    const std::string& Name() const { return m_name; }
    // `text` with the loader's path replaced by Name().
    std::string Named(std::string text) const;

private:
    CInput(std::string path, std::string name, int fd) : m_path(std::move(path)), m_name(std::move(name)), m_fd(fd) {}
    std::string m_path;
    std::string m_name;
    int m_fd = -1;
};

// Writes `data` to `path`, or to standard output for "-"; a message naming the cause on failure.
bool WriteOutput(const std::string& path, std::span<const std::uint8_t> data, std::string& error);

// Whether `path` could be written (an existing file we may write, or a new one in a folder we
// may write); "-" always can. Lets a read fail before it moves anything.
bool CheckOutput(const std::string& path, std::string& error);

}  // namespace tarvexctl
