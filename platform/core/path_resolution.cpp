#include "platform/core/path_resolution.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <memory>
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

std::optional<std::string> RealPath(const fs::path& folder) {
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(folder.c_str(), nullptr),
                                                           &std::free);
    if (!real)
        return std::nullopt;
    return std::string(real.get());
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
        const auto realFolder = RealPath(folder);
        if (!realFolder)
            return std::nullopt;
        const std::lock_guard lock(m_mutex);
        bool rebuilt = false;
        FolderIndex* index = Current(*realFolder, folder, rebuilt);
        if (!index)
            return std::nullopt;
        if (auto found = Lookup(*index, folder, upperName))
            return found;
        // A listing that cannot vouch for an absence is redone once.
        if (rebuilt || !index->recentlyChanged)
            return std::nullopt;
        index = Rebuild(*realFolder, folder);
        return index ? Lookup(*index, folder, upperName) : std::nullopt;
    }

private:
    // The index of the folder, rebuilt when the folder is another one or has changed since.
    FolderIndex* Current(const std::string& realFolder, const fs::path& folder, bool& rebuilt) {
        const auto stamp = StampOf(folder);
        if (!stamp)
            return nullptr;
        const auto cached = m_indexes.find(realFolder);
        if (cached != m_indexes.end() && cached->second.stamp == *stamp)
            return &cached->second;
        rebuilt = true;
        return Rebuild(realFolder, folder);
    }

    FolderIndex* Rebuild(const std::string& realFolder, const fs::path& folder) {
        m_indexes.erase(realFolder);
        auto index = Build(folder);
        if (!index)
            return nullptr;
        if (m_indexes.size() >= MaxCachedFolders)
            DropOldest();
        index->builtAt = m_builds++;
        return &m_indexes.insert_or_assign(realFolder, std::move(*index)).first->second;
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
    std::unordered_map<std::string, FolderIndex> m_indexes; // by the folder's real path
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

} // namespace

std::optional<fs::path> ResolvePath(const AnsiString& fileName) {
    const std::string_view text = fileName.str();
    if (text.empty())
        return std::nullopt;
    fs::path resolved;
    if (text.front() == '\\' || text.front() == '/')
        resolved = "/";
    for (const std::string_view component : SplitComponents(text)) {
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
