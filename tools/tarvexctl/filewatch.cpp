// SPDX-License-Identifier: MIT
// The file watch: inotify on the file's folder, or polling where that is not to be had.
#include "filewatch.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvexctl {
namespace {

// Events on the folder that can mean the file changed. Attribute changes alone (chmod, touch
// without writing) are no new image.
constexpr uint32_t kFolderMask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_MODIFY | IN_DELETE | IN_MOVED_FROM |
                                 IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

int Millis(CFileWatch::Clock::duration d)
{
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(d).count();
    return ms < 0 ? 0 : static_cast<int>(ms);
}

void SplitPath(const std::string& path, std::string& dir, std::string& name)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        dir.assign(1, '.');  // not = ".": GCC 12 at -O3 warns of an overlap that is not there
        name = path;
    } else {
        dir = slash == 0 ? "/" : path.substr(0, slash);
        name = path.substr(slash + 1);
    }
}

// Waits up to `timeoutMs` (-1: for ever) for `stopFd` or `fd` (-1: not waited on) to be readable.
// Returns 's' for the stop descriptor, 'f' for fd, 't' for the time-out, 'e' for an error.
char PollTwo(int stopFd, int fd, int timeoutMs)
{
    pollfd fds[2];
    nfds_t n = 0;
    if (stopFd >= 0)
        fds[n++] = {stopFd, POLLIN, 0};
    if (fd >= 0)
        fds[n++] = {fd, POLLIN, 0};
    for (;;) {
        const int r = ::poll(fds, n, timeoutMs);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return 'e';
        if (r == 0)
            return 't';
        if (stopFd >= 0 && fds[0].revents != 0)
            return 's';
        return 'f';
    }
}

}  // namespace

CFileWatch::CFileWatch(std::string path, bool bForcePoll, STiming timing, std::function<void(const std::string&)> warn)
    : m_path(std::move(path)), m_timing(timing), m_warn(std::move(warn))
{
    SplitPath(m_path, m_dir, m_name);
    m_last = Look();
    if (bForcePoll) {
        StartPolling("");
        return;
    }
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) {
        StartPolling(std::string("inotify is not available (") + std::strerror(errno) + ")");
        return;
    }
    m_wdDir = ::inotify_add_watch(m_fd, m_dir.c_str(), kFolderMask);
    if (m_wdDir < 0) {
        StartPolling("cannot watch the folder " + m_dir + " (" + std::strerror(errno) + ")");
        return;
    }
    m_mode = EMode::kInotify;
    FollowLink();
}

void CFileWatch::FollowLink()
{
    std::string dir, name;
    struct stat st {};
    if (::lstat(m_path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(m_path.c_str(), nullptr)) {
            SplitPath(real, dir, name);
            std::free(real);
        }
    }
    if (dir == m_linkDir && name == m_linkName)
        return;
    // The same folder twice is one watch: only a watch of its own may go.
    if (m_wdLink >= 0 && m_wdLink != m_wdDir)
        ::inotify_rm_watch(m_fd, m_wdLink);
    m_wdLink = -1;
    m_linkDir = dir;
    m_linkName = name;
    if (!dir.empty())
        m_wdLink = ::inotify_add_watch(m_fd, dir.c_str(), kFolderMask);
}

CFileWatch::~CFileWatch()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void CFileWatch::StartPolling(const std::string& why)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_wdDir = m_wdLink = -1;
    m_mode = EMode::kPoll;
    if (!why.empty() && m_warn)
        m_warn(why + "; looking at " + m_path + " every " + std::to_string(m_timing.pollInterval.count()) +
               " ms instead");
}

CFileWatch::SSignature CFileWatch::Look() const
{
    SSignature s;
    struct stat st {};
    if (::stat(m_path.c_str(), &st) != 0)
        return s;
    s.bExists = true;
    s.nDev = st.st_dev;
    s.nIno = st.st_ino;
    s.nSize = static_cast<std::uint64_t>(st.st_size);
    s.nMtime = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return s;
}

CFileWatch::EEvent CFileWatch::Settled()
{
    if (m_mode == EMode::kInotify)
        FollowLink();  // the link may point elsewhere now
    m_last = Look();
    return m_last.bExists ? EEvent::kChanged : EEvent::kGone;
}

CFileWatch::EEvent CFileWatch::Wait(int stopFd, Clock::time_point& firstSign, std::optional<Clock::time_point> deadline)
{
    m_deadline = deadline;
    return m_mode == EMode::kInotify ? WaitInotify(stopFd, firstSign) : WaitPoll(stopFd, firstSign);
}

int CFileWatch::Left(int timeout) const
{
    if (!m_deadline)
        return timeout;
    const int left = Millis(*m_deadline - Clock::now());
    return timeout < 0 ? left : std::min(left, timeout);
}

