#pragma once

#include "platform/core/ansi_string.h"

#include <vector>

// A list of strings; owned by whoever created it, used by one thread at a time.
class TStringList {
public:
    // Appends (or, when sorted, inserts in order) and returns the index of the new string.
    int Add(const AnsiString& text);
    int Count() const { return static_cast<int>(m_strings.size()); }
    // Throws EStringListError for an index out of range.
    AnsiString Strings(int index) const;
    AnsiString operator[](int index) const { return Strings(index); }
    void Clear();

    // Setting it sorts the list ascending with letter case ignored; clearing it changes nothing.
    void SetSorted(bool sorted);

private:
    std::vector<AnsiString> m_strings;
    // While sorted: the upper-cased form of each string, parallel to m_strings.
    std::vector<AnsiString> m_sortKeys;
    bool m_sorted = false;
};
