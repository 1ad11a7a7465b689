// SPDX-License-Identifier: MIT
// The program's one message function: every message box goes through here.
#pragma once

#include <QString>

#include <functional>

class QWidget;

// Shows text in a modal box captioned "Tarvex" with one OK button, owned by owner (may be null).
void TarvexMessageBox(QWidget* owner, const QString& text);

// While an object of this class lives, messages go to its handler instead of a box, so tests
// can count and answer them. Handlers nest; the previous one comes back on destruction.
class CMessageBoxHook {
public:
    using Handler = std::function<void(QWidget* owner, const QString& text)>;
    explicit CMessageBoxHook(Handler handler);
    ~CMessageBoxHook();
    CMessageBoxHook(const CMessageBoxHook&) = delete;
    CMessageBoxHook& operator=(const CMessageBoxHook&) = delete;

private:
    friend void TarvexMessageBox(QWidget* owner, const QString& text);
    Handler m_handler;
    CMessageBoxHook* m_pPrevious;
};

#include "session/messagesink.h"

// The message function as the emulator link's sink; the owner is a QWidget or null.
class CMessageBoxSink : public CMessageSink {
public:
    void ShowMessage(void* owner, const std::string& text) override;
};
