#pragma once

#include "platform/core/ansi_string.h"

#include <stdexcept>

// The platform's failure: every error that the platform or the program raises is one of these, with
// a message that says what failed, on which path and why.
class Exception : public std::runtime_error {
public:
    explicit Exception(const AnsiString& message);
    AnsiString Message() const { return what(); }
};

// A file that exists but cannot be opened.
class EFOpenError : public Exception {
public:
    using Exception::Exception;
};

// A file that is not a picture that its reader can read, or a damaged one.
class EInvalidGraphic : public Exception {
public:
    using Exception::Exception;
};

// Index out of range in a string list.
class EStringListError : public Exception {
public:
    using Exception::Exception;
};

// A worker thread that cannot be created, or a hand-off to a user-interface thread that has
// stopped.
class EThread : public Exception {
public:
    using Exception::Exception;
};
