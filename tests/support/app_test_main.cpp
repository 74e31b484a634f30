// The process of an in-process test of the program: the application as the program has it, with
// the message box replaced by a record of the messages shown.

#include "tests/support/app_fixture.h"

#include <cstdlib>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    TApplication application;
    Application = &application;
    Application->Initialize();
    Application->SetExceptionPresenter(
        [](const AnsiString& message) { test::ShownMessages().push_back(message.str()); });
    const int result = RUN_ALL_TESTS();
    Application = nullptr;
    return result;
}
