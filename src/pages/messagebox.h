// SPDX-License-Identifier: MIT
// The program's one message function: every message box goes through here.
#pragma once

#include <QString>

#include <functional>

class QWidget;

// Shows text in a modal box captioned "Tarvex" with one OK button, owned by owner (may be null).
void TarvexMessageBox(QWidget* owner, const QString& text);
// The same box with Yes and No; true for Yes.
bool TarvexQuestion(QWidget* owner, const QString& text);

// The program is ending (a signal): the boxes that are open close at once, and later ones are not
// shown (a question answers No), so that nothing waits for a click. False gives the boxes back.
void SetMessageBoxesEnded(bool bEnded);
bool MessageBoxesEnded();

// While an object of this class lives, messages go to its handler instead of a box, so tests
// can count and answer them. Handlers nest; the previous one comes back on destruction.
class CMessageBoxHook {
public:
    using Handler = std::function<void(QWidget* owner, const QString& text)>;
    explicit CMessageBoxHook(Handler handler);
    ~CMessageBoxHook();
    // What a question gets from this hook; Yes unless told otherwise.
    void SetAnswer(bool bYes) { m_bAnswer = bYes; }
    CMessageBoxHook(const CMessageBoxHook&) = delete;
    CMessageBoxHook& operator=(const CMessageBoxHook&) = delete;

private:
    friend void TarvexMessageBox(QWidget* owner, const QString& text);
    friend bool TarvexQuestion(QWidget* owner, const QString& text);
    Handler m_handler;
    bool m_bAnswer = true;
    CMessageBoxHook* m_pPrevious;
};

#include "session/messagesink.h"

// The message function as the emulator link's sink; the owner is a QWidget or null.
class CMessageBoxSink : public CMessageSink {
public:
    void ShowMessage(void* owner, const std::string& text) override;
};
