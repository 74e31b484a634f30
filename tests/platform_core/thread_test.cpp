#include "platform/core/exception.h"
#include "platform/core/main_thread_queue.h"
#include "platform/core/thread.h"
#include "platform/core/thread_p.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <numeric>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace {

// The test's own thread plays the user-interface thread: the queue's wake-up only signals it, and
// it runs what is waiting when it pumps.
class TFakeUiThread {
public:
    TFakeUiThread() : m_queue([this] { Wake(); }) {}

    TMainThreadQueue& Queue() { return m_queue; }

    int Wakes() {
        std::lock_guard lock(m_signal.mutex);
        return m_signal.wakes;
    }

    // Waits, running nothing, until count requests have woken it.
    bool WaitForWakes(int count) {
        std::unique_lock lock(m_signal.mutex);
        return m_signal.woken.wait_until(lock, std::chrono::steady_clock::now() + Deadline,
                                         [&] { return m_signal.wakes >= count; });
    }

    // Runs what workers hand over until done() holds; done() may change only in the calls it runs.
    bool PumpUntil(const std::function<bool()>& done) {
        while (!done()) {
            if (!WaitForWakes(m_answered + 1))
                return false;
            m_answered = Wakes();
            m_queue.ProcessPending();
        }
        return true;
    }

private:
    static constexpr auto Deadline = std::chrono::seconds(5);

    void Wake() {
        std::lock_guard lock(m_signal.mutex);
        ++m_signal.wakes;
        m_signal.woken.notify_all();
    }

    struct TSignal {
        std::mutex mutex;
        std::condition_variable woken;
        int wakes = 0;
    };

    // Declared before the queue, whose destructor may still see workers wake it.
    TSignal m_signal;
    int m_answered = 0;
    TMainThreadQueue m_queue;
};

// A worker like the program's: made suspended, it runs its script and hands calls to the
// user-interface thread through Synchronize.
class TScriptedWorker : public TThread {
public:
    using TScript = std::function<void(TScriptedWorker&)>;

    explicit TScriptedWorker(TScript script, std::atomic<int>* destroyed = nullptr)
        : TThread(true), m_script(std::move(script)), m_destroyed(destroyed) {}
    ~TScriptedWorker() override {
        if (m_destroyed != nullptr)
            ++*m_destroyed;
    }
    TScriptedWorker(const TScriptedWorker&) = delete;
    TScriptedWorker& operator=(const TScriptedWorker&) = delete;

    void OnUiThread(std::function<void()> call) {
        m_call = std::move(call);
        Synchronize(&TScriptedWorker::RunCall);
    }

protected:
    void Execute() override { m_script(*this); }

private:
    void RunCall() { m_call(); }

    TScript m_script;
    std::atomic<int>* m_destroyed;
    std::function<void()> m_call;
};

// As the program does it: nobody keeps a pointer to the worker.
void StartFreeWorker(TScriptedWorker::TScript script, std::atomic<int>* destroyed = nullptr) {
    auto worker = std::make_unique<TScriptedWorker>(std::move(script), destroyed);
    worker->FreeOnTerminate = true;
    // From here the thread owns itself.
    worker.release()->Resume();
}

std::string MessageOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& exception) {
        return exception.what();
    }
}

class ThreadTest : public ::testing::Test {
protected:
    // A failed test may leave workers waiting on the queue: closing it lets them end.
    void TearDown() override {
        if (m_ui)
            m_ui->Queue().Close();
        TThread::WaitForAll();
        m_ui.reset();
    }

    void CountErrorsShown() {
        m_ui->Queue().SetExceptionHandler(
            [this](const std::exception_ptr& error) { m_shown.push_back(MessageOf(error)); });
    }

    std::unique_ptr<TFakeUiThread> m_ui = std::make_unique<TFakeUiThread>();
    std::vector<std::string> m_shown;
};

TEST_F(ThreadTest, SendRunsTheCallOnTheUiThreadWhileTheSenderWaits) {
    std::atomic<bool> senderReturned{false};
    bool ran = false;
    bool senderWasWaiting = false;
    std::thread::id ranOn;
    std::thread sender([&] {
        m_ui->Queue().Send([&] {
            ranOn = std::this_thread::get_id();
            senderWasWaiting = !senderReturned;
            ran = true;
        });
        senderReturned = true;
    });
    EXPECT_TRUE(m_ui->PumpUntil([&] { return ran; }));
    m_ui->Queue().Close();
    sender.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(senderWasWaiting);
    EXPECT_TRUE(senderReturned);
}

