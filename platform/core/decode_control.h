#pragma once

#include "platform/core/ansi_string.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

// Decodes in progress stop at their next group of rows once the application asks them to, when its
// message loop has ended: a decode left to run to its end would hold the process's exit up for
// seconds. Any thread may call these.
void StopDecodes();
// Lets decodes run again, for the next application made in the same process.
void AllowDecodes();
bool DecodesStopped();
// Raises EApplicationClosing once decodes are to stop. Decoders call it between groups of rows.
void CheckDecodesGoOn();

// The working memory of the decodes that run at the same time. A decode asks for what it will need
// before it allocates it and gives it back when it ends; a decode that does not fit waits, in the
// order of asking, until others have ended. A decode holds one reservation from its start to its
// end, takes no other and waits for nothing else meanwhile, so a decode that waits here always gets
// its turn. Any thread.
class TDecodeBudget {
    struct TRequest;

public:
    // 640 MiB: more than the most that one JPEG decode may take, libjpeg's 512 MiB and its rows, so
    // any picture that the decoders accept alone also fits the budget alone; ten workers, each
    // inside a large progressive picture, stay near this much rather than ten times it.
    static constexpr std::int64_t DefaultBytes = std::int64_t{640} * 1024 * 1024;

    // A place in line for some of the budget, granted at once or when its turn comes; the bytes go
    // back, or the place is given up, when it goes. Used by one thread at a time.
    class TReservation {
    public:
        TReservation(TReservation&& other) noexcept;
        TReservation& operator=(TReservation&& other) noexcept;
        ~TReservation();
        TReservation(const TReservation&) = delete;
        TReservation& operator=(const TReservation&) = delete;

        // Blocks until the bytes are granted. Raises EApplicationClosing naming the file once
        // decodes are stopped before then.
        void Wait();

    private:
        friend class TDecodeBudget;
        friend bool IsGranted(const TReservation& reservation);
        TReservation(TDecodeBudget& budget, std::unique_ptr<TRequest> request);
        bool Granted() const;
        void Give();

        TDecodeBudget* m_budget;
        std::unique_ptr<TRequest> m_request;
    };

    explicit TDecodeBudget(std::int64_t totalBytes) : m_total(totalBytes) {}
    TDecodeBudget(const TDecodeBudget&) = delete;
    TDecodeBudget& operator=(const TDecodeBudget&) = delete;

    // The budget that the process's decoders share.
    static TDecodeBudget& Process();

    // Takes the next place in line for bytes, granted at once if they fit and nobody waits before
    // it. Raises EOutOfMemory naming fileName when bytes exceed the whole budget.
    TReservation Ask(std::int64_t bytes, const AnsiString& fileName);
    // Asks, and waits for the grant.
    TReservation Reserve(std::int64_t bytes, const AnsiString& fileName);
    // Wakes the decodes that wait, so that they see that decodes were stopped.
    void WakeAll();

private:
    // Grants the requests at the front of the line while they fit; under the lock.
    void GrantInTurn();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    const std::int64_t m_total;
    std::int64_t m_granted = 0;
    std::deque<TRequest*> m_line;
};
