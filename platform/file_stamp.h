// What tells one content of a file from the next without reading it: device,
// inode, size and modification time. FileCache keeps a value derived from a
// file and derives it again only when the file's stamp has changed.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace platform {

struct FileStamp {
    bool exists = false;
    std::uint64_t device = 0, inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0, changedNs = 0;  // modification and status change, ns since the epoch
    // A file written again within the file system's timestamp granularity
    // keeps its times (and, written in place, its size): a stamp taken that
    // soon after the last write cannot vouch for the content.
    bool settled = false;

    bool SameContentAs(const FileStamp& other) const {
        return exists == other.exists && device == other.device && inode == other.inode && size == other.size &&
               modifiedNs == other.modifiedNs && changedNs == other.changedNs;
    }
};

// The file's stamp now (exists = false when there is no such file).
FileStamp StampFile(const std::wstring& path);

// Values derived from files (a parse, a version), one per path, each derived
// again when its file changed. Thread-safe; `derive` runs under the cache's
// lock, at most once per change of the file.
template <class T>
class FileCache {
public:
    using Derive = std::function<T(const std::wstring& path, bool exists)>;
    explicit FileCache(Derive derive) : derive_(std::move(derive)) {}

    T Get(const std::wstring& path) {
        // The stamp is taken before the file is read: a change during the read
        // shows as a new stamp next time.
        FileStamp now = StampFile(path);
        std::lock_guard<std::mutex> lock(mutex_);
        Entry& e = entries_[path];
        if (!e.valid || !e.stamp.settled || !e.stamp.SameContentAs(now)) {
            e.value = derive_(path, now.exists);
            e.stamp = now;
            e.valid = true;
        }
        return e.value;
    }

private:
    struct Entry {
        FileStamp stamp;
        T value{};
        bool valid = false;
    };
    Derive derive_;
    std::mutex mutex_;
    std::map<std::wstring, Entry> entries_;
};

}  // namespace platform
