// The program's entry against a stand-in form whose making throws: whatever is thrown is shown
// once, the message loop is never entered, and the entry returns 0.

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

TEST_F(EntryTest, AnExceptionFromCreateFormIsShownOnceAndTheEntryReturnsZero) {
    ThrowOnCreate = 1;
    EXPECT_EQ(ProgramMain(), 0);
    ASSERT_EQ(shown.size(), 1U);
    EXPECT_EQ(shown[0], "the form cannot be made");
    EXPECT_EQ(Application->MainForm(), nullptr);
}

TEST_F(EntryTest, AnythingElseThrownShowsAnEmptyMessage) {
    ThrowOnCreate = 2;
    EXPECT_EQ(ProgramMain(), 0);
    EXPECT_EQ(shown, std::vector<std::string>{""});
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    TApplication application;
    Application = &application;
    Application->SetExceptionPresenter(
        [](const AnsiString& message) { shown.push_back(message.str()); });
    const int result = RUN_ALL_TESTS();
    Application = nullptr;
    return result;
}
