#include "platform/core/string_list.h"

#include "platform/core/exception.h"

#include <algorithm>
#include <numeric>
#include <string>

namespace {

// Letter case ignored first; the raw bytes break ties so that the order is total and the same on
// every run.
bool SortsBefore(const AnsiString& leftKey, const AnsiString& left, const AnsiString& rightKey,
                 const AnsiString& right) {
    if (leftKey != rightKey)
        return leftKey < rightKey;
    return left < right;
}

} // namespace

int TStringList::Add(const AnsiString& text) {
    if (!m_sorted) {
        m_strings.push_back(text);
        return Count() - 1;
    }
    AnsiString key = text.UpperCase();
    // After any equal strings, so that duplicates keep the order in which they were added.
    std::size_t low = 0;
    std::size_t high = m_strings.size();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (SortsBefore(key, text, m_sortKeys[middle], m_strings[middle]))
            high = middle;
        else
            low = middle + 1;
    }
    const auto offset = static_cast<std::ptrdiff_t>(low);
    m_strings.insert(m_strings.begin() + offset, text);
    m_sortKeys.insert(m_sortKeys.begin() + offset, std::move(key));
    return static_cast<int>(low);
}

AnsiString TStringList::Strings(int index) const {
    if (index < 0 || index >= Count())
        throw EStringListError("List index out of bounds (" + std::to_string(index) + ")");
    return m_strings[static_cast<std::size_t>(index)];
}

void TStringList::Clear() {
    m_strings.clear();
    m_sortKeys.clear();
}

void TStringList::SetSorted(bool sorted) {
    if (sorted == m_sorted)
        return;
    m_sorted = sorted;
    if (!sorted) {
        m_sortKeys.clear();
        return;
    }
    std::vector<AnsiString> keys;
    keys.reserve(m_strings.size());
    for (const AnsiString& text : m_strings)
        keys.push_back(text.UpperCase());
    std::vector<std::size_t> order(m_strings.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t left, std::size_t right) {
        return SortsBefore(keys[left], m_strings[left], keys[right], m_strings[right]);
    });
    std::vector<AnsiString> sortedStrings;
    sortedStrings.reserve(order.size());
    m_sortKeys.clear();
    m_sortKeys.reserve(order.size());
    for (const std::size_t from : order) {
        sortedStrings.push_back(std::move(m_strings[from]));
        m_sortKeys.push_back(std::move(keys[from]));
    }
    m_strings = std::move(sortedStrings);
}
