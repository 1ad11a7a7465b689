// SPDX-License-Identifier: MIT
// The empty document: open checks the file, save writes zero bytes.
#include "app/tarvexdoc.h"

#include "pages/messagebox.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

QString FileErrorMessage(const QString& strPath, int nErrno)
{
    switch (nErrno) {
    case ENOENT:
        return QStringLiteral("\"%1\" was not found.").arg(strPath);
    case EACCES:
    case EPERM:
        return QStringLiteral("Access to \"%1\" was denied.").arg(strPath);
    case EISDIR:
        return QStringLiteral("\"%1\" is a folder, not a file.").arg(strPath);
    default:
        return QStringLiteral("An unexpected error occurred while accessing \"%1\".").arg(strPath);
    }
}

bool CTarvexDoc::OnNewDocument()
{
    m_strTitle = QStringLiteral("Untitled");
    m_strPathName.clear();
    return true;
}

bool CTarvexDoc::OnOpenDocument(const QString& strPath, QWidget* pOwner)
{
    const QByteArray path = QFile::encodeName(strPath);
    // Non-blocking: opening a FIFO for reading would otherwise wait for a writer forever.
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    int nError = fd < 0 ? errno : 0;
    if (fd >= 0) {
        // A folder opens read-only on Linux but is no document.
        if (QFileInfo(strPath).isDir())
            nError = EISDIR;
        ::close(fd);
    }
    if (nError != 0) {
        TarvexMessageBox(pOwner, FileErrorMessage(strPath, nError));
        return false;
    }
    m_strPathName = QFileInfo(strPath).absoluteFilePath();
    m_strTitle = QFileInfo(strPath).fileName();
    return true;
}

bool CTarvexDoc::OnSaveDocument(const QString& strPath, QWidget* pOwner)
{
    const QByteArray path = QFile::encodeName(strPath);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        TarvexMessageBox(pOwner, FileErrorMessage(strPath, errno));
        return false;
    }
    ::close(fd);
    m_strPathName = QFileInfo(strPath).absoluteFilePath();
    m_strTitle = QFileInfo(strPath).fileName();
    return true;
}
