#include "platform/core/main_thread_queue.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <utility>

namespace {

// Workers find the queue here rather than being handed it: the program's worker takes no pointer to
// the user-interface objects.
std::atomic<TMainThreadQueue*> g_current{nullptr};

EApplicationClosing Closing() {
    return EApplicationClosing(
        "The application is closing: a worker's call to the user-interface thread was not run");
}

} // namespace

struct TMainThreadQueue::TRequest {
    enum class TState { Waiting, Done, Abandoned };

    TRequest(std::function<void()> aCall, bool aSent) : call(std::move(aCall)), sent(aSent) {}

    std::function<void()> call;
    // A sender is blocked on it; nobody waits for a posted call.
    bool sent;
    // Guarded by TShared::mutex. Stays Waiting while the call runs, so that Close cannot release
    // a sender whose call is still using the sender's objects.
    TState state = TState::Waiting;
    // Written before state becomes Done.
    std::exception_ptr error;
};

// Counts a caller inside Send or Post, so that the destructor does not free the queue under it.
class TMainThreadQueue::TCallerScope {
public:
    explicit TCallerScope(TShared& shared) : m_shared(shared) {
        std::lock_guard lock(m_shared.mutex);
        ++m_shared.callers;
    }
    ~TCallerScope() {
        std::lock_guard lock(m_shared.mutex);
        if (--m_shared.callers == 0)
            m_shared.done.notify_all();
    }
    TCallerScope(const TCallerScope&) = delete;
    TCallerScope& operator=(const TCallerScope&) = delete;

private:
    TShared& m_shared;
};

TMainThreadQueue::TMainThreadQueue(std::function<void()> wakeUp)
    : m_mainThread(std::this_thread::get_id()), m_wakeUp(std::move(wakeUp)) {
    [[maybe_unused]] TMainThreadQueue* const previous = g_current.exchange(this);
    assert(previous == nullptr && "only one TMainThreadQueue may exist at a time");
}

// Workers still inside Send or Post leave at once once the queue is closed; waiting for them keeps
// them off freed memory. A worker that has not reached the queue yet must be gone already: the
// application closes the queue and waits for its workers before it ends.
TMainThreadQueue::~TMainThreadQueue() {
    Close();
    TMainThreadQueue* self = this;
    g_current.compare_exchange_strong(self, nullptr);
    std::unique_lock lock(m_shared.mutex);
    m_shared.done.wait(lock, [this] { return m_shared.callers == 0; });
}

TMainThreadQueue* TMainThreadQueue::Current() {
    return g_current.load();
}

void TMainThreadQueue::Send(const std::function<void()>& call) {
    if (IsMainThread()) {
        ThrowIfClosed();
        call();
        return;
    }
    const TCallerScope caller(m_shared);
    const auto request = std::make_shared<TRequest>(call, true);
    if (!Enqueue(request))
        throw Closing();
    std::unique_lock lock(m_shared.mutex);
    m_shared.done.wait(lock, [&] { return request->state != TRequest::TState::Waiting; });
    const bool abandoned = request->state == TRequest::TState::Abandoned;
    lock.unlock();
    if (abandoned)
        throw Closing();
    if (request->error)
        std::rethrow_exception(request->error);
}

void TMainThreadQueue::Post(std::function<void()> call) {
    const TCallerScope caller(m_shared);
    // Refused once closed: the call is dropped, as documented.
    Enqueue(std::make_shared<TRequest>(std::move(call), false));
}

// Each request wakes the user-interface thread for itself, so that every waiting request has a
// wake-up on its way whatever ProcessPending left behind.
bool TMainThreadQueue::Enqueue(const std::shared_ptr<TRequest>& request) {
    {
        std::lock_guard lock(m_shared.mutex);
        if (m_shared.closed)
            return false;
        m_shared.pending.push_back(request);
    }
    try {
        m_wakeUp();
    } catch (...) {
        // A request with no wake-up might never run and leave its sender blocked: take it back.
        // If the user-interface thread has taken it already, it runs without this wake-up.
        if (Withdraw(request))
            throw;
    }
    return true;
}

bool TMainThreadQueue::Withdraw(const std::shared_ptr<TRequest>& request) {
    std::lock_guard lock(m_shared.mutex);
    const auto found = std::find(m_shared.pending.begin(), m_shared.pending.end(), request);
    if (found == m_shared.pending.end())
        return false;
    m_shared.pending.erase(found);
    return true;
}

void TMainThreadQueue::ThrowIfClosed() {
    std::lock_guard lock(m_shared.mutex);
    if (m_shared.closed)
        throw Closing();
}

// Only what waits on entry runs: a posted call that posts again must not keep the user-interface
// thread here, and what comes meanwhile has brought its own wake-up.
void TMainThreadQueue::ProcessPending() {
    assert(IsMainThread());
    for (std::size_t count = PendingCount(); count > 0; --count) {
        const std::shared_ptr<TRequest> request = TakeNext();
        // A call closed the queue, or ran a nested ProcessPending that took the rest.
        if (!request)
            return;
        Run(*request);
    }
}

std::size_t TMainThreadQueue::PendingCount() {
    std::lock_guard lock(m_shared.mutex);
    return m_shared.pending.size();
}

std::shared_ptr<TMainThreadQueue::TRequest> TMainThreadQueue::TakeNext() {
    std::lock_guard lock(m_shared.mutex);
    if (m_shared.pending.empty())
        return nullptr;
    std::shared_ptr<TRequest> request = std::move(m_shared.pending.front());
    m_shared.pending.pop_front();
    return request;
}

void TMainThreadQueue::Run(TRequest& request) {
    std::exception_ptr error;
    try {
        request.call();
    } catch (...) {
        error = std::current_exception();
    }
    if (request.sent) {
        Finish(request, error);
        return;
    }
    // With no handler, a posted call's error has nobody to go to and is lost.
    if (error && m_exceptionHandler)
        m_exceptionHandler(error);
}

void TMainThreadQueue::Finish(TRequest& request, std::exception_ptr error) {
    {
        std::lock_guard lock(m_shared.mutex);
        request.error = std::move(error);
        request.state = TRequest::TState::Done;
    }
    m_shared.done.notify_all();
}

void TMainThreadQueue::Close() {
    assert(IsMainThread());
    // Dropped calls are destroyed here, outside the lock: what they hold may do anything.
    std::deque<std::shared_ptr<TRequest>> dropped;
    {
        std::lock_guard lock(m_shared.mutex);
        m_shared.closed = true;
        dropped.swap(m_shared.pending);
        for (const auto& request : dropped)
            request->state = TRequest::TState::Abandoned;
    }
    m_shared.done.notify_all();
}

void TMainThreadQueue::SetExceptionHandler(std::function<void(std::exception_ptr)> handler) {
    assert(IsMainThread());
    m_exceptionHandler = std::move(handler);
}
