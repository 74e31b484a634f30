#include "platform/core/decode_control.h"
#include "platform/core/exception.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr std::int64_t MiB = std::int64_t{1024} * 1024;

// A budget of 100 MiB, and the order in which waiting decodes were let in.
class DecodeBudgetTest : public ::testing::Test {
protected:
    void TearDown() override { AllowDecodes(); }

    // Starts a thread that reserves bytes for name, notes when it got them and holds them until
    // released is set; the thread ends with the error it met, if any.
    void Decode(const std::string& name, std::int64_t bytes) {
        m_threads.emplace_back([this, name, bytes] {
            try {
                const auto held = m_budget.Reserve(bytes, name);
                Note(name);
                while (!m_released)
                    std::this_thread::yield();
            } catch (const Exception& error) {
                Note(std::string(error.what()));
            }
        });
    }
    void Note(const std::string& what) {
        std::lock_guard lock(m_mutex);
        m_order.push_back(what);
    }
    std::vector<std::string> Order() {
        std::lock_guard lock(m_mutex);
        return m_order;
    }
    static bool WaitFor(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (!done() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        return done();
    }
    void EndAll() {
        m_released = true;
        for (std::thread& thread : m_threads)
            thread.join();
        m_threads.clear();
    }

    TDecodeBudget m_budget{100 * MiB};
    std::atomic<bool> m_released{false};
    std::vector<std::thread> m_threads;
    std::mutex m_mutex;
    std::vector<std::string> m_order;
};

TEST_F(DecodeBudgetTest, ADecodeThatDoesNotFitWaitsAndTheWaitingGoInTheOrderTheyAsked) {
    auto first = m_budget.Reserve(60 * MiB, "A.JPG");
    Decode("B.JPG", 70 * MiB);
    ASSERT_TRUE(WaitFor([this] { return m_budget.Waiting() == 1; }));
    // C would fit beside A, but must not pass B; beside B it does not fit at all.
    Decode("C.JPG", 40 * MiB);
    ASSERT_TRUE(WaitFor([this] { return m_budget.Waiting() == 2; }));
    EXPECT_TRUE(Order().empty());
    first.Release();
    ASSERT_TRUE(WaitFor([this] { return Order().size() == 1; }));
    EXPECT_EQ(Order(), std::vector<std::string>{"B.JPG"});
    EXPECT_EQ(m_budget.Waiting(), 1);
    EndAll();
    EXPECT_EQ(Order(), (std::vector<std::string>{"B.JPG", "C.JPG"}));
    EXPECT_EQ(m_budget.InUse(), 0);
}

TEST_F(DecodeBudgetTest, ADecodeLargerThanTheWholeBudgetFailsNamingTheFile) {
    try {
        m_budget.Reserve(101 * MiB, ".\\DATA\\HUGE.JPG");
        FAIL() << "granted";
    } catch (const EOutOfMemory& error) {
        EXPECT_STREQ(error.what(), "Cannot read picture .\\DATA\\HUGE.JPG: decoding it needs 101 "
                                   "MiB of working memory, more than the 100 MiB that decodes may "
                                   "take at once");
    }
    EXPECT_EQ(m_budget.InUse(), 0);
}

// Waiting while holding could wait for ever: two such threads would each wait for the other.
TEST_F(DecodeBudgetTest, AThreadThatHoldsSomeNeverWaitsForMore) {
    const auto held = m_budget.Reserve(60 * MiB, "A.JPG");
    EXPECT_EQ(TDecodeBudget::HeldByThisThread(), 60 * MiB);
    EXPECT_THROW(m_budget.Reserve(50 * MiB, "B.JPG"), EOutOfMemory);
    EXPECT_EQ(m_budget.Reserve(40 * MiB, "C.JPG").Bytes(), 40 * MiB);
    EXPECT_EQ(m_budget.InUse(), 60 * MiB);
}

TEST_F(DecodeBudgetTest, AReservationGrowsOnlyIntoRoomThatIsFreeAtOnce) {
    auto held = m_budget.Reserve(60 * MiB, "A.JPG");
    Decode("B.JPG", 50 * MiB);
    ASSERT_TRUE(WaitFor([this] { return m_budget.Waiting() == 1; }));
    EXPECT_FALSE(held.GrowTo(101 * MiB));
    EXPECT_EQ(held.Bytes(), 60 * MiB);
    // Past B, which waits for more than is left: growing never waits, so it may.
    EXPECT_TRUE(held.GrowTo(90 * MiB));
    EXPECT_EQ(TDecodeBudget::HeldByThisThread(), 90 * MiB);
    held.Release();
    EXPECT_FALSE(held.GrowTo(MiB));
    EndAll();
    EXPECT_EQ(Order(), std::vector<std::string>{"B.JPG"});
    EXPECT_EQ(m_budget.InUse(), 0);
}

TEST_F(DecodeBudgetTest, StoppingDecodesReleasesTheWaitingWithApplicationClosing) {
    auto first = m_budget.Reserve(90 * MiB, "A.JPG");
    Decode("B.JPG", 50 * MiB);
    ASSERT_TRUE(WaitFor([this] { return m_budget.Waiting() == 1; }));
    StopDecodes();
    m_budget.WakeAll();
    m_released = true;
    m_threads.front().join();
    m_threads.clear();
    ASSERT_EQ(Order().size(), 1U);
    EXPECT_NE(Order()[0].find("closing"), std::string::npos) << Order()[0];
    EXPECT_THROW(CheckDecodesGoOn(), EApplicationClosing);
    AllowDecodes();
    EXPECT_NO_THROW(CheckDecodesGoOn());
}

} // namespace
