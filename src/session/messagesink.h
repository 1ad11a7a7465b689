// SPDX-License-Identifier: MIT
// The program's one message function, as an interface the core can call and tests can count.
#pragma once

#include <string>

// Shows a message with the caption "Tarvex" and one OK button, owned by `owner` (a window, or null).
class CMessageSink {
public:
    virtual ~CMessageSink() = default;
    virtual void ShowMessage(void* owner, const std::string& text) = 0;
};
