// The client's rules for the files it writes and reads, in one place.
//
// What it writes (logs, dumps, the browser profile with its cookie jar, the
// start file, the voice identity key) is this user's alone: every folder of
// its own is a real folder owned by the user, 0700; every file is a regular
// file owned by the user with one link, 0600. The rules are checked on the
// open descriptor (after opening, with no symbolic link followed), so that a
// file or folder another user put in place beforehand is refused, never used.
// A folder the client did not make (the executable's folder, ~/.local/state)
// is never changed; only its own folders and files are narrowed.
//
// What it reads cannot stall it: a file is opened non-blocking (a FIFO in
// its place returns at once), must be a regular file, and is read up to a
// bound.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace platform {

// --- Checks ---------------------------------------------------------------

// Whether the open descriptor `fd` is a folder (`folder`) or a regular file
// with one link, owned by this user; access for the group and others is
// taken away (the only change made). False with `why` ("belongs to user
// 65534", "is a FIFO, not a regular file", ...) otherwise.
bool CheckOwnDescriptor(int fd, bool folder, std::string* why);

// Whether `path`, when it exists, and everything under it (a bounded walk
// that follows no link) belong to this user: nothing in it can have been
// put there by someone else. Changes nothing. True when `path` is missing.
bool OwnedThroughout(const std::wstring& path, std::string* why);

// Whether this user alone may write into the existing folder `path`: owned
// by the user, not writable by the group or others, and writable (a
// read-only mount is not).
bool FolderClosedToOthers(const std::wstring& path, std::string* why);

// --- Private folders ------------------------------------------------------

// Makes `folder` private. The levels of `folder` below `base` are the
// client's own: each is created 0700 or, when it exists, must be a folder
// of this user (a symbolic link is refused) and is narrowed to 0700. `base`
// itself is made (0700, with missing parents) when missing and never
// changed otherwise. `folder` equal to `base` only checks that it exists.
// False with `why` naming the refused level.
bool MakePrivateFolder(const std::wstring& base, const std::wstring& folder, std::string* why);

// Creates the directory and missing parents, each new one 0700 whatever the
// umask; an existing one is left as it is. True when it exists afterwards.
bool CreateDirectories(const std::wstring& path);

// --- Writing ----------------------------------------------------------------

// Opens a file for appending: a new one is created (exclusively) 0600, an
// existing one must pass CheckOwnDescriptor. Null with `why` otherwise.
std::FILE* OpenFileForAppend(const std::wstring& path, std::string* why = nullptr);
// Creates an empty private file, or checks (and narrows) an existing one;
// for files another library fills (a cookie database).
bool EnsurePrivateFile(const std::wstring& path, std::string* why = nullptr);
// Writes a whole file through a new private file renamed over `path`, so that
// a reader never sees half of it and whatever stood at `path` is replaced,
// not written into. False on failure.
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool DeleteFileAt(const std::wstring& path);

// --- Reading ----------------------------------------------------------------

// Configuration files (deployment, registry, INI) are small.
constexpr std::size_t kMaxConfigFileBytes = 1024 * 1024;
enum class ReadStatus { Ok, Missing, NotAFile, TooLarge, Unreadable, NotOwn };

// Reads a whole regular file of at most `maxBytes`, whoever owns it.
ReadStatus ReadConfigFile(const std::wstring& path, std::string& out, std::size_t maxBytes = kMaxConfigFileBytes);
// The same as a yes or no.
bool ReadFileBytes(const std::wstring& path, std::string& out, std::size_t maxBytes = kMaxConfigFileBytes);
// Reads a file of this user's that nobody else may read or write: owned by
// the user and without access for the group or others (a key, a memo the
// client wrote itself). NotOwn, with `why`, for any other.
ReadStatus ReadOwnPrivateFile(const std::wstring& path, std::string& out, std::size_t maxBytes,
                              std::string* why = nullptr);
// "too large (over 1048576 bytes)" and the like, for log lines.
std::string ReadStatusText(ReadStatus status, std::size_t maxBytes = kMaxConfigFileBytes);

// Opens a file to read a part of it (a binary's notes): non-blocking, a
// regular file of at most `maxBytes`. Null otherwise.
std::FILE* OpenRegularFileForReading(const std::wstring& path, std::size_t maxBytes);

}  // namespace platform
