#include "platform/core/thread.h"
#include "platform/core/thread_p.h"

#include "platform/core/exception.h"
#include "platform/core/main_thread_queue.h"

#include <system_error>
#include <utility>

namespace {

// The worker threads of the process that were started and have not ended.
struct TLiveThreads {
    std::mutex mutex;
    std::condition_variable ended;
    int count = 0;
};

TLiveThreads& LiveThreads() {
    static TLiveThreads live;
    return live;
}

void AddLiveThread() {
    TLiveThreads& live = LiveThreads();
    std::lock_guard lock(live.mutex);
    ++live.count;
}

void RemoveLiveThread() {
    TLiveThreads& live = LiveThreads();
    std::lock_guard lock(live.mutex);
    if (--live.count == 0)
        live.ended.notify_all();
}

bool IsApplicationClosing(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const EApplicationClosing&) {
        return true;
    } catch (...) {
        return false;
    }
}

// A worker cut short because the application is closing has nothing worth showing; nor has one
// with no user-interface thread to show it on. The error is handed over, not shared: the worker
// keeps no reference to it, so the user-interface thread's last use of it is ordered before its
// destruction by the queue itself (the count inside exception_ptr is invisible to ThreadSanitizer).
void ReportToMainThread(std::exception_ptr error) {
    TMainThreadQueue* const queue = TMainThreadQueue::Current();
    if (queue == nullptr || IsApplicationClosing(error))
        return;
    queue->Post([error = std::move(error)] { std::rethrow_exception(error); });
}

} // namespace

TThread::TThread(bool createSuspended) {
    TMainThreadQueue* const queue = TMainThreadQueue::Current();
    if (!createSuspended && (queue == nullptr || !queue->IsMainThread()))
        throw EThread("Cannot make a worker thread running here: only the user-interface thread "
                      "can start it once it is complete; make it suspended and call Resume");
    try {
        m_thread = std::thread(&TThread::ThreadProc, this);
    } catch (const std::system_error& error) {
        throw EThread(AnsiString("Cannot create a worker thread: ") + error.code().message());
    }
    if (createSuspended)
        return;
    // The derived constructors are still to run; the user-interface thread runs this call only
    // between its handlers, by which time the object is complete.
    queue->Post([gate = m_start] { gate->Open(); });
}

// A thread that freed itself has detached on the way; one that was never resumed is let go
// without running. The owner of a resumed thread waits for it to end first (WaitForAll): by the
// time this runs, the derived parts that Execute uses are gone.
TThread::~TThread() {
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_start->mutex);
        if (m_start->state == TStart::Waiting) {
            m_start->state = TStart::Abandon;
            m_start->changed.notify_one();
        }
    }
    m_thread.join();
}

// Counted live under the gate's lock, before the thread can run, so that WaitForAll cannot miss it.
// Notifies under the lock: once it is released, a thread that frees itself may run to its end.
bool TThread::TStartGate::Open() {
    std::lock_guard lock(mutex);
    if (state != TStart::Waiting)
        return false;
    AddLiveThread();
    state = TStart::Run;
    changed.notify_one();
    return true;
}

void TThread::Resume() {
    m_start->Open();
}

int LiveThreadCount() {
    TLiveThreads& live = LiveThreads();
    std::lock_guard lock(live.mutex);
    return live.count;
}

// The queue must be closed first: a worker blocked in Synchronize would otherwise wait for the very
// thread that waits here.
void TThread::WaitForAll() {
    TLiveThreads& live = LiveThreads();
    std::unique_lock lock(live.mutex);
    live.ended.wait(lock, [&live] { return live.count == 0; });
}

void TThread::DoTerminate() {
    if (m_fatalException)
        ReportToMainThread(std::exchange(m_fatalException, nullptr));
}

void TThread::SynchronizeCall(const std::function<void()>& call) {
    TMainThreadQueue* const queue = TMainThreadQueue::Current();
    if (queue == nullptr)
        throw EThread("A worker's call to the user-interface thread was not run: the application "
                      "has no user-interface thread queue");
    queue->Send(call);
}

void TThread::ThreadProc() {
    if (!WaitForStart())
        return;
    Run();
    // The very last step: once the count drops, WaitForAll's caller may end the process.
    RemoveLiveThread();
}

bool TThread::WaitForStart() {
    std::unique_lock lock(m_start->mutex);
    m_start->changed.wait(lock, [this] { return m_start->state != TStart::Waiting; });
    return m_start->state == TStart::Run;
}

// Runs Execute and everything that follows it, up to freeing the object.
void TThread::Run() {
    try {
        Execute();
    } catch (...) {
        m_fatalException = std::current_exception();
    }
    // Reported once the handler has let go of the error, for the reason ReportToMainThread gives.
    std::exception_ptr terminateError;
    try {
        DoTerminate();
    } catch (...) {
        terminateError = std::current_exception();
    }
    if (terminateError)
        ReportToMainThread(std::move(terminateError));
    if (FreeOnTerminate) {
        // Detached here, on the thread itself: the destructor then has nothing left to join.
        m_thread.detach();
        delete this;
    }
}
