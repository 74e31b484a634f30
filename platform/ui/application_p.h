#pragma once

// Private to the platform: what the controls need of the application.

#include "platform/core/ansi_string.h"

#include <functional>

class TApplication;

// Runs code that Qt calls: nothing may be thrown through Qt's frames, so whatever the code throws
// goes to the application, which shows it.
void CallFromQt(const std::function<void()>& code) noexcept;

// For the tests and the bench, which run without a user: what would go to a message box goes to
// presenter instead.
void SetExceptionPresenter(TApplication& application,
                           std::function<void(const AnsiString& message)> presenter);
// Runs the messages that are waiting on the user-interface thread, then returns.
void ProcessMessages();
