// SPDX-License-Identifier: MIT
// CTarvexDoc: the document of the single-document window; it holds and stores nothing.
#pragma once

#include <QString>

class QWidget;

class CTarvexDoc {
public:
    // Untitled and unnamed again; never fails.
    bool OnNewDocument();
    // Opens the file to make sure it can be read, reads nothing; on failure says why, in a
    // message owned by pOwner.
    bool OnOpenDocument(const QString& strPath, QWidget* pOwner = nullptr);
    // Writes the document, which stores nothing: an empty file. On failure says why.
    bool OnSaveDocument(const QString& strPath, QWidget* pOwner = nullptr);
    void Serialize() {}

    bool IsModified() const { return false; }
    QString GetTitle() const { return m_strTitle; }
    QString GetPathName() const { return m_strPathName; }

private:
    QString m_strTitle = QStringLiteral("Untitled");
    QString m_strPathName;
};

// The standard wording of a file error naming the file.
QString FileErrorMessage(const QString& strPath, int nErrno);
