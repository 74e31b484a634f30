#include "platform/core/decode_control.h"
#include "platform/core/decode_control_p.h"

#include "platform/core/exception.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <utility>

namespace {

std::atomic<bool> g_decodesStopped{false};

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

struct TDecodeBudget::TRequest {
    std::int64_t bytes;
    AnsiString fileName;
    bool granted = false;
};

TDecodeBudget& TDecodeBudget::Process() {
    static TDecodeBudget budget(DefaultBytes);
    return budget;
}

TDecodeBudget::TReservation TDecodeBudget::Ask(std::int64_t bytes, const AnsiString& fileName) {
    bytes = std::max<std::int64_t>(bytes, 0);
    if (bytes > m_total)
        throw EOutOfMemory("Cannot read picture " + fileName.str() + ": decoding it needs " +
                           Mebibytes(bytes) + " of working memory, more than the " +
                           Mebibytes(m_total) + " that decodes may take at once");
    auto request = std::make_unique<TRequest>(TRequest{bytes, fileName});
    const std::lock_guard lock(m_mutex);
    m_line.push_back(request.get());
    GrantInTurn();
    return {*this, std::move(request)};
}

TDecodeBudget::TReservation TDecodeBudget::Reserve(std::int64_t bytes, const AnsiString& fileName) {
    TReservation reservation = Ask(bytes, fileName);
    reservation.Wait();
    return reservation;
}

void TDecodeBudget::GrantInTurn() {
    bool granted = false;
    while (!m_line.empty() && m_granted + m_line.front()->bytes <= m_total) {
        m_granted += m_line.front()->bytes;
        m_line.front()->granted = true;
        m_line.pop_front();
        granted = true;
    }
    if (granted)
        m_changed.notify_all();
}

void TDecodeBudget::WakeAll() {
    // Under the lock, so that a decode between its test and its wait cannot miss the wake-up.
    const std::lock_guard lock(m_mutex);
    m_changed.notify_all();
}

TDecodeBudget::TReservation::TReservation(TDecodeBudget& budget, std::unique_ptr<TRequest> request)
    : m_budget(&budget), m_request(std::move(request)) {}

TDecodeBudget::TReservation::TReservation(TReservation&& other) noexcept
    : m_budget(other.m_budget), m_request(std::move(other.m_request)) {}

TDecodeBudget::TReservation& TDecodeBudget::TReservation::operator=(TReservation&& other) noexcept {
    if (this != &other) {
        Give();
        m_budget = other.m_budget;
        m_request = std::move(other.m_request);
    }
    return *this;
}

TDecodeBudget::TReservation::~TReservation() {
    Give();
}

bool TDecodeBudget::TReservation::Granted() const {
    const std::lock_guard lock(m_budget->m_mutex);
    return m_request->granted;
}

bool IsGranted(const TDecodeBudget::TReservation& reservation) {
    return reservation.Granted();
}

void TDecodeBudget::TReservation::Wait() {
    std::unique_lock lock(m_budget->m_mutex);
    m_budget->m_changed.wait(lock, [this] { return m_request->granted || DecodesStopped(); });
    if (!m_request->granted)
        throw EApplicationClosing("The application is closing: the decode of " +
                                  m_request->fileName.str() + " was not started");
}

// The bytes go back, or the place in line is given up; either may let the next in line in.
void TDecodeBudget::TReservation::Give() {
    if (!m_request)
        return;
    const std::lock_guard lock(m_budget->m_mutex);
    if (m_request->granted)
        m_budget->m_granted -= m_request->bytes;
    else
        std::erase(m_budget->m_line, m_request.get());
    m_budget->GrantInTurn();
    m_request.reset();
}
