#pragma once

#include "platform/core/exception.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// The calls that worker threads hand to the user-interface thread. The application makes one on its
// user-interface thread for the whole run; workers reach it through TThread::Synchronize. At most
// one exists at a time.
class TMainThreadQueue {
public:
    // wakeUp may be called from any thread when a call is waiting; it must make the user-interface
    // thread call ProcessPending soon, between its event handlers.
    explicit TMainThreadQueue(std::function<void()> wakeUp);
    ~TMainThreadQueue();
    TMainThreadQueue(const TMainThreadQueue&) = delete;
    TMainThreadQueue& operator=(const TMainThreadQueue&) = delete;

    // The queue of this process, or null when there is none.
    static TMainThreadQueue* Current();

    bool IsMainThread() const { return std::this_thread::get_id() == m_mainThread; }

    // Runs the call on the user-interface thread and returns once it has run, rethrowing what it
    // threw. On that thread itself it runs the call at once. Raises EThread once the queue is
    // closed.
    void Send(const std::function<void()>& call);
    // Queues the call and returns at once. What it throws goes to the exception handler. Dropped
    // once the queue is closed: nobody is left to see it.
    void Post(std::function<void()> call);
    // User-interface thread: runs the calls that are waiting, in the order they came.
    void ProcessPending();
    // User-interface thread, when its message loop has ended: fails the calls that are waiting and
    // every later one.
    void Close();

    // Receives what a posted call throws, on the user-interface thread.
    void SetExceptionHandler(std::function<void(std::exception_ptr)> handler);

private:
    struct TRequest;
    class TCallerScope;

    struct TShared {
        std::mutex mutex;
        // Signals a finished or abandoned request, and the last caller leaving Send or Post.
        std::condition_variable done;
        std::deque<std::shared_ptr<TRequest>> pending;
        bool closed = false;
        // Workers inside Send or Post: the destructor waits for them to leave.
        int callers = 0;
    };

    bool Enqueue(const std::shared_ptr<TRequest>& request);
    bool Withdraw(const std::shared_ptr<TRequest>& request);
    void ThrowIfClosed();
    std::size_t PendingCount();
    std::shared_ptr<TRequest> TakeNext();
    void Run(TRequest& request);
    void Finish(TRequest& request, std::exception_ptr error);

    std::thread::id m_mainThread;
    std::function<void()> m_wakeUp;
    std::function<void(std::exception_ptr)> m_exceptionHandler;
    TShared m_shared;
};
