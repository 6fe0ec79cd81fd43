// The file layer on POSIX: open file description locks, rename and a
// folder fsync, FAT attributes through their ioctl.
#include "store/profile_file.h"

#include <fcntl.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <random>
#include <system_error>
#include <thread>  // also the clock and durations: <chrono> itself holds a text GBK cannot

namespace quillory::files {
namespace seam {
namespace {

int realGetAttributes(Handle fd, std::uint32_t& attributes) {
    __u32 a = 0;
    if (ioctl(fd, FAT_IOCTL_GET_ATTRIBUTES, &a) != 0) return errno;
    attributes = a;
    return 0;
}

int realSetAttributes(Handle fd, std::uint32_t attributes) {
    __u32 a = attributes;
    return ioctl(fd, FAT_IOCTL_SET_ATTRIBUTES, &a) == 0 ? 0 : errno;
}

}  // namespace

Hooks defaults() {
    return Hooks{[](Call) { return 0; }, realGetAttributes, realSetAttributes};
}

}  // namespace seam

namespace {

using seam::Call;
using seam::injected;

int sysOpen(const std::filesystem::path& p, int flags, mode_t mode = 0) {
    if (injected(Call::open)) return -1;
    return ::open(p.c_str(), flags | O_CLOEXEC, mode);
}

ssize_t sysRead(int fd, char* buffer, size_t n) {
    if (injected(Call::read)) return -1;
    return ::read(fd, buffer, n);
}

ssize_t sysWrite(int fd, const char* data, size_t n) {
    int e = seam::hooks().fail(Call::write);
    if (e > 0) {
        errno = e;
        return -1;
    }
    if (e == seam::shortWrite && n > 1) n /= 2;
    return ::write(fd, data, n);
}

int sysFsync(int fd) {
    return injected(Call::fsync) ? -1 : ::fsync(fd);
}
int sysClose(int fd) {
    if (injected(Call::close)) {
        ::close(fd);  // the descriptor is gone either way, as after a real failure
        return -1;
    }
    return ::close(fd);
}
int sysRename(const std::filesystem::path& from, const std::filesystem::path& to) {
    return injected(Call::rename) ? -1 : ::rename(from.c_str(), to.c_str());
}
int sysUnlink(const std::filesystem::path& p) {
    return injected(Call::unlink) ? -1 : ::unlink(p.c_str());
}
int sysFstat(int fd, struct stat& st) {
    return injected(Call::stat) ? -1 : ::fstat(fd, &st);
}
int sysFchmod(int fd, mode_t mode) {
    return injected(Call::chmod) ? -1 : ::fchmod(fd, mode);
}
int sysLock(int fd) {
    if (injected(Call::lock)) return -1;
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    return ::fcntl(fd, F_OFD_SETLK, &fl);
}

// Files of 1 GiB and more are refused rather than half understood.
constexpr off_t maximumSize = off_t(1) << 30;

FileError error(Step step, int code) {
    return FileError{step, code};
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = sysWrite(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        bytes.remove_prefix(size_t(n));
    }
    return true;
}

std::filesystem::path leftoverName(const std::filesystem::path& file) {
    static std::atomic<unsigned> counter{0};
    static const unsigned salt = std::random_device{}();
    std::string name = file.filename().string();
    name += '.';
    name += std::to_string(::getpid());
    name += '-';
    name += std::to_string(salt ^ counter.fetch_add(1));
    name += ".tmp";
    return file.parent_path() / name;
}

}  // namespace

FileResult<Snapshot> readWhole(const std::filesystem::path& file) {
    int fd = sysOpen(file, O_RDONLY);
    if (fd < 0) {
        if (errno == ENOENT) return Snapshot{};
        return error(Step::read, errno);
    }
    struct stat st {};
    if (sysFstat(fd, st) != 0) {
        int e = errno;
        ::close(fd);
        return error(Step::read, e);
    }
    if (st.st_size >= maximumSize) {
        ::close(fd);
        return error(Step::read, EFBIG);
    }
    Snapshot snapshot{true, {}};
    snapshot.bytes.resize(size_t(st.st_size) + 1);
    size_t used = 0;
    for (;;) {
        if (used == snapshot.bytes.size()) snapshot.bytes.resize(used * 2);
        ssize_t n = sysRead(fd, snapshot.bytes.data() + used, snapshot.bytes.size() - used);
        if (n < 0) {
            if (errno == EINTR) continue;
            int e = errno;
            ::close(fd);
            return error(Step::read, e);
        }
        if (n == 0) break;
        used += size_t(n);
        if (used >= size_t(maximumSize)) {
            ::close(fd);
            return error(Step::read, EFBIG);
        }
    }
    ::close(fd);
    snapshot.bytes.resize(used);
    return snapshot;
}

FileResult<> commit(const std::filesystem::path& link, std::string_view bytes, Hidden hidden) {
    // A catalogue reached through a symbolic link is replaced where it lies.
    std::filesystem::path file = link;
    std::error_code ec;
    if (std::filesystem::is_symlink(link, ec)) {
        auto real = std::filesystem::weakly_canonical(link, ec);
        if (!ec) file = real;
    }
    // What the old file carries over: its permissions and its hidden
    // attribute. It is opened for writing so that a file the user may not
    // change is refused, not replaced behind its back.
    bool oldExists = false;
    mode_t mode = 0666;
    std::uint32_t attributes = 0;
    bool haveAttributes = false;
    if (int old = sysOpen(file, O_RDWR); old >= 0) {
        struct stat st {};
        if (sysFstat(old, st) != 0) {
            int e = errno;
            ::close(old);
            return error(Step::write, e);
        }
        oldExists = true;
        mode = st.st_mode & 07777;
        haveAttributes = seam::hooks().getAttributes(old, attributes) == 0;
        ::close(old);
    } else if (errno != ENOENT) {
        return error(Step::write, errno);
    }

    const auto fresh = leftoverName(file);
    int fd = sysOpen(fresh, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0) return error(Step::write, errno);
    auto fail = [&](int e, int openFd) {
        if (openFd >= 0) ::close(openFd);
        sysUnlink(fresh);
        return error(Step::write, e);
    };
    if (!writeAll(fd, bytes)) return fail(errno, fd);
    if (oldExists && sysFchmod(fd, mode) != 0) return fail(errno, fd);
    // Attributes are best effort: most file systems have none.
    if (hidden == Hidden::set) attributes |= seam::hiddenAttribute;
    if (haveAttributes || hidden == Hidden::set) seam::hooks().setAttributes(fd, attributes);
    if (sysFsync(fd) != 0) return fail(errno, fd);
    if (sysClose(fd) != 0) return fail(errno, -1);
    int folder = sysOpen(folderOf(file), O_RDONLY | O_DIRECTORY);
    if (folder < 0) return fail(errno, -1);
    if (sysRename(fresh, file) != 0) return fail(errno, folder);
    // The new version is in place; a failed flush of the folder cannot undo
    // that, so it is not reported as a failure of the change.
    sysFsync(folder);
    ::close(folder);
    return {};
}

Lock::~Lock() {
    if (handle_ != noHandle) ::close(handle_);
}

FileResult<Lock> lock(const std::filesystem::path& file, int patienceMs) {
    auto side = file;
    side += ".lock";
    bool created = true;
    int fd = sysOpen(side, O_RDWR | O_CREAT | O_EXCL, 0666);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = sysOpen(side, O_RDWR);
    }
    if (fd < 0) return error(Step::lock, errno);
    if (created) seam::hooks().setAttributes(fd, seam::hiddenAttribute);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(patienceMs);
    while (sysLock(fd) != 0) {
        if (errno != EAGAIN && errno != EACCES && errno != EINTR) {
            int e = errno;
            ::close(fd);
            return error(Step::lock, e);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            return error(Step::lock, EBUSY);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return Lock(fd);
}

std::filesystem::path executableDirectory() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::filesystem::current_path(ec);
    return exe.parent_path();
}

}  // namespace quillory::files