bool CFileWatch::FolderExists() const
{
    struct stat st {};
    return ::stat(m_dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

CFileWatch::EEvent CFileWatch::FolderGone(int stopFd, Clock::time_point& firstSign)
{
    const auto since = Clock::now();
    firstSign = since;
    if (m_warn)
        m_warn("the folder " + m_dir + " was moved or removed; waiting " +
               std::to_string(m_timing.folderGrace.count() / 1000) + " s for it to come back");
    while (!FolderExists()) {
        if (Clock::now() - since >= m_timing.folderGrace)
            return EEvent::kFolderGone;
        if (PollTwo(stopFd, -1, static_cast<int>(m_timing.pollInterval.count())) == 's')
            return EEvent::kStopped;
    }
    if (m_mode == EMode::kInotify) {
        if (m_wdLink == m_wdDir)
            m_wdLink = -1;
        m_wdDir = ::inotify_add_watch(m_fd, m_dir.c_str(), kFolderMask);
        if (m_wdDir < 0)
            StartPolling("cannot watch the folder " + m_dir + " (" + std::strerror(errno) + ")");
    }
    return Settled();
}

bool CFileWatch::DrainEvents(bool& bActivity)
{
    bool bAtOnce = false;
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
            inotify_event ev;
            std::memcpy(&ev, buffer + at, sizeof ev);
            const char* name = buffer + at + sizeof(inotify_event);
            at += static_cast<ssize_t>(sizeof(inotify_event) + ev.len);
            if (ev.mask & IN_Q_OVERFLOW) {
                // Events were lost: the file may have changed.
                bActivity = true;
            } else if (ev.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                if (ev.wd == m_wdDir) {
                    // The folder itself went away or moved: its watch no longer stands for the path.
                    if (ev.mask & IN_IGNORED)
                        m_wdDir = -1;
                    m_bFolderGone = true;
                    return bAtOnce;
                }
                if (ev.wd == m_wdLink) {
                    // The link target's folder went; the next settle looks for the link's target again.
                    bActivity = true;
                    m_wdLink = -1;
                    m_linkDir.clear();
                    m_linkName.clear();
                }
            } else if (ev.len > 0 && ((ev.wd == m_wdDir && m_name == name) ||
                                      (ev.wd == m_wdLink && m_wdLink >= 0 && m_linkName == name))) {
                if (ev.mask & (IN_CLOSE_WRITE | IN_MOVED_TO))
                    bAtOnce = true;
                else
                    bActivity = true;
            }
        }
    }
    return bAtOnce;
}

CFileWatch::EEvent CFileWatch::WaitInotify(int stopFd, Clock::time_point& firstSign)
{
    bool bPending = false;
    Clock::time_point lastActivity{};
    for (;;) {
        int timeout = -1;
        if (bPending) {
            const auto left = lastActivity + m_timing.openQuiet - Clock::now();
            if (left <= Clock::duration::zero())
                return Settled();
            timeout = Millis(left);
        }
        timeout = Left(timeout);
        const char woke = PollTwo(stopFd, m_fd, timeout);
        if (woke == 's')
            return EEvent::kStopped;
        if (woke == 't' && !bPending && m_deadline && Clock::now() >= *m_deadline)
            return EEvent::kTimedOut;
        if (woke == 'e') {
            StartPolling(std::string("waiting on inotify failed (") + std::strerror(errno) + ")");
            return WaitPoll(stopFd, firstSign);
        }
        if (woke != 'f')
            continue;
        bool bActivity = false;
        const bool bAtOnce = DrainEvents(bActivity);
        if (bActivity || bAtOnce) {
            const auto now = Clock::now();
            if (!bPending)
                firstSign = now;
            bPending = true;
            lastActivity = now;
        }
        if (bAtOnce)
            return Settled();
        if (m_bFolderGone) {
            m_bFolderGone = false;
            if (m_wdDir >= 0)
                ::inotify_rm_watch(m_fd, m_wdDir);
            m_wdDir = -1;
            return FolderGone(stopFd, firstSign);
        }
        if (m_mode == EMode::kPoll) {
            // Fell back while a change was under way: let polling see it settle.
            m_last = SSignature{};
            m_last.nSize = ~std::uint64_t{0};  // differs from anything Look() returns
            return WaitPoll(stopFd, firstSign);
        }
    }
}

CFileWatch::EEvent CFileWatch::WaitPoll(int stopFd, Clock::time_point& firstSign)
{
    bool bPending = false;
    SSignature seen = m_last;
    Clock::time_point lastActivity{};
    for (;;) {
        const auto wait = bPending ? m_timing.quiet : m_timing.pollInterval;
        const char woke = PollTwo(stopFd, -1, Left(static_cast<int>(wait.count())));
        if (woke == 's')
            return EEvent::kStopped;
        if (!bPending && m_deadline && Clock::now() >= *m_deadline)
            return EEvent::kTimedOut;
        if (!FolderExists())
            return FolderGone(stopFd, firstSign);
        const SSignature now = Look();
        const auto at = Clock::now();
        if (!(now == seen)) {
            if (!bPending)
                firstSign = at;
            bPending = true;
            seen = now;
            lastActivity = at;
            continue;
        }
        if (bPending && at - lastActivity >= m_timing.quiet)
            return Settled();
    }
}

}  // namespace tarvexctl
