#include "platform/file_stamp.h"

#include <sys/stat.h>
#include <time.h>

#include "platform/paths.h"

namespace platform {
namespace {

// Wider than the coarsest timestamps of the file systems we may meet (FAT: 2 s).
constexpr std::int64_t kRacyWindowNs = 3'000'000'000LL;

std::int64_t Ns(const timespec& t) { return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000LL + t.tv_nsec; }

}  // namespace

FileStamp StampFile(const std::wstring& path) {
    FileStamp s;
    struct stat st {};
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    if (::stat(NativePath(path).c_str(), &st) != 0) {
        s.settled = true;  // nothing to be rewritten unseen: a new file gets a stamp that differs
        return s;
    }
    s.exists = true;
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.size = st.st_size;
    s.modifiedNs = Ns(st.st_mtim);
    s.changedNs = Ns(st.st_ctim);
    std::int64_t newest = s.modifiedNs > s.changedNs ? s.modifiedNs : s.changedNs;
    // A clock stepped back makes a file look newer than now: not settled until
    // the window has passed again, which only costs re-reads.
    s.settled = Ns(now) - newest > kRacyWindowNs;
    return s;
}

}  // namespace platform
