// SPDX-License-Identifier: MIT
// The program's one message function and its test hook.
#include "pages/messagebox.h"

#include <QMessageBox>

namespace {
// The innermost hook; only the UI thread shows messages.
CMessageBoxHook*& CurrentHook()
{
    static CMessageBoxHook* s_pHook = nullptr;
    return s_pHook;
}
} // namespace

CMessageBoxHook::CMessageBoxHook(Handler handler)
    : m_handler(std::move(handler)), m_pPrevious(CurrentHook())
{
    CurrentHook() = this;
}

CMessageBoxHook::~CMessageBoxHook()
{
    CurrentHook() = m_pPrevious;
}

void TarvexMessageBox(QWidget* owner, const QString& text)
{
    if (CMessageBoxHook* pHook = CurrentHook()) {
        // Call through a copy: the handler may end the hook's life.
        auto handler = pHook->m_handler;
        handler(owner, text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Tarvex"), text, QMessageBox::Ok, owner);
    box.exec();
}

void CMessageBoxSink::ShowMessage(void* owner, const std::string& text)
{
    TarvexMessageBox(static_cast<QWidget*>(owner), QString::fromStdString(text));
}
