#include "platform/core/path_resolution.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <vector>

#include <sys/stat.h>

// The program writes its paths with upper-cased names (".\DATA\PHOTO.JPG") and counts on a file
// system that finds a file whatever the letter case of its name. Linux names are case-sensitive,
// so a component that does not exist as written is looked up by its upper-cased form among the
// folder's entries. Listing a folder for each such look-up would make a gallery fill quadratic in
// the number of files, so each folder's listing is kept as an index from upper-cased name to real
// name, shared by all threads and rebuilt when the folder changes.

namespace fs = std::filesystem;

namespace {

constexpr std::size_t MaxCachedFolders = 64;

// File systems stamp changes with a coarse clock (down to two seconds on some). A folder changed
// this shortly before its listing may change again without its stamp moving, so its index is not
// trusted to prove that a name is absent.
constexpr std::chrono::seconds StampGranularity{2};

struct FolderStamp {
    dev_t device = 0;
    ino_t inode = 0;
    timespec modified{};
    timespec changed{};

    friend bool operator==(const FolderStamp& left, const FolderStamp& right) {
        return left.device == right.device && left.inode == right.inode &&
               left.modified.tv_sec == right.modified.tv_sec &&
               left.modified.tv_nsec == right.modified.tv_nsec &&
               left.changed.tv_sec == right.changed.tv_sec &&
               left.changed.tv_nsec == right.changed.tv_nsec;
    }
};

std::optional<FolderStamp> StampOf(const fs::path& folder) {
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        return std::nullopt;
    return FolderStamp{status.st_dev, status.st_ino, status.st_mtim, status.st_ctim};
}

std::chrono::system_clock::time_point ToTimePoint(const timespec& time) {
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(time.tv_sec) + std::chrono::nanoseconds(time.tv_nsec)));
}

bool EntryExists(const fs::path& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

struct FolderIndex {
    FolderStamp stamp;
    bool recentlyChanged = false;
    std::uint64_t builtAt = 0; // order of building, for dropping the oldest
    std::unordered_map<std::string, std::string> realNames; // upper-cased name -> name
};

// The indexes of recently searched folders and the lock that guards them.
class FolderIndexCache {
public:
    static FolderIndexCache& Instance() {
        static FolderIndexCache cache;
        return cache;
    }

    // The real name of the entry of folder whose upper-cased name is upperName.
    std::optional<std::string> Find(const fs::path& folder, const std::string& upperName) {
        // The folder's device and inode name it whatever path leads there, at the cost of one
        // stat, which the stamp needs anyway (realpath would cost a system call per component).
        const auto stamp = StampOf(folder);
        if (!stamp)
            return std::nullopt;
        const FolderKey key{stamp->device, stamp->inode};
        const std::lock_guard lock(m_mutex);
        bool rebuilt = false;
        FolderIndex* index = Current(key, *stamp, folder, rebuilt);
        if (!index)
            return std::nullopt;
        if (auto found = Lookup(*index, folder, upperName))
            return found;
        // A listing that cannot vouch for an absence is redone once.
        if (rebuilt || !index->recentlyChanged)
            return std::nullopt;
        index = Rebuild(key, folder);
        return index ? Lookup(*index, folder, upperName) : std::nullopt;
    }

private:
    struct FolderKey {
        dev_t device;
        ino_t inode;
        friend bool operator==(const FolderKey&, const FolderKey&) = default;
    };
    struct FolderKeyHash {
        std::size_t operator()(const FolderKey& key) const {
            return std::hash<std::uint64_t>()(std::uint64_t(key.inode) * 0x9E3779B97F4A7C15ULL ^
                                              std::uint64_t(key.device));
        }
    };

    // The index of the folder, rebuilt when the folder has changed since.
    FolderIndex* Current(const FolderKey& key, const FolderStamp& stamp, const fs::path& folder,
                         bool& rebuilt) {
        const auto cached = m_indexes.find(key);
        if (cached != m_indexes.end() && cached->second.stamp == stamp)
            return &cached->second;
        rebuilt = true;
        return Rebuild(key, folder);
    }

    FolderIndex* Rebuild(const FolderKey& key, const fs::path& folder) {
        m_indexes.erase(key);
        auto index = Build(folder);
        if (!index)
            return nullptr;
        if (m_indexes.size() >= MaxCachedFolders)
            DropOldest();
        index->builtAt = m_builds++;
        // Built from a newer stamp than the key's when the folder changed meanwhile; the next
        // look-up then rebuilds it, as it would any stale index.
        return &m_indexes.insert_or_assign(key, std::move(*index)).first->second;
    }

    static std::optional<FolderIndex> Build(const fs::path& folder) {
        const auto listedAt = std::chrono::system_clock::now();
        // The stamp is taken before the listing: a change during it shows as a newer stamp.
        const auto stamp = StampOf(folder);
        if (!stamp)
            return std::nullopt;
        FolderIndex index;
        index.stamp = *stamp;
        // Only the modification time moves when entries come and go; the change time may be
        // recent for other reasons (the folder's own permissions) without making the listing racy.
        index.recentlyChanged = ToTimePoint(stamp->modified) + StampGranularity >= listedAt;
        std::error_code error;
        for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
             entry.increment(error)) {
            std::string name = entry->path().filename().string();
            std::string key = AnsiString(name).UpperCase().str();
            // Names that differ only in letter case: the smallest wins, whatever the listing
            // order, so that every look-up gives the same file.
            auto [slot, inserted] = index.realNames.try_emplace(std::move(key), name);
            if (!inserted && name < slot->second)
                slot->second = std::move(name);
        }
        if (error)
            return std::nullopt;
        return index;
    }

    static std::optional<std::string> Lookup(const FolderIndex& index, const fs::path& folder,
                                             const std::string& upperName) {
        const auto found = index.realNames.find(upperName);
        // The stamp may have missed a change; the entry itself has the last word.
        if (found == index.realNames.end() || !EntryExists(folder / found->second))
            return std::nullopt;
        return found->second;
    }

    void DropOldest() {
        auto oldest = m_indexes.begin();
        for (auto it = m_indexes.begin(); it != m_indexes.end(); ++it) {
            if (it->second.builtAt < oldest->second.builtAt)
                oldest = it;
        }
        if (oldest != m_indexes.end())
            m_indexes.erase(oldest);
    }

    std::mutex m_mutex;
    std::unordered_map<FolderKey, FolderIndex, FolderKeyHash> m_indexes;
    std::uint64_t m_builds = 0;
};

