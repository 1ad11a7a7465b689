// SPDX-License-Identifier: MIT
// Waits for a file to change, whichever way an editor or a linker writes it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tarvexctl {

// Watches the file's folder with inotify, filtered by the file's name, so that a rename over the
// file and a delete-and-create are seen as well as writes in place. When the file is a symbolic
// link, the folder of the file it points to is watched too. Where inotify cannot be used (or when
// asked), it polls the size, modification time and inode of the file (behind any link) instead.
class CFileWatch {
public:
    using Clock = std::chrono::steady_clock;
    enum class EMode { kInotify, kPoll };
    enum class EEvent {
        kChanged,     // the file changed and has settled; load it
        kGone,        // the file is gone and nothing has replaced it yet; keep waiting
        kStopped,     // the stop descriptor became readable
        kTimedOut,    // the deadline passed without a change
        kFolderGone,  // the file's folder went away and did not come back in time
    };

    struct STiming {
        // Polling: a change ends after this long without another.
        std::chrono::milliseconds quiet{50};
        // How often the fallback looks at the file.
        std::chrono::milliseconds pollInterval{100};
        // inotify: a close after writing or a rename into place ends a change at once; writes that
        // are not closed (a writer pausing between pieces) end it only after this long without another.
        std::chrono::milliseconds openQuiet{2000};
        // How long a folder that went away (make clean) may take to come back.
        std::chrono::milliseconds folderGrace{10000};
    };

    // `warn` gets notes for standard error (the watch fell back to polling, ...).
    CFileWatch(std::string path, bool bForcePoll, STiming timing, std::function<void(const std::string&)> warn);
    CFileWatch(const CFileWatch&) = delete;
    CFileWatch& operator=(const CFileWatch&) = delete;
    ~CFileWatch();

    EMode Mode() const { return m_mode; }

    // Blocks until the file has changed and settled, until `stopFd` is readable (-1: none), or
    // until `deadline` (if given). On kChanged and kGone `firstSign` is when the change was first
    // noticed.
    EEvent Wait(int stopFd, Clock::time_point& firstSign, std::optional<Clock::time_point> deadline = std::nullopt);

private:
    struct SSignature {
        bool bExists = false;
        std::uint64_t nDev = 0, nIno = 0, nSize = 0;
        std::int64_t nMtime = 0;  // nanoseconds; the change time is left out, as chmod sets it
        bool operator==(const SSignature&) const = default;
    };
    SSignature Look() const;
    void StartPolling(const std::string& why);
    // Reads what inotify has queued; true when one of the events ends a change at once.
    bool DrainEvents(bool& bActivity);
    // Watches the folder of the file a symbolic link points to, or stops when it is no link any more.
    void FollowLink();
    EEvent WaitInotify(int stopFd, Clock::time_point& firstSign);
    EEvent WaitPoll(int stopFd, Clock::time_point& firstSign);
    EEvent Settled();
    // The folder went away: waits for it to come back (then watches it again) within the grace time.
    EEvent FolderGone(int stopFd, Clock::time_point& firstSign);
    bool FolderExists() const;
    // Milliseconds until the deadline for poll(); -1 without one.
    int Left(int timeout) const;

    std::string m_path;
    std::string m_dir;
    std::string m_name;
    STiming m_timing;
    std::function<void(const std::string&)> m_warn;
    EMode m_mode = EMode::kPoll;
    int m_fd = -1;
    int m_wdDir = -1;         // the watch on the path's own folder
    int m_wdLink = -1;        // the watch on a link target's folder; -1: none
    std::string m_linkDir;    // that folder and the target's name in it
    std::string m_linkName;
    SSignature m_last;  // what the file looked like after the last change
    std::optional<Clock::time_point> m_deadline;  // of the current Wait
    bool m_bFolderGone = false;  // inotify said the folder went away
};

}  // namespace tarvexctl
