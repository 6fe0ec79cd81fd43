// The catalogue file on disk: read whole, replaced atomically, changed under
// a lock on a side file. Every file-system call goes through one seam, so
// that tests can fail any of them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "store/result.h"

namespace quillory::files {

enum class Step { read, lock, write };

struct FileError {
    Step step;
    // An errno value; EBUSY when the lock was not had in time. Windows errors
    // are given as errno values too: access denied is EACCES, a full disk
    // ENOSPC, a write-protected disk EROFS, a sharing or lock violation EBUSY,
    // a missing file or folder ENOENT, anything else EIO.
    int code;
};

template <class T = void>
using FileResult = Result<T, FileError>;

struct Snapshot {
    bool exists = false;
    std::string bytes;
};

// The whole file in one read. A missing file is an absent, empty snapshot;
// any other failure is an error, never an empty snapshot.
FileResult<Snapshot> readWhole(const std::filesystem::path& file);

enum class Hidden { keep, set };

// Replaces the file with bytes: a new file in the same folder, written,
// flushed, given the old file's permissions (POSIX) and attributes (with
// Hidden::set, the hidden attribute added), then renamed over the old one.
// On any failure the old file stays as it was and the new one is removed. A
// file that may not be written is refused; a symbolic link keeps pointing at
// the replaced file.
FileResult<> commit(const std::filesystem::path& file, std::string_view bytes, Hidden hidden);

// An open file of the platform: a descriptor on POSIX, a HANDLE on Windows.
#ifdef _WIN32
using Handle = void*;
inline constexpr Handle noHandle = nullptr;
#else
using Handle = int;
inline constexpr Handle noHandle = -1;
#endif

// An exclusive lock on the side file "<file>.lock", held until destroyed.
// The side file is created hidden and is never removed.
class Lock {
  public:
    Lock(Lock&& other) noexcept : handle_(std::exchange(other.handle_, noHandle)) {}
    Lock& operator=(Lock&&) = delete;
    ~Lock();

  private:
    friend FileResult<Lock> lock(const std::filesystem::path&, int);
    explicit Lock(Handle handle) : handle_(handle) {}
    Handle handle_;
};

// A lock not had within patienceMs milliseconds fails with EBUSY.
FileResult<Lock> lock(const std::filesystem::path& file, int patienceMs = 2000);

// Removes new versions of the file left behind by a process that died while
// writing one. Run it while holding the lock, so no live writer loses its own.
void removeLeftovers(const std::filesystem::path& file);

// True for the name of such a leftover of file: "<name>.<pid>-<number>.tmp".
bool isLeftover(const std::filesystem::path& file, const std::filesystem::path& candidate);

std::filesystem::path executableDirectory();

// The folder that holds file; "." for a bare name.
std::filesystem::path folderOf(const std::filesystem::path& file);

// The seam under every call above.
namespace seam {

enum class Call { open, read, write, fsync, close, rename, unlink, stat, chmod, lock };

// Answers each call: 0 lets it run, an errno value fails it, shortWrite makes
// a write store only part of its bytes.
inline constexpr int shortWrite = -1;

struct Hooks {
    std::function<int(Call)> fail;
    // Attributes of an open file, FAT's on POSIX and the file's own on
    // Windows, which share their low bits (0x02 is hidden); nonzero return
    // is an errno.
    std::function<int(Handle file, std::uint32_t& attributes)> getAttributes;
    std::function<int(Handle file, std::uint32_t attributes)> setAttributes;
};

// The hooks in force; tests replace members and restore them with reset().
Hooks& hooks();
void reset();

// The real calls of this platform, defined by its half of the file layer.
Hooks defaults();

// Asks the hooks about a call; true, with errno set, when it is to fail.
bool injected(Call call);

inline constexpr std::uint32_t hiddenAttribute = 0x02;

}  // namespace seam

}  // namespace quillory::files