TEST_F(ThreadTest, SendOnTheUiThreadRunsAtOnce) {
    bool ran = false;
    m_ui->Queue().Send([&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_EQ(m_ui->Wakes(), 0);
}

struct SendErrorCase {
    const char* name;
    bool fromWorker;
};

void PrintTo(const SendErrorCase& row, std::ostream* os) {
    *os << row.name;
}

class SendErrorTest : public ThreadTest, public ::testing::WithParamInterface<SendErrorCase> {};

TEST_P(SendErrorTest, TheCallsExceptionReachesTheSenderWithItsType) {
    std::exception_ptr caught;
    const auto send = [&] {
        try {
            m_ui->Queue().Send([] { throw EFOpenError("Cannot open file \"A.JPG\": Denied"); });
        } catch (const EFOpenError&) {
            caught = std::current_exception();
        }
    };
    if (GetParam().fromWorker) {
        std::thread sender(send);
        EXPECT_TRUE(m_ui->WaitForWakes(1));
        m_ui->Queue().ProcessPending();
        sender.join();
    } else {
        send();
    }
    ASSERT_TRUE(caught);
    EXPECT_EQ(MessageOf(caught), "Cannot open file \"A.JPG\": Denied");
}

INSTANTIATE_TEST_SUITE_P(Rows, SendErrorTest,
                         ::testing::Values(SendErrorCase{"FromAWorker", true},
                                           SendErrorCase{"OnTheUiThread", false}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(ThreadTest, APostedCallsErrorGoesToTheHandlerOnceOrIsLostWithoutOne) {
    std::thread poster([this] { m_ui->Queue().Post([] { throw Exception("first"); }); });
    poster.join();
    EXPECT_NO_THROW(m_ui->Queue().ProcessPending());

    CountErrorsShown();
    m_ui->Queue().Post([] { throw Exception("second"); });
    m_ui->Queue().ProcessPending();
    m_ui->Queue().ProcessPending();
    EXPECT_EQ(m_shown, std::vector<std::string>{"second"});
}

TEST_F(ThreadTest, ACallThatPostsAgainRunsInTheNextRoundNotForever) {
    int runs = 0;
    std::function<void()> again = [&] {
        ++runs;
        m_ui->Queue().Post(again);
    };
    m_ui->Queue().Post(again);
    m_ui->Queue().ProcessPending();
    EXPECT_EQ(runs, 1);
    m_ui->Queue().ProcessPending();
    EXPECT_EQ(runs, 2);
    m_ui->Queue().Close();
    m_ui->Queue().Post(again);
    m_ui->Queue().ProcessPending();
    EXPECT_EQ(runs, 2);
}

TEST_F(ThreadTest, AFreeOnTerminateWorkerDeletesItselfBeforeWaitForAllReturns) {
    std::vector<std::string> gallery{"stale"};
    std::atomic<int> destroyed{0};
    StartFreeWorker(
        [&gallery](TScriptedWorker& self) {
            self.OnUiThread([&gallery] { gallery.clear(); });
            for (int i = 0; i < 3; ++i)
                self.OnUiThread([&gallery, i] { gallery.push_back(std::to_string(i)); });
        },
        &destroyed);
    ASSERT_TRUE(m_ui->PumpUntil([&] { return gallery.size() == 3 && gallery[0] == "0"; }));
    TThread::WaitForAll();
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(gallery, (std::vector<std::string>{"0", "1", "2"}));
}

struct WorkerEndCase {
    const char* name;
    std::function<void()> execute;
    std::vector<std::string> shown;
};

void PrintTo(const WorkerEndCase& row, std::ostream* os) {
    *os << row.name;
}

class WorkerEndTest : public ThreadTest, public ::testing::WithParamInterface<WorkerEndCase> {};

TEST_P(WorkerEndTest, TheErrorThatEndsAWorkerIsShownOnTheUiThreadOnce) {
    CountErrorsShown();
    StartFreeWorker([execute = GetParam().execute](TScriptedWorker&) { execute(); });
    TThread::WaitForAll();
    m_ui->Queue().ProcessPending();
    m_ui->Queue().ProcessPending();
    EXPECT_EQ(m_shown, GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WorkerEndTest,
    ::testing::Values(WorkerEndCase{"Error",
                                    [] { throw EInvalidGraphic("Cannot read picture X.BMP"); },
                                    {"Cannot read picture X.BMP"}},
                      WorkerEndCase{
                          "ApplicationClosing", [] { throw EApplicationClosing("closing"); }, {}},
                      WorkerEndCase{"NoError", [] {}, {}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(ThreadTest, SynchronizeWithNoQueueRaisesEThread) {
    m_ui.reset();
    std::atomic<bool> raised{false};
    StartFreeWorker([&raised](TScriptedWorker& self) {
        try {
            self.OnUiThread([] {});
        } catch (const EThread&) {
            raised = true;
        }
    });
    TThread::WaitForAll();
    EXPECT_TRUE(raised);
}

TEST_F(ThreadTest, ASuspendedWorkerRunsOnlyOnceResumed) {
    std::atomic<int> runs{0};
    auto worker = std::make_unique<TScriptedWorker>([&runs](TScriptedWorker&) { ++runs; });
    EXPECT_EQ(runs, 0);
    worker->Resume();
    worker->Resume();
    TThread::WaitForAll();
    EXPECT_EQ(runs, 1);
}

TEST_F(ThreadTest, ANeverResumedWorkerCanBeDeletedWithoutRunning) {
    std::atomic<int> runs{0};
    std::atomic<int> destroyed{0};
    auto worker =
        std::make_unique<TScriptedWorker>([&runs](TScriptedWorker&) { ++runs; }, &destroyed);
    worker.reset();
    TThread::WaitForAll();
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(destroyed, 1);
}

TEST_F(ThreadTest, ManyWorkersSendingAtOnceAreServedInOrderOnTheUiThread) {
    constexpr int Workers = 10;
    constexpr int CallsEach = 100;
    const std::thread::id uiThread = std::this_thread::get_id();
    std::vector<std::vector<int>> received(Workers);
    int total = 0;
    bool allOnUiThread = true;
    for (int w = 0; w < Workers; ++w)
        StartFreeWorker([&, w](TScriptedWorker& self) {
            for (int i = 0; i < CallsEach; ++i)
                self.OnUiThread([&, w, i] {
                    allOnUiThread = allOnUiThread && std::this_thread::get_id() == uiThread;
                    received[w].push_back(i);
                    ++total;
                });
        });
    ASSERT_TRUE(m_ui->PumpUntil([&] { return total == Workers * CallsEach; }));
    TThread::WaitForAll();
    std::vector<int> inOrder(CallsEach);
    std::iota(inOrder.begin(), inOrder.end(), 0);
    for (int w = 0; w < Workers; ++w)
        EXPECT_EQ(received[w], inOrder) << "worker " << w;
    EXPECT_TRUE(allOnUiThread);
}

// Its member is set by its own constructor, after the base's: Execute must see it set.
class TAnsweringWorker : public TThread {
public:
    explicit TAnsweringWorker(bool suspended) : TThread(suspended), m_answer(42) {}
    std::atomic<int> seen{0};

protected:
    void Execute() override { seen = m_answer; }

private:
    int m_answer;
};

TEST_F(ThreadTest, AWorkerMadeRunningStartsOnlyOnceItIsComplete) {
    TAnsweringWorker worker(false);
    ASSERT_TRUE(m_ui->WaitForWakes(1));
    m_ui->Queue().ProcessPending();
    TThread::WaitForAll();
    EXPECT_EQ(worker.seen, 42);
}

TEST_F(ThreadTest, OnlyTheUiThreadMayMakeAWorkerRunning) {
    std::atomic<bool> raised{false};
    std::thread other([&raised] {
        try {
            TAnsweringWorker worker(false);
        } catch (const EThread&) {
            raised = true;
        }
    });
    other.join();
    EXPECT_TRUE(raised);
}

TEST_F(ThreadTest, ANeverResumedWorkerDoesNotHoldUpShutdown) {
    auto idle = std::make_unique<TScriptedWorker>([](TScriptedWorker&) {});
    EXPECT_EQ(LiveThreadCount(), 0);
    TThread::WaitForAll(); // hangs, and the test times out, if the idle worker counted
    idle.reset();
}

enum class TCloseWhen { BeforeTheWorkersSend, WhileTheyWait, QueueDestroyedWhileTheyWait };

struct CloseCase {
    const char* name;
    TCloseWhen when;
};

void PrintTo(const CloseCase& row, std::ostream* os) {
    *os << row.name;
}

class CloseTest : public ThreadTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseTest, FailsEveryWaitingAndLaterSendAndLetsTheWorkersEnd) {
    constexpr int Workers = 10;
    const TCloseWhen when = GetParam().when;
    CountErrorsShown();
    if (when == TCloseWhen::BeforeTheWorkersSend)
        m_ui->Queue().Close();
    std::atomic<int> failed{0};
    int ran = 0;
    for (int w = 0; w < Workers; ++w)
        StartFreeWorker([&](TScriptedWorker& self) {
            try {
                self.OnUiThread([&ran] { ++ran; });
            } catch (const EApplicationClosing&) {
                ++failed;
                throw;
            }
        });
    if (when != TCloseWhen::BeforeTheWorkersSend) {
        ASSERT_TRUE(m_ui->WaitForWakes(Workers));
    }
    if (when == TCloseWhen::WhileTheyWait)
        m_ui->Queue().Close();
    if (when == TCloseWhen::QueueDestroyedWhileTheyWait)
        m_ui.reset();
    TThread::WaitForAll();
    EXPECT_EQ(failed, Workers);
    EXPECT_EQ(ran, 0);
    EXPECT_TRUE(m_shown.empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, CloseTest,
                         ::testing::Values(CloseCase{"BeforeTheWorkersSend",
                                                     TCloseWhen::BeforeTheWorkersSend},
                                           CloseCase{"WhileTheyWait", TCloseWhen::WhileTheyWait},
                                           CloseCase{"QueueDestroyedWhileTheyWait",
                                                     TCloseWhen::QueueDestroyedWhileTheyWait}),
                         [](const auto& row) { return std::string(row.param.name); });

} // namespace
