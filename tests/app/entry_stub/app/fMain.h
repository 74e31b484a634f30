#pragma once

// A stand-in for the program's form, for the test of the entry: making it throws what
// ThrowOnCreate selects (1: an Exception, 2: an int, 3: a standard exception, 4: memory ran out).

#include "platform/ui/application.h"

#include <new>
#include <stdexcept>

extern int ThrowOnCreate;

class TForm1 : public TForm {
public:
    explicit TForm1(TComponent* owner) : TForm(owner) {
        if (ThrowOnCreate == 1)
            throw Exception("the form cannot be made");
        if (ThrowOnCreate == 3)
            throw std::invalid_argument("no such layout");
        if (ThrowOnCreate == 4)
            throw std::bad_alloc();
        throw 42;
    }
    static AnsiString ClassName() { return "TForm1"; }
    void Publish(TPublishedMembers&) {}
};

inline TForm1* Form1 = nullptr;
