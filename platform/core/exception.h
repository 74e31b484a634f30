#pragma once

#include "platform/core/ansi_string.h"

#include <new>
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

// A worker thread that cannot be created or is used against its rules, or a hand-off to a
// user-interface thread that has stopped.
class EThread : public Exception {
public:
    using Exception::Exception;
};

// Raised in a worker whose work was cut short because the application is closing: its call to the
// user-interface thread was not run, or its decode was stopped. A worker that ends with it has
// nothing worth showing.
class EApplicationClosing : public EThread {
public:
    using EThread::EThread;
};

// Memory ran out, or a decode needs more working memory than decodes may take at once. The
// message names the file when there is one.
class EOutOfMemory : public Exception {
public:
    using Exception::Exception;
};

// Runs load, turning memory that ran out into an EOutOfMemory that names the file.
template <class TLoad> void NamingOutOfMemory(const AnsiString& fileName, TLoad&& load) {
    try {
        load();
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory("Cannot read picture " + fileName.str() + ": out of memory");
    }
}
