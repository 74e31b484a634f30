#pragma once

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// A worker thread. Made and started on the user-interface thread; Execute runs on the worker. With
// FreeOnTerminate set, the object deletes itself on its own thread when Execute has ended;
// otherwise its owner deletes it, which waits for the thread to end.
class TThread {
public:
    // Raises EThread when the thread cannot be made. A suspended thread runs once Resume is called.
    // One made running starts only once the object is complete: when the user-interface thread
    // next runs the calls handed to it, or at Resume if that comes first. Only the user-interface
    // thread can tell that moment, so only it may make a thread running.
    explicit TThread(bool createSuspended);
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    void Resume();

    // Set before Resume: the thread reads it when Execute has ended.
    bool FreeOnTerminate = false;

    // Blocks until every thread that was started has ended; the application calls it at shutdown.
    // A thread that was never resumed does not count: it will never run.
    static void WaitForAll();

protected:
    virtual void Execute() = 0;
    // Called on the worker when Execute has ended; by default, an error that ended Execute is
    // handed to the user-interface thread, which shows it.
    virtual void DoTerminate();

    // Runs method on the user-interface thread while this thread waits; rethrows what it threw.
    template <class TDerived> void Synchronize(void (TDerived::*method)()) {
        SynchronizeCall([this, method] { (static_cast<TDerived*>(this)->*method)(); });
    }

private:
    enum class TStart { Waiting, Run, Abandon };

    // Holds the new thread until Resume, or lets it go without running when the object is deleted
    // unresumed. Shared with the call that starts a thread made running, which may come after the
    // object is gone.
    struct TStartGate {
        // Waiting to Run; false when the gate was no longer waiting.
        bool Open();

        std::mutex mutex;
        std::condition_variable changed;
        TStart state = TStart::Waiting;
    };

    void SynchronizeCall(const std::function<void()>& call);
    void ThreadProc();
    bool WaitForStart();
    void Run();

    std::thread m_thread;
    std::shared_ptr<TStartGate> m_start = std::make_shared<TStartGate>();
    std::exception_ptr m_fatalException;
};
