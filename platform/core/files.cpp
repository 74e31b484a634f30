#include "platform/core/files.h"

#include "platform/core/path_resolution.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The codes that the search calls return on the platform the program was written for.
constexpr int PathNotFound = 3;
constexpr int NoMoreFiles = 18;

constexpr int SelectableAttributes = faHidden | faSysFile | faVolumeID | faDirectory;

// Past a UTF-8 sequence, so that "?" stands for one character rather than one byte.
std::size_t NextCharacter(std::string_view text, std::size_t at) {
    ++at;
    while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
        ++at;
    return at;
}

bool MatchesWildcard(std::string_view name, std::string_view mask) {
    std::size_t n = 0;
    std::size_t m = 0;
    std::size_t starMask = std::string_view::npos;
    std::size_t starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == '*') {
            starMask = ++m;
            starName = n;
        } else if (m < mask.size() && mask[m] == '?') {
            ++m;
            n = NextCharacter(name, n);
        } else if (m < mask.size() && mask[m] == name[n]) {
            ++m;
            ++n;
        } else if (starMask != std::string_view::npos) {
            starName = NextCharacter(name, starName);
            n = starName;
            m = starMask;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*')
        ++m;
    return m == mask.size();
}

// Letter case ignored, and a mask ending in ".*" also takes names without any dot, as "*.*" takes
// every name on the platform the program was written for.
bool NameMatches(const AnsiString& name, const std::string& upperMask) {
    const std::string upperName = name.UpperCase().str();
    if (MatchesWildcard(upperName, upperMask))
        return true;
    return upperMask.ends_with(".*") &&
           MatchesWildcard(upperName, std::string_view(upperMask).substr(0, upperMask.size() - 2));
}

int AttributesOf(const fs::file_status& status, bool hiddenName) {
    int attributes = hiddenName ? faHidden : 0;
    if (fs::is_directory(status))
        attributes |= faDirectory;
    else if (fs::is_regular_file(status))
        attributes |= faArchive;
    if (fs::exists(status) && (status.permissions() & fs::perms::owner_write) == fs::perms::none)
        attributes |= faReadOnly;
    return attributes;
}

struct FoundEntry {
    AnsiString name;
    int attributes = 0;
    std::int64_t size = 0;
};

} // namespace

struct TFindState {
    fs::path folder;
    std::string upperMask;
    int excluded = 0;
    int dotEntriesDelivered = 0; // "." then ".." come before the folder's own entries
    fs::directory_iterator entries;
    bool ended = false;
};

namespace {

FoundEntry DotEntry(const fs::path& folder, const char* name) {
    std::error_code error;
    const auto status = fs::status(folder / name, error);
    // Not hidden although their names start with a dot: a search for folders expects them.
    return FoundEntry{name, AttributesOf(status, false), 0};
}

FoundEntry FolderEntry(const fs::directory_entry& entry) {
    FoundEntry found;
    found.name = AnsiString(entry.path().filename().string());
    std::error_code error;
    // Through links, so that a link to a folder is a folder; a dangling link gets no type bits.
    const auto status = entry.status(error);
    found.attributes = AttributesOf(status, found.name.str().starts_with('.'));
    if (fs::is_regular_file(status)) {
        const auto size = entry.file_size(error);
        found.size = error ? 0 : static_cast<std::int64_t>(size);
    }
    return found;
}

// The next entry of the search, if any is left.
std::optional<FoundEntry> NextEntry(TFindState& state) {
    if (state.dotEntriesDelivered == 0) {
        ++state.dotEntriesDelivered;
        return DotEntry(state.folder, ".");
    }
    if (state.dotEntriesDelivered == 1) {
        ++state.dotEntriesDelivered;
        return DotEntry(state.folder, "..");
    }
    if (state.ended || state.entries == fs::directory_iterator())
        return std::nullopt;
    FoundEntry found = FolderEntry(*state.entries);
    std::error_code error;
    state.entries.increment(error);
    if (error)
        state.ended = true;
    return found;
}

struct SplitPattern {
    std::string folder;
    std::string mask;
};

SplitPattern Split(const std::string& pattern) {
    const auto separator = pattern.find_last_of("\\/");
    if (separator == std::string::npos)
        return {".", pattern};
    // A pattern such as "\*.*" searches the root.
    std::string folder = separator == 0 ? pattern.substr(0, 1) : pattern.substr(0, separator);
    return {std::move(folder), pattern.substr(separator + 1)};
}

} // namespace

TSearchRec::TSearchRec() = default;
TSearchRec::~TSearchRec() = default;

int FindFirst(const AnsiString& pattern, int attributes, TSearchRec& searchRec) {
    FindClose(searchRec);
    const SplitPattern split = Split(pattern.str());
    const auto folder = ResolvePath(AnsiString(split.folder));
    if (!folder)
        return PathNotFound;
    auto state = std::make_unique<TFindState>();
    std::error_code error;
    state->entries = fs::directory_iterator(*folder, error);
    if (error)
        return PathNotFound;
    state->folder = *folder;
    state->upperMask = AnsiString(split.mask).UpperCase().str();
    state->excluded = ~attributes & SelectableAttributes;
    searchRec.FindHandle = std::move(state);
    const int result = FindNext(searchRec);
    if (result != 0)
        FindClose(searchRec);
    return result;
}

int FindNext(TSearchRec& searchRec) {
    if (!searchRec.FindHandle)
        return NoMoreFiles;
    TFindState& state = *searchRec.FindHandle;
    while (auto found = NextEntry(state)) {
        if ((found->attributes & state.excluded) != 0 || !NameMatches(found->name, state.upperMask))
            continue;
        searchRec.Name = std::move(found->name);
        searchRec.Attr = found->attributes;
        searchRec.Size = found->size;
        return 0;
    }
    return NoMoreFiles;
}

void FindClose(TSearchRec& searchRec) {
    searchRec.FindHandle.reset();
}

bool FileExists(const AnsiString& fileName) {
    const auto path = ResolvePath(fileName);
    if (!path)
        return false;
    std::error_code error;
    return fs::is_regular_file(fs::status(*path, error));
}

AnsiString ExtractFileExt(const AnsiString& fileName) {
    const std::string& text = fileName.str();
    const auto delimiter = text.find_last_of(".\\:");
    if (delimiter == std::string::npos || text[delimiter] != '.')
        return {};
    return AnsiString(text.substr(delimiter));
}

AnsiString ExtractFileName(const AnsiString& fileName) {
    const std::string& text = fileName.str();
    const auto delimiter = text.find_last_of("\\:");
    return delimiter == std::string::npos ? fileName : AnsiString(text.substr(delimiter + 1));
}
