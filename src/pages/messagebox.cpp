// SPDX-License-Identifier: MIT
// The program's one message function and its test hook.
#include "pages/messagebox.h"

#include <QMessageBox>

#include <algorithm>
#include <vector>

namespace {
// The innermost hook; only the UI thread shows messages.
CMessageBoxHook*& CurrentHook()
{
    static CMessageBoxHook* s_pHook = nullptr;
    return s_pHook;
}
// The boxes open now, innermost last; only the UI thread shows them.
std::vector<QMessageBox*>& OpenBoxes()
{
    static std::vector<QMessageBox*> s_boxes;
    return s_boxes;
}

bool& Ended()
{
    static bool s_bEnded = false;
    return s_bEnded;
}

// Runs the box, unless the program is ending; the button pressed, or NoButton.
QMessageBox::StandardButton Run(QWidget* owner, const QString& text, QMessageBox::StandardButtons buttons)
{
    if (Ended())
        return QMessageBox::NoButton;
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Tarvex"), text, buttons, owner);
    OpenBoxes().push_back(&box);
    const int nResult = box.exec();
    auto& boxes = OpenBoxes();
    boxes.erase(std::remove(boxes.begin(), boxes.end(), &box), boxes.end());
    return Ended() ? QMessageBox::NoButton : static_cast<QMessageBox::StandardButton>(nResult);
}

} // namespace

void SetMessageBoxesEnded(bool bEnded)
{
    Ended() = bEnded;
    if (!bEnded)
        return;
    // done() leaves each box's own event loop; the caller of the box goes on as after a click.
    for (QMessageBox* pBox : OpenBoxes())
        pBox->done(QMessageBox::NoButton);
}

bool MessageBoxesEnded()
{
    return Ended();
}

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
    Run(owner, text, QMessageBox::Ok);
}

bool TarvexQuestion(QWidget* owner, const QString& text)
{
    if (CMessageBoxHook* pHook = CurrentHook()) {
        const bool bAnswer = pHook->m_bAnswer;
        auto handler = pHook->m_handler;
        handler(owner, text);
        return bAnswer;
    }
    return Run(owner, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void CMessageBoxSink::ShowMessage(void* owner, const std::string& text)
{
    TarvexMessageBox(static_cast<QWidget*>(owner), QString::fromStdString(text));
}
