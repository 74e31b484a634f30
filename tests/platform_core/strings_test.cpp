#include "platform/core/ansi_string.h"
#include "platform/core/exception.h"
#include "platform/core/string_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

struct PosCase {
    const char* name;
    const char* text;
    const char* sought;
    int expected;
};

void PrintTo(const PosCase& row, std::ostream* os) {
    *os << row.name;
}

class PosTest : public ::testing::TestWithParam<PosCase> {};

TEST_P(PosTest, GivesOneBasedPositionOfFirstOccurrence) {
    const PosCase& row = GetParam();
    EXPECT_EQ(AnsiString(row.text).Pos(row.sought), row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PosTest,
    ::testing::Values(PosCase{"AtStart", ".BMP;.JPG;", ".BMP;", 1},
                      PosCase{"AtEnd", ".BMP;.JPG;.JPEG;", ".JPEG;", 11},
                      PosCase{"FirstOfTwo", "JPG.JPG", "JPG", 1},
                      PosCase{"Absent", ".BMP;.JPG;", ".GIF;", 0},
                      PosCase{"LetterCaseCounts", ".BMP;.JPG;", ".bmp;", 0},
                      PosCase{"SoughtLongerThanText", "JPG", "JPEG", 0},
                      PosCase{"EmptySought", "ABC", "", 0}, PosCase{"EmptyText", "", "A", 0},
                      PosCase{"AfterNonAsciiBytes", "caf\xC3\xA9.JPG", ".JPG", 6}),
    [](const auto& row) { return std::string(row.param.name); });

struct UpperCaseCase {
    const char* name;
    std::string text;
    std::string expected;
};

void PrintTo(const UpperCaseCase& row, std::ostream* os) {
    *os << row.name;
}

class UpperCaseTest : public ::testing::TestWithParam<UpperCaseCase> {};

TEST_P(UpperCaseTest, UpperCasesLetters) {
    const UpperCaseCase& row = GetParam();
    EXPECT_EQ(AnsiString(row.text).UpperCase().str(), row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, UpperCaseTest,
    ::testing::Values(
        UpperCaseCase{"Ascii", "Photo 1.jpg", "PHOTO 1.JPG"},
        UpperCaseCase{"AsciiNonLetters", "a-z_0@[`{~", "A-Z_0@[`{~"},
        UpperCaseCase{"Empty", "", ""},
        UpperCaseCase{"AccentedE", "caf\xC3\xA9.jpg", "CAF\xC3\x89.JPG"},
        UpperCaseCase{"SharpSGrows",
                      "stra\xC3\x9F"
                      "e.jpg",
                      "STRASSE.JPG"},
        UpperCaseCase{"DottedIIsRootLocale", "istanbul \xC3\xA9", "ISTANBUL \xC3\x89"},
        UpperCaseCase{"Cyrillic", "\xD1\x84\xD0\xBE\xD1\x82\xD0\xBE",
                      "\xD0\xA4\xD0\x9E\xD0\xA2\xD0\x9E"},
        UpperCaseCase{"InvalidByteKept",
                      "a\xFF"
                      "b\xE9.jpg",
                      "A\xFF"
                      "B\xE9.JPG"},
        UpperCaseCase{"TruncatedSequenceKept", "caf\xC3", "CAF\xC3"},
        UpperCaseCase{"EncodedSurrogateKept", "x\xED\xA0\x80y", "X\xED\xA0\x80Y"},
        UpperCaseCase{"OverlongSlashKept",
                      "a\xC0\xAF"
                      "b",
                      "A\xC0\xAF"
                      "B"},
        UpperCaseCase{"EmbeddedNul", std::string("a\0\xC3\xA9", 4), std::string("A\0\xC3\x89", 4)}),
    [](const auto& row) { return std::string(row.param.name); });

std::vector<std::string> Contents(const TStringList& list) {
    std::vector<std::string> contents;
    for (int i = 0; i < list.Count(); ++i)
        contents.push_back(list[i].str());
    return contents;
}

const std::vector<std::string> MixedCaseWithDuplicates = {
    "b.jpg", "A.BMP", "a.bmp", "B.JPG", "c.jpeg", "a.bmp", "caf\xC3\xA9", "CAF\xC3\x89", "_x"};
// Letter case ignored, then raw bytes: "A.BMP" before "a.bmp", and both copies of "a.bmp" kept.
const std::vector<std::string> MixedCaseSorted = {
    "A.BMP", "a.bmp", "a.bmp", "B.JPG", "b.jpg", "c.jpeg", "CAF\xC3\x89", "caf\xC3\xA9", "_x"};

TEST(StringListTest, SettingSortedOrdersIgnoringCaseAndKeepsDuplicates) {
    TStringList list;
    for (const auto& text : MixedCaseWithDuplicates)
        list.Add(AnsiString(text));
    EXPECT_EQ(Contents(list), MixedCaseWithDuplicates);
    list.SetSorted(true);
    EXPECT_EQ(Contents(list), MixedCaseSorted);
}

TEST(StringListTest, AddToSortedListInsertsInPlaceAndReturnsTheIndex) {
    TStringList list;
    list.SetSorted(true);
    for (const auto& text : MixedCaseWithDuplicates) {
        const int index = list.Add(AnsiString(text));
        ASSERT_EQ(list[index].str(), text);
    }
    EXPECT_EQ(Contents(list), MixedCaseSorted);
}

TEST(StringListTest, SortedInsertionAgreesWithSortingWhateverTheOrderOfAdding) {
    std::vector<std::string> texts = MixedCaseWithDuplicates;
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        std::shuffle(texts.begin(), texts.end(), random);
        TStringList inserted;
        inserted.SetSorted(true);
        for (const auto& text : texts)
            inserted.Add(AnsiString(text));
        EXPECT_EQ(Contents(inserted), MixedCaseSorted);
    }
}

TEST(StringListTest, ClearingSortedChangesNothingAndLaterAddsAppend) {
    TStringList list;
    list.Add("b");
    list.Add("a");
    list.SetSorted(true);
    list.SetSorted(false);
    EXPECT_EQ(Contents(list), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(list.Add("0"), 2);
    list.Clear();
    list.SetSorted(true);
    EXPECT_EQ(list.Add("x"), 0);
    EXPECT_EQ(list.Add("W"), 0);
}

TEST(StringListTest, IndexOutOfRangeThrowsWithTheIndex) {
    TStringList list;
    list.Add("only");
    EXPECT_THROW(list.Strings(1), EStringListError);
    EXPECT_THROW(list[-1], EStringListError);
    try {
        list.Strings(5);
        FAIL() << "no exception";
    } catch (const EStringListError& error) {
        EXPECT_STREQ(error.what(), "List index out of bounds (5)");
    }
}

} // namespace
