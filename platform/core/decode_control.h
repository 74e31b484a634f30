#pragma once

#include "platform/core/ansi_string.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
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

// The working memory of the decodes that run at the same time. A decode reserves what it will need
// before it allocates it, and gives it back when it ends; a decode that does not fit waits, in the
// order of asking, until others have ended. Each thread holds at most one reservation at a time
// and never waits while it holds one, so no two threads can wait for each other here; and since a
// decode needs no other thread to end, a thread that waits for one (the user-interface thread's own
// fill, a worker ahead of it) always gets its turn. Any thread; a reservation is released on the
// thread that took it.
class TDecodeBudget {
public:
    // 640 MiB: the most that one JPEG decode may take, libjpeg's 512 MiB and the 128 MiB of a
    // compressed file, so any picture that the decoders accept alone also fits the budget alone;
    // ten workers, each inside a large progressive picture, stay near this much rather than ten
    // times it.
    static constexpr std::int64_t DefaultBytes = std::int64_t{640} * 1024 * 1024;

    class TReservation {
    public:
        TReservation() = default;
        TReservation(TReservation&& other) noexcept;
        TReservation& operator=(TReservation&& other) noexcept;
        ~TReservation();
        TReservation(const TReservation&) = delete;
        TReservation& operator=(const TReservation&) = delete;

        std::int64_t Bytes() const { return m_bytes; }
        // Grows the reservation to bytes if the rest fits beside the others at once; else, or when
        // it holds nothing, leaves it as it is and returns false. Never waits.
        bool GrowTo(std::int64_t bytes);
        // Gives back what it holds beyond bytes.
        void ShrinkTo(std::int64_t bytes);
        void Release();

    private:
        friend class TDecodeBudget;
        TReservation(TDecodeBudget* budget, std::int64_t bytes)
            : m_budget(budget), m_bytes(bytes) {}

        TDecodeBudget* m_budget = nullptr;
        std::int64_t m_bytes = 0;
    };

    explicit TDecodeBudget(std::int64_t totalBytes) : m_total(totalBytes) {}
    TDecodeBudget(const TDecodeBudget&) = delete;
    TDecodeBudget& operator=(const TDecodeBudget&) = delete;

    // The budget that the process's decoders share.
    static TDecodeBudget& Process();
    // The bytes that the calling thread holds, of any budget.
    static std::int64_t HeldByThisThread();

    // Waits until bytes fit beside the other reservations. Raises EOutOfMemory naming fileName when
    // bytes exceed the whole budget, or when this thread holds a reservation already and bytes do
    // not fit at once; EApplicationClosing when decodes are stopped before it fits.
    TReservation Reserve(std::int64_t bytes, const AnsiString& fileName);
    // Wakes the decodes that wait, so that they see that decodes were stopped.
    void WakeAll();

    std::int64_t Total() const;
    // Tests and the fuzzer run with less than the default.
    void SetTotal(std::int64_t bytes);
    std::int64_t InUse() const;
    // The decodes that wait for their turn.
    int Waiting() const;

private:
    // Takes bytes if they fit at once, whoever waits.
    bool TakeAtOnce(std::int64_t bytes);
    // Counts bytes as held, by the budget and by this thread; under the lock.
    void Take(std::int64_t bytes);
    void Give(std::int64_t bytes);

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::int64_t m_total;
    std::int64_t m_inUse = 0;
    // The reservations that wait, by ticket, the first in line at the front.
    std::deque<std::uint64_t> m_waiting;
    std::uint64_t m_nextTicket = 0;
};
