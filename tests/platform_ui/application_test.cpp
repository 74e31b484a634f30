#include "platform/core/main_thread_queue.h"
#include "platform/core/thread.h"
#include "platform/ui/application.h"
#include "platform/ui/application_p.h"
#include "tests/support/controls.h"
#include "tests/support/test_support.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

// Records what the application shows instead of opening message boxes.
class ApplicationTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetExceptionPresenter(
            *Application, [this](const AnsiString& message) { m_shown.push_back(message.str()); });
    }
    void TearDown() override {
        SetExceptionPresenter(*Application, [](const AnsiString& message) {
            ADD_FAILURE() << "Unexpected message shown: " << message.str();
        });
    }
    void Pump() { ProcessMessages(); }

    std::vector<std::string> m_shown;
};

TEST_F(ApplicationTest, HandlerExceptionIsShownOnceAndClicksGoOn) {
    TButton button(nullptr);
    int clicks = 0;
    TObject* sender = nullptr;
    button.SetOnClick([&](TObject* from) {
        sender = from;
        if (++clicks == 1)
            throw Exception("Cannot open file \".\\DATA\\A.JPG\": Permission denied");
    });

    test::Click(&button);
    EXPECT_EQ(m_shown,
              std::vector<std::string>{"Cannot open file \".\\DATA\\A.JPG\": Permission denied"});
    EXPECT_EQ(sender, &button);

    test::Click(&button);
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(m_shown.size(), 1u);
}

TEST_F(ApplicationTest, NonExceptionFromHandlerShowsEmptyMessage) {
    TButton button(nullptr);
    button.SetOnClick([](TObject*) { throw 42; });
    test::Click(&button);
    EXPECT_EQ(m_shown, std::vector<std::string>{""});
}

struct HandleExceptionRow {
    const char* name;
    std::exception_ptr thrown;
    std::vector<std::string> shown;
};

void PrintTo(const HandleExceptionRow& row, std::ostream* os) {
    *os << row.name;
}

class HandleExceptionTest : public ApplicationTest,
                            public ::testing::WithParamInterface<HandleExceptionRow> {};

TEST_P(HandleExceptionTest, ShowsTheMessageOfExceptionsOnly) {
    Application->HandleException(GetParam().thrown);
    EXPECT_EQ(m_shown, GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HandleExceptionTest,
    ::testing::Values(
        HandleExceptionRow{"Exception", std::make_exception_ptr(Exception("plain")), {"plain"}},
        HandleExceptionRow{"DerivedException",
                           std::make_exception_ptr(EInvalidGraphic("Cannot read picture X")),
                           {"Cannot read picture X"}},
        HandleExceptionRow{
            "StdException", std::make_exception_ptr(std::runtime_error("std")), {"std"}},
        HandleExceptionRow{
            "OutOfMemory", std::make_exception_ptr(std::bad_alloc()), {"Out of memory"}},
        HandleExceptionRow{"NotAnException", std::make_exception_ptr(7), {""}},
        HandleExceptionRow{"NothingThrown", nullptr, {}}),
    [](const auto& row) { return std::string(row.param.name); });

// A message box runs a loop of its own, which may bring the next error while it is open.
TEST_F(ApplicationTest, AnErrorThatComesWhileAMessageIsShownWaitsForItToClose) {
    int open = 0;
    int mostOpen = 0;
    SetExceptionPresenter(*Application, [&](const AnsiString& message) {
        mostOpen = std::max(mostOpen, ++open);
        m_shown.push_back(message.str());
        if (message.str() == "first") {
            const Exception second("second");
            Application->ShowException(&second);
            const Exception third("third");
            Application->ShowException(&third);
            EXPECT_EQ(m_shown, std::vector<std::string>{"first"}) << "shown over the open box";
        }
        --open;
    });
    const Exception first("first");
    Application->ShowException(&first);
    EXPECT_EQ(m_shown, (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_EQ(mostOpen, 1);
}

// Hands one call to the user-interface thread and notes where it ran.
class TSynchronizingThread : public TThread {
public:
    TSynchronizingThread() : TThread(true) {}
    std::atomic<bool> done{false};
    std::thread::id ranOn;

protected:
    void Execute() override {
        Synchronize(&TSynchronizingThread::OnUserInterfaceThread);
        done = true;
    }

private:
    void OnUserInterfaceThread() { ranOn = std::this_thread::get_id(); }
};

TEST_F(ApplicationTest, SynchronizeRunsOnTheUserInterfaceThreadWhileItPumps) {
    TSynchronizingThread worker;
    worker.Resume();
    ASSERT_TRUE(test::WaitUntil([&] { return worker.done.load(); }, [this] { Pump(); }));
    TThread::WaitForAll();
    EXPECT_EQ(worker.ranOn, std::this_thread::get_id());
    EXPECT_TRUE(m_shown.empty());
}

TEST_F(ApplicationTest, PostedCallThatThrowsIsShown) {
    ASSERT_NE(TMainThreadQueue::Current(), nullptr);
    std::thread poster(
        [] { TMainThreadQueue::Current()->Post([] { throw Exception("posted"); }); });
    poster.join();
    ASSERT_TRUE(test::WaitUntil([this] { return !m_shown.empty(); }, [this] { Pump(); }));
    EXPECT_EQ(m_shown, std::vector<std::string>{"posted"});
}

} // namespace
