// The program's entry against a stand-in form whose making throws: whatever is thrown is shown
// once, the message loop is never entered, and the entry returns 0.

#include "platform/ui/application_p.h"
#include "tests/app/entry_stub/app/fMain.h"
#include "tests/support/test_support.h"

#include <cstdlib>
#include <string>
#include <vector>

int ThrowOnCreate = 0;

namespace {

std::vector<std::string> shown;

class EntryTest : public ::testing::Test {
protected:
    void SetUp() override { shown.clear(); }
};

struct EntryRow {
    const char* name;
    int throwOnCreate;
    const char* shown;
};

void PrintTo(const EntryRow& row, std::ostream* os) {
    *os << row.name;
}

class EntryShows : public EntryTest, public ::testing::WithParamInterface<EntryRow> {};

TEST_P(EntryShows, WhatCreateFormThrowsOnceAndTheEntryReturnsZero) {
    ThrowOnCreate = GetParam().throwOnCreate;
    EXPECT_EQ(ProgramMain(), 0);
    EXPECT_EQ(shown, std::vector<std::string>{GetParam().shown});
}

// Only a value that is no exception at all is shown without words.
INSTANTIATE_TEST_SUITE_P(Rows, EntryShows,
                         ::testing::Values(EntryRow{"Exception", 1, "the form cannot be made"},
                                           EntryRow{"StdException", 3, "no such layout"},
                                           EntryRow{"OutOfMemory", 4, "Out of memory"},
                                           EntryRow{"NotAnException", 2, ""}),
                         test::RowName());

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    TApplication application;
    Application = &application;
    SetExceptionPresenter(*Application,
                          [](const AnsiString& message) { shown.push_back(message.str()); });
    const int result = RUN_ALL_TESTS();
    Application = nullptr;
    return result;
}
