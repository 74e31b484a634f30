#pragma once

#include <compare>
#include <string>
#include <string_view>

// An 8-bit string passed by value. Names and paths are held as UTF-8 bytes where they come from the
// file system. Any thread may use its own copies.
class AnsiString {
public:
    AnsiString() = default;
    AnsiString(const char* text);
    AnsiString(std::string text);
    AnsiString(std::string_view text);

    const char* c_str() const { return m_text.c_str(); }
    const std::string& str() const { return m_text; }
    bool IsEmpty() const { return m_text.empty(); }

    // 1-based position of the first occurrence of text, bytes compared exactly; 0 when absent.
    int Pos(const AnsiString& text) const;
    // Letter case of the user's text: Unicode-aware for UTF-8 (so "straße" becomes "STRASSE"),
    // ASCII letters only for bytes that are not valid UTF-8.
    AnsiString UpperCase() const;

    AnsiString& operator+=(const AnsiString& other);
    friend AnsiString operator+(AnsiString left, const AnsiString& right) { return left += right; }
    friend bool operator==(const AnsiString&, const AnsiString&) = default;
    // NOLINTNEXTLINE(modernize-use-nullptr): the defaulted comparison has no pointer in it
    friend std::strong_ordering operator<=>(const AnsiString&, const AnsiString&) = default;

private:
    std::string m_text;
};
