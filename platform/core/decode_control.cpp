#include "platform/core/decode_control.h"

#include "platform/core/exception.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <utility>

namespace {

std::atomic<bool> g_decodesStopped{false};

thread_local std::int64_t t_heldBytes = 0;

std::string Mebibytes(std::int64_t bytes) {
    constexpr std::int64_t Mebibyte = std::int64_t{1024} * 1024;
    return std::to_string((bytes + Mebibyte - 1) / Mebibyte) + " MiB";
}

} // namespace

void StopDecodes() {
    g_decodesStopped.store(true, std::memory_order_relaxed);
    TDecodeBudget::Process().WakeAll();
}

void AllowDecodes() {
    g_decodesStopped.store(false, std::memory_order_relaxed);
}

bool DecodesStopped() {
    return g_decodesStopped.load(std::memory_order_relaxed);
}

void CheckDecodesGoOn() {
    if (DecodesStopped())
        throw EApplicationClosing("The application is closing: a decode was stopped");
}

TDecodeBudget& TDecodeBudget::Process() {
    static TDecodeBudget budget(DefaultBytes);
    return budget;
}

std::int64_t TDecodeBudget::HeldByThisThread() {
    return t_heldBytes;
}

TDecodeBudget::TReservation TDecodeBudget::Reserve(std::int64_t bytes, const AnsiString& fileName) {
    bytes = std::max<std::int64_t>(bytes, 0);
    std::unique_lock lock(m_mutex);
    const auto refuse = [&](const std::string& why) {
        throw EOutOfMemory("Cannot read picture " + fileName.str() + ": decoding it needs " +
                           Mebibytes(bytes) + " of working memory, " + why);
    };
    const auto tooLarge = [&] {
        if (bytes > m_total)
            refuse("more than the " + Mebibytes(m_total) + " that decodes may take at once");
    };
    tooLarge();
    const bool fits = m_inUse + bytes <= m_total;
    if (t_heldBytes > 0 && !fits)
        refuse("and this thread may not wait for it while it holds some");
    if (t_heldBytes == 0 && !(fits && m_waiting.empty())) {
        const std::uint64_t ticket = m_nextTicket++;
        m_waiting.push_back(ticket);
        m_changed.wait(lock, [&] {
            return DecodesStopped() || bytes > m_total ||
                   (m_waiting.front() == ticket && m_inUse + bytes <= m_total);
        });
        m_waiting.erase(std::find(m_waiting.begin(), m_waiting.end(), ticket));
        // The next in line may fit beside this one, or must see the stop too.
        m_changed.notify_all();
        if (DecodesStopped())
            throw EApplicationClosing("The application is closing: the decode of " +
                                      fileName.str() + " was not started");
        tooLarge();
    }
    Take(bytes);
    return TReservation(this, bytes);
}

bool TDecodeBudget::TakeAtOnce(std::int64_t bytes) {
    const std::lock_guard lock(m_mutex);
    if (m_inUse + bytes > m_total)
        return false;
    Take(bytes);
    return true;
}

void TDecodeBudget::Take(std::int64_t bytes) {
    m_inUse += bytes;
    t_heldBytes += bytes;
}

void TDecodeBudget::Give(std::int64_t bytes) {
    {
        std::lock_guard lock(m_mutex);
        m_inUse -= bytes;
    }
    t_heldBytes -= bytes;
    m_changed.notify_all();
}

void TDecodeBudget::WakeAll() {
    // Under the lock, so that a decode between its test and its wait cannot miss the wake-up.
    std::lock_guard lock(m_mutex);
    m_changed.notify_all();
}

std::int64_t TDecodeBudget::Total() const {
    std::lock_guard lock(m_mutex);
    return m_total;
}

void TDecodeBudget::SetTotal(std::int64_t bytes) {
    std::lock_guard lock(m_mutex);
    m_total = bytes;
    m_changed.notify_all();
}

std::int64_t TDecodeBudget::InUse() const {
    std::lock_guard lock(m_mutex);
    return m_inUse;
}

int TDecodeBudget::Waiting() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_waiting.size());
}

TDecodeBudget::TReservation::TReservation(TReservation&& other) noexcept
    : m_budget(std::exchange(other.m_budget, nullptr)), m_bytes(std::exchange(other.m_bytes, 0)) {}

TDecodeBudget::TReservation& TDecodeBudget::TReservation::operator=(TReservation&& other) noexcept {
    if (this != &other) {
        Release();
        m_budget = std::exchange(other.m_budget, nullptr);
        m_bytes = std::exchange(other.m_bytes, 0);
    }
    return *this;
}

TDecodeBudget::TReservation::~TReservation() {
    Release();
}

bool TDecodeBudget::TReservation::GrowTo(std::int64_t bytes) {
    if (bytes <= m_bytes)
        return m_budget != nullptr;
    if (m_budget == nullptr || !m_budget->TakeAtOnce(bytes - m_bytes))
        return false;
    m_bytes = bytes;
    return true;
}

void TDecodeBudget::TReservation::ShrinkTo(std::int64_t bytes) {
    bytes = std::max<std::int64_t>(bytes, 0);
    if (m_budget == nullptr || bytes >= m_bytes)
        return;
    m_budget->Give(m_bytes - bytes);
    m_bytes = bytes;
}

void TDecodeBudget::TReservation::Release() {
    if (m_budget != nullptr)
        m_budget->Give(m_bytes);
    m_budget = nullptr;
    m_bytes = 0;
}
