// The process of an in-process test of the program; each test makes its own application
// (app_fixture.h), with the message box replaced by a record of the messages shown.

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    return RUN_ALL_TESTS();
}
