// SPDX-License-Identifier: MIT
// Standard output as tarvexctl's OUT argument ("-"), and output checks made before a transfer.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tarvexctl {

// Writes `data` to `path`, or to standard output for "-"; a message naming the cause on failure.
bool WriteOutput(const std::string& path, std::span<const std::uint8_t> data, std::string& error);

// Whether `path` could be written (an existing file we may write, or a new one in a folder we
// may write); "-" always can. Lets a read fail before it moves anything.
bool CheckOutput(const std::string& path, std::string& error);

}  // namespace tarvexctl
