#pragma once

// Private to the platform: what the controls need of the application.

#include <functional>

// Runs code that Qt calls: nothing may be thrown through Qt's frames, so whatever the code throws
// goes to the application, which shows it.
void CallFromQt(const std::function<void()>& code) noexcept;
