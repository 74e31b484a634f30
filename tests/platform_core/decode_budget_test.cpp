#include "platform/core/decode_control_p.h"
#include "platform/core/exception.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>

namespace {

constexpr std::int64_t MiB = std::int64_t{1024} * 1024;

class DecodeBudgetTest : public ::testing::Test {
protected:
    void TearDown() override { AllowDecodes(); }

    // Whether the whole budget is free: asked for, it is granted at once.
    bool AllFree() { return IsGranted(m_budget.Ask(100 * MiB, "ALL.JPG")); }

    TDecodeBudget m_budget{100 * MiB};
};

TEST_F(DecodeBudgetTest, ADecodeThatDoesNotFitWaitsAndTheWaitingGoInTheOrderTheyAsked) {
    std::optional<TDecodeBudget::TReservation> a = m_budget.Ask(60 * MiB, "A.JPG");
    std::optional<TDecodeBudget::TReservation> b = m_budget.Ask(70 * MiB, "B.JPG");
    // C would fit beside A, but must not pass B.
    TDecodeBudget::TReservation c = m_budget.Ask(40 * MiB, "C.JPG");
    EXPECT_TRUE(IsGranted(*a));
    EXPECT_FALSE(IsGranted(*b));
    EXPECT_FALSE(IsGranted(c));
    a.reset();
    // Beside B, C does not fit at all.
    EXPECT_TRUE(IsGranted(*b));
    EXPECT_FALSE(IsGranted(c));
    b.reset();
    EXPECT_TRUE(IsGranted(c));
}

TEST_F(DecodeBudgetTest, APlaceGivenUpLetsTheNextIn) {
    const TDecodeBudget::TReservation a = m_budget.Ask(60 * MiB, "A.JPG");
    std::optional<TDecodeBudget::TReservation> b = m_budget.Ask(70 * MiB, "B.JPG");
    const TDecodeBudget::TReservation c = m_budget.Ask(40 * MiB, "C.JPG");
    b.reset();
    EXPECT_TRUE(IsGranted(c));
}

TEST_F(DecodeBudgetTest, EveryByteGoesBackWhateverTheReservationsBecame) {
    {
        TDecodeBudget::TReservation a = m_budget.Reserve(30 * MiB, "A.JPG");
        TDecodeBudget::TReservation b = m_budget.Ask(80 * MiB, "B.JPG");
        TDecodeBudget::TReservation moved = std::move(a);
        a = m_budget.Ask(20 * MiB, "C.JPG");
        EXPECT_FALSE(IsGranted(b));
        EXPECT_FALSE(IsGranted(a));
    }
    EXPECT_TRUE(AllFree());
}

TEST_F(DecodeBudgetTest, ADecodeLargerThanTheWholeBudgetFailsNamingTheFile) {
    try {
        m_budget.Ask(101 * MiB, ".\\DATA\\HUGE.JPG");
        FAIL() << "granted";
    } catch (const EOutOfMemory& error) {
        EXPECT_STREQ(error.what(), "Cannot read picture .\\DATA\\HUGE.JPG: decoding it needs 101 "
                                   "MiB of working memory, more than the 100 MiB that decodes may "
                                   "take at once");
    }
    EXPECT_TRUE(AllFree());
}

TEST_F(DecodeBudgetTest, AWaitEndsWhenTheBytesAreGranted) {
    std::optional<TDecodeBudget::TReservation> a = m_budget.Ask(90 * MiB, "A.JPG");
    TDecodeBudget::TReservation b = m_budget.Ask(50 * MiB, "B.JPG");
    std::thread waiting([&b] { b.Wait(); });
    a.reset();
    waiting.join();
    EXPECT_TRUE(IsGranted(b));
}

TEST_F(DecodeBudgetTest, StoppingDecodesEndsTheWaitWithApplicationClosing) {
    const TDecodeBudget::TReservation a = m_budget.Ask(90 * MiB, "A.JPG");
    TDecodeBudget::TReservation b = m_budget.Ask(50 * MiB, ".\\DATA\\B.JPG");
    std::string error;
    std::thread waiting([&] {
        try {
            b.Wait();
        } catch (const EApplicationClosing& closing) {
            error = closing.what();
        }
    });
    StopDecodes();
    m_budget.WakeAll();
    waiting.join();
    EXPECT_EQ(error, "The application is closing: the decode of .\\DATA\\B.JPG was not started");
    EXPECT_THROW(CheckDecodesGoOn(), EApplicationClosing);
    AllowDecodes();
    EXPECT_NO_THROW(CheckDecodesGoOn());
}

} // namespace
