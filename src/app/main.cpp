// SPDX-License-Identifier: MIT
// tarvex: the desktop control program of the USB EPROM emulator.
#include "app/tarvexapp.h"
#include "pages/messagebox.h"
#include "tarvex_version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QIcon>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <pthread.h>

#include <sys/signalfd.h>
#include <unistd.h>

namespace {

// --help and --version need no display: a QCoreApplication answers them before any window.
[[noreturn]] void AnswerInfoOption(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvex"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARVEX_VERSION));
    QCommandLineParser parser;
    CTarvexApp::AddCommandLineOptions(parser);
    parser.process(app);  // names a wrong option and exits with 1
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (parser.isSet(QStringLiteral("help-all"))) {
        // QApplication takes these from the command line before tarvex sees it.
        const QString strQt = QStringLiteral(
            "\nQt options, taken by the window before the file name:\n"
            "  -platform NAME  The display platform, such as xcb, wayland or offscreen.\n"
            "  -style NAME     The widget style, such as Fusion.\n"
            "  and the other options of QGuiApplication and QApplication (Qt documentation).\n");
        std::fputs(qPrintable(parser.helpText() + strQt), stdout);
        std::exit(0);
    }
    parser.showHelp(0);
}

// SIGTERM, SIGINT and SIGHUP (a logout, kill, Ctrl+C in the terminal) end the program the way
// File > Exit does, so the buffer page's settings are written. Blocked in every thread and read
// from a signalfd in the event loop, so no handler runs at an arbitrary point.
class CEndOnSignal {
public:
    CEndOnSignal()
    {
        sigemptyset(&m_mask);
        for (int sig : {SIGTERM, SIGINT, SIGHUP})
            sigaddset(&m_mask, sig);
        // Before QApplication starts any thread, so that they all inherit the mask.
        if (pthread_sigmask(SIG_BLOCK, &m_mask, &m_oldMask) == 0)
            m_fd = signalfd(-1, &m_mask, SFD_CLOEXEC | SFD_NONBLOCK);
        if (m_fd < 0)
            pthread_sigmask(SIG_SETMASK, &m_oldMask, nullptr);
    }
    ~CEndOnSignal()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    CEndOnSignal(const CEndOnSignal&) = delete;
    CEndOnSignal& operator=(const CEndOnSignal&) = delete;

    // Needs the application object and must go before it; on a signal closes every window and
    // leaves the event loop.
    std::unique_ptr<QSocketNotifier> Watch()
    {
        if (m_fd < 0)
            return nullptr;
        auto pNotifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        QObject::connect(pNotifier.get(), &QSocketNotifier::activated, [this] {
            signalfd_siginfo info{};
            while (read(m_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
                m_bSignalled = true;
            // Whatever box is open (a start-up message, a field check) closes, and none waits
            // for a click while the windows close.
            SetMessageBoxesEnded(true);
            QApplication::closeAllWindows();
            QCoreApplication::quit();
        });
        return pNotifier;
    }
    // A signal that came while a start-up message box was open: quit() had no loop to end.
    bool Signalled() const { return m_bSignalled; }

private:
    sigset_t m_mask{};
    sigset_t m_oldMask{};
    int m_fd = -1;
    bool m_bSignalled = false;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && CTarvexApp::IsInfoOption(QString::fromLocal8Bit(argv[1])))
        AnswerInfoOption(argc, argv);

    CEndOnSignal endOnSignal;
    Q_INIT_RESOURCE(tarvex);
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(TARVEX_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tarvex.png")));
    const std::unique_ptr<QSocketNotifier> pSignalNotifier = endOnSignal.Watch();
    CTarvexApp theApp;
    QStringList args = QApplication::arguments();
    args.removeFirst();
    const bool bStarted = theApp.InitInstance(args);
    if (endOnSignal.Signalled())
        return bStarted ? 0 : 1;
    if (!bStarted)
        return 1;
    return QApplication::exec();
}
