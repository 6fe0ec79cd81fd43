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
    int code;  // an errno value; EBUSY when the lock was not had in time
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
// flushed, given the old file's permissions and hidden attribute (or the
// hidden attribute, with Hidden::set), then renamed over the old one. On any
// failure the old file stays as it was and the new one is removed. A file
// that may not be written is refused; a symbolic link keeps pointing at the
// replaced file.
FileResult<> commit(const std::filesystem::path& file, std::string_view bytes, Hidden hidden);

// An exclusive lock on the side file "<file>.lock", held until destroyed.
// The side file is created hidden and is never removed.
class Lock {
  public:
    Lock(Lock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Lock& operator=(Lock&&) = delete;
    ~Lock();

  private:
    friend FileResult<Lock> lock(const std::filesystem::path&, int);
    explicit Lock(int fd) : fd_(fd) {}
    int fd_;
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
    // FAT attributes of an open file (0x02 is hidden); nonzero return is an errno.
    std::function<int(int fd, std::uint32_t& attributes)> getAttributes;
    std::function<int(int fd, std::uint32_t attributes)> setAttributes;
};

// The hooks in force; tests replace members and restore them with reset().
Hooks& hooks();
void reset();

inline constexpr std::uint32_t hiddenAttribute = 0x02;

}  // namespace seam

}  // namespace quillory::files
