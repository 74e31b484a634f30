#include "platform/core/ansi_string.h"

#include <algorithm>
#include <climits>
#include <optional>

#include <unicode/ustring.h>
#include <unicode/utypes.h>

namespace {

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string AsciiUpperCase(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// Nothing when the bytes are not well-formed UTF-8 (ICU rejects overlong forms and surrogates).
std::optional<std::u16string> Utf8ToUtf16(std::string_view text) {
    // A UTF-16 text never has more code units than its UTF-8 form has bytes.
    std::u16string wide(text.size(), u'\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(wide.data(), static_cast<int32_t>(wide.size()), &length, text.data(),
                  static_cast<int32_t>(text.size()), &status);
    if (U_FAILURE(status))
        return std::nullopt;
    wide.resize(static_cast<std::size_t>(length));
    return wide;
}

std::optional<std::u16string> FullUpperCase(const std::u16string& text) {
    // Full case mapping can grow a text ("ß" becomes "SS"); three units per unit is the worst case
    // in current Unicode, and a retry with the reported length covers any later growth.
    std::u16string upper(text.size() * 3, u'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        UErrorCode status = U_ZERO_ERROR;
        // The root locale: names must not change with the user's language settings.
        const int32_t length =
            u_strToUpper(upper.data(), static_cast<int32_t>(upper.size()), text.data(),
                         static_cast<int32_t>(text.size()), "", &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            upper.assign(static_cast<std::size_t>(length), u'\0');
            continue;
        }
        if (U_FAILURE(status))
            return std::nullopt;
        upper.resize(static_cast<std::size_t>(length));
        return upper;
    }
    return std::nullopt;
}

std::optional<std::string> Utf16ToUtf8(const std::u16string& text) {
    std::string narrow(text.size() * 3, '\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strToUTF8(narrow.data(), static_cast<int32_t>(narrow.size()), &length, text.data(),
                static_cast<int32_t>(text.size()), &status);
    if (U_FAILURE(status))
        return std::nullopt;
    narrow.resize(static_cast<std::size_t>(length));
    return narrow;
}

std::optional<std::string> UnicodeUpperCase(std::string_view text) {
    // ICU counts in int32_t; the largest UTF-16 buffer must fit too.
    if (text.size() > INT32_MAX / 3)
        return std::nullopt;
    const auto wide = Utf8ToUtf16(text);
    if (!wide)
        return std::nullopt;
    const auto upper = FullUpperCase(*wide);
    if (!upper)
        return std::nullopt;
    return Utf16ToUtf8(*upper);
}

} // namespace

AnsiString::AnsiString(const char* text) : m_text(text ? text : "") {}

AnsiString::AnsiString(std::string text) : m_text(std::move(text)) {}

AnsiString::AnsiString(std::string_view text) : m_text(text) {}

int AnsiString::Pos(const AnsiString& text) const {
    if (text.m_text.empty())
        return 0;
    const auto found = m_text.find(text.m_text);
    return found == std::string::npos ? 0 : static_cast<int>(found) + 1;
}

AnsiString AnsiString::UpperCase() const {
    if (IsAscii(m_text))
        return AnsiString(AsciiUpperCase(m_text));
    if (auto upper = UnicodeUpperCase(m_text))
        return AnsiString(std::move(*upper));
    return AnsiString(AsciiUpperCase(m_text));
}

AnsiString& AnsiString::operator+=(const AnsiString& other) {
    m_text += other.m_text;
    return *this;
}
