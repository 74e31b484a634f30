#include "platform/ui/application.h"
#include "platform/ui/application_p.h"

#include <gtest/gtest.h>

#include <cstdlib>

// One application for the whole binary, as a program has: the tests share its QApplication and its
// main-thread queue.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    TApplication application;
    Application = &application;
    application.Initialize();
    // A message box would wait for a user: a test that expects a message installs its own
    // presenter.
    SetExceptionPresenter(application, [](const AnsiString& message) {
        ADD_FAILURE() << "Unexpected message shown: " << message.str();
    });
    const int result = RUN_ALL_TESTS();
    return result;
}