std::vector<std::string_view> SplitComponents(std::string_view path) {
    std::vector<std::string_view> components;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = path.find_first_of("\\/", start);
        const std::size_t stop = end == std::string_view::npos ? path.size() : end;
        if (stop > start)
            components.push_back(path.substr(start, stop - start));
        start = stop + 1;
    }
    return components;
}

bool IsAbsolute(std::string_view path) {
    return !path.empty() && (path.front() == '\\' || path.front() == '/');
}

std::string JoinWritten(bool absolute, const std::vector<std::string_view>& components) {
    std::string written = absolute ? "/" : "";
    for (std::size_t i = 0; i < components.size(); ++i)
        written.append(i == 0 ? "" : "/").append(components[i]);
    return written;
}

} // namespace

std::string WrittenPath(const AnsiString& fileName) {
    const std::string_view text = fileName.str();
    return JoinWritten(IsAbsolute(text), SplitComponents(text));
}

std::optional<fs::path> ResolvePath(const AnsiString& fileName) {
    const std::string_view text = fileName.str();
    if (text.empty())
        return std::nullopt;
    const bool absolute = IsAbsolute(text);
    const std::vector<std::string_view> components = SplitComponents(text);
    // Nearly every path the program writes exists as written. Then every leading part of it does
    // too, so one lstat of the whole gives what the walk below would give, without a call per
    // component.
    std::string written = JoinWritten(absolute, components);
    if (EntryExists(written))
        return fs::path(std::move(written));
    fs::path resolved;
    if (absolute)
        resolved = "/";
    for (const std::string_view component : components) {
        fs::path candidate = resolved / component;
        if (EntryExists(candidate)) {
            resolved = std::move(candidate);
            continue;
        }
        const fs::path folder = resolved.empty() ? fs::path(".") : resolved;
        const auto realName =
            FolderIndexCache::Instance().Find(folder, AnsiString(component).UpperCase().str());
        if (!realName)
            return std::nullopt;
        resolved /= *realName;
    }
    return resolved;
}
