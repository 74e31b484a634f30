// The fills' threads under stress, each scene many times over: many workers at once, the foreground
// fill across running workers, the window closed while workers run, and a worker that fails half
// way. Each repetition makes the application afresh and tears it down as the program does when its
// window has closed, so that shutdown with live workers is exercised every time.

#include "app/fMain.h"
#include "tests/support/picture_files.h"
#include "tests/support/test_support.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int Repetitions = 50;
constexpr int Pictures = 6;

// One run of the program: the application, its form, and the messages it showed.
class TSession {
public:
    TSession() : m_application(std::make_unique<TApplication>()) {
        Application = m_application.get();
        Application->Initialize();
        Application->SetExceptionPresenter(
            [this](const AnsiString& message) { m_messages.push_back(message.str()); });
        Application->CreateForm(Form1);
    }
    // Ends the run as the program does once its window has closed: the hand-off is closed,
    // workers blocked in it are released, and the application waits for every worker.
    ~TSession() {
        m_application.reset();
        Application = nullptr;
        Form1 = nullptr;
    }
    TSession(const TSession&) = delete;
    TSession& operator=(const TSession&) = delete;

    bool WaitForWorkers() {
        const bool ended = test::WaitUntil([] { return TThread::LiveCount() == 0; },
                                           [] { Application->ProcessMessages(); });
        Application->ProcessMessages();
        return ended;
    }
    std::vector<std::string> Captions() const {
        std::vector<std::string> captions;
        for (int i = 0; i < Form1->ListView1->Items()->Count(); ++i)
            captions.push_back(Form1->ListView1->Items()->Item(i)->Caption().str());
        return captions;
    }
    const std::vector<std::string>& Messages() const { return m_messages; }

private:
    std::vector<std::string> m_messages;
    std::unique_ptr<TApplication> m_application;
};

class ThreadStress : public test::TempCurrentDir {
protected:
    void SetUp() override {
        TempCurrentDir::SetUp();
        fs::create_directories("DATA");
        for (int i = 0; i < Pictures; ++i) {
            // Named first: GCC 12 warns falsely (-Wrestrict) of a literal added to a temporary.
            const std::string number = std::to_string(i);
            const std::string name = "P" + number;
            if (i % 2 == 0)
                test::WriteBmp("DATA/" + name + ".BMP", 120, 90, test::Rgb{10, 20, 30});
            else
                test::WriteJpeg("DATA/" + name + ".JPG", 120, 90, test::Rgb{10, 20, 30});
            m_names.insert(name + (i % 2 == 0 ? ".BMP" : ".JPG"));
        }
    }
    void TearDown() override {
        EXPECT_EQ(TThread::LiveCount(), 0);
        TempCurrentDir::TearDown();
    }
    bool AllKnown(const std::vector<std::string>& captions) const {
        return std::all_of(captions.begin(), captions.end(),
                           [this](const std::string& caption) { return m_names.count(caption); });
    }

    std::set<std::string> m_names;
};

// Each worker clears the gallery and adds every picture, so whatever the interleaving, the last
// one to clear leaves at least a whole gallery behind it.
TEST_F(ThreadStress, TenWorkersAtOnce) {
    for (int round = 0; round < Repetitions; ++round) {
        TSession session;
        for (int i = 0; i < 10; ++i)
            Form1->Button2->Click();
        ASSERT_TRUE(session.WaitForWorkers()) << "round " << round;
        const std::vector<std::string> captions = session.Captions();
        EXPECT_GE(captions.size(), static_cast<std::size_t>(Pictures)) << "round " << round;
        EXPECT_LE(captions.size(), static_cast<std::size_t>(10 * Pictures)) << "round " << round;
        EXPECT_TRUE(AllKnown(captions)) << "round " << round;
        EXPECT_TRUE(session.Messages().empty()) << "round " << round;
    }
}

TEST_F(ThreadStress, ForegroundFillWhileWorkersRun) {
    for (int round = 0; round < Repetitions; ++round) {
        TSession session;
        Form1->Button2->Click();
        Form1->Button2->Click();
        Form1->Button1->Click();
        ASSERT_TRUE(session.WaitForWorkers()) << "round " << round;
        EXPECT_TRUE(AllKnown(session.Captions())) << "round " << round;
        EXPECT_TRUE(session.Messages().empty()) << "round " << round;
    }
}

// The window goes while workers are scanning, loading or waiting on the hand-off: shutdown must
// release them and wait for them, and none may touch the form after it is gone.
TEST_F(ThreadStress, WindowClosedWhileWorkersRun) {
    for (int round = 0; round < Repetitions; ++round) {
        {
            TSession session;
            for (int i = 0; i < 3; ++i)
                Form1->Button2->Click();
            // From no hand-off served at all to a few, so workers are caught at different steps.
            for (int pump = 0; pump < round % 5; ++pump)
                Application->ProcessMessages();
        }
        EXPECT_EQ(TThread::LiveCount(), 0) << "round " << round;
    }
}

TEST_F(ThreadStress, WorkerFailsMidFill) {
    test::WriteFile("DATA/P2A.JPG", "\xFF\xD8\xFF broken");
    for (int round = 0; round < Repetitions; ++round) {
        TSession session;
        Form1->Button2->Click();
        ASSERT_TRUE(session.WaitForWorkers()) << "round " << round;
        ASSERT_TRUE(test::WaitUntil([&] { return !session.Messages().empty(); },
                                    [] { Application->ProcessMessages(); }));
        EXPECT_EQ(session.Captions(), (std::vector<std::string>{"P0.BMP", "P1.JPG", "P2.BMP"}))
            << "round " << round;
        ASSERT_EQ(session.Messages().size(), 1U) << "round " << round;
        EXPECT_NE(session.Messages()[0].find(".\\DATA\\P2A.JPG"), std::string::npos);
    }
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    return RUN_ALL_TESTS();
}
