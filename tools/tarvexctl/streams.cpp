// SPDX-License-Identifier: MIT
// Standard output written whole, and the output check.
#include "streams.h"

#include "cli.h"

#include "util/fileutil.h"

#include <cerrno>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvexctl {

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
