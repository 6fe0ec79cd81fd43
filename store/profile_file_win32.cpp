// The file layer on Windows, on the W functions: a read that shares the file
// with everyone, a new file moved over the old one with MoveFileExW, LockFileEx
// on the side file, and the file's own attributes.
#include "store/profile_file.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <random>
#include <string>
#include <system_error>

namespace quillory::files {
namespace {

// The errno value the rest of the store understands for a Windows error.
int errnoFor(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
            return EACCES;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_WRITE_PROTECT:
            return EROFS;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EBUSY;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
            return ENOENT;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        default:
            return EIO;
    }
}

// The attributes a program may give a file; FILE_ATTRIBUTE_NORMAL stands for
// none of them, as 0 means "leave them as they are" to SetFileInformationByHandle.
constexpr DWORD settableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                     FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                     FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                     FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

DWORD attributesToGive(std::uint32_t attributes) {
    const DWORD a = attributes & settableAttributes;
    return a != 0 ? a : FILE_ATTRIBUTE_NORMAL;
}

// The attributes CreateFileW takes for a new file.
DWORD attributesToCreateWith(std::uint32_t attributes) {
    const DWORD a =
        attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE);
    return a != 0 ? a : FILE_ATTRIBUTE_NORMAL;
}

}  // namespace

namespace seam {
namespace {

int realGetAttributes(Handle file, std::uint32_t& attributes) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) return errnoFor(GetLastError());
    attributes = info.dwFileAttributes;
    return 0;
}

int realSetAttributes(Handle file, std::uint32_t attributes) {
    FILE_BASIC_INFO info{};  // times of 0 stay as they are
    info.FileAttributes = attributesToGive(attributes);
    return SetFileInformationByHandle(file, FileBasicInfo, &info, sizeof info)
               ? 0
               : errnoFor(GetLastError());
}

}  // namespace

Hooks defaults() {
    return Hooks{[](Call) { return 0; }, realGetAttributes, realSetAttributes};
}

}  // namespace seam

namespace {

using seam::Call;
using seam::injected;

constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool lastErrorAsErrno() {
    errno = errnoFor(GetLastError());
    return false;
}

// Another process that has the file open (an editor, a virus scanner, a
// reader at the moment of a replacement) makes an open or a replacement fail
// for a moment; such a call is tried again for about a second.
constexpr ULONGLONG holderPatienceMs = 1000;
constexpr DWORD holderRetryMs = 10;

template <class Attempt>
bool retriedWhileHeld(Attempt&& attempt, bool accessDeniedToo) {
    const ULONGLONG deadline = GetTickCount64() + holderPatienceMs;
    for (;;) {
        if (attempt()) return true;
        const DWORD e = GetLastError();
        const bool held =
            e == ERROR_SHARING_VIOLATION || (accessDeniedToo && e == ERROR_ACCESS_DENIED);
        if (!held || GetTickCount64() >= deadline) {
            errno = errnoFor(e);
            return false;
        }
        Sleep(holderRetryMs);
    }
}

// noHandle on failure. existed, when given, tells whether OPEN_ALWAYS found
// the file already there.
Handle sysOpen(const std::filesystem::path& p, DWORD access, DWORD disposition, DWORD flags,
               DWORD share = shareAll, bool* existed = nullptr) {
    if (injected(Call::open)) return noHandle;
    HANDLE h = INVALID_HANDLE_VALUE;
    // The handles are not inherited: security attributes are left out.
    const bool opened = retriedWhileHeld(
        [&] {
            h = CreateFileW(p.c_str(), access, share, nullptr, disposition, flags, nullptr);
            if (existed != nullptr) *existed = GetLastError() == ERROR_ALREADY_EXISTS;
            return h != INVALID_HANDLE_VALUE;
        },
        false);
    return opened ? h : noHandle;
}

bool sysRead(Handle h, char* buffer, DWORD n, DWORD& got) {
    if (injected(Call::read)) return false;
    return ReadFile(h, buffer, n, &got, nullptr) || lastErrorAsErrno();
}

bool sysWrite(Handle h, const char* data, DWORD n, DWORD& put) {
    int e = seam::hooks().fail(Call::write);
    if (e > 0) {
        errno = e;
        return false;
    }
    if (e == seam::shortWrite && n > 1) n /= 2;
    return WriteFile(h, data, n, &put, nullptr) || lastErrorAsErrno();
}

bool sysFlush(Handle h) {
    if (injected(Call::fsync)) return false;
    return FlushFileBuffers(h) || lastErrorAsErrno();
}

bool sysClose(Handle h) {
    if (injected(Call::close)) {
        CloseHandle(h);  // the handle is gone either way, as after a real failure
        return false;
    }
    return CloseHandle(h) || lastErrorAsErrno();
}

bool sysReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (injected(Call::rename)) return false;
    // A target that another process holds open, even with FILE_SHARE_DELETE,
    // cannot be replaced until it is closed: sharing violation or access denied.
    return retriedWhileHeld(
        [&] {
            return MoveFileExW(from.c_str(), to.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
        },
        true);
}

bool sysUnlink(const std::filesystem::path& p) {
    if (injected(Call::unlink)) return false;
    return DeleteFileW(p.c_str()) || lastErrorAsErrno();
}

bool sysStat(Handle h, BY_HANDLE_FILE_INFORMATION& info) {
    if (injected(Call::stat)) return false;
    return GetFileInformationByHandle(h, &info) || lastErrorAsErrno();
}

enum class Locking { had, held, failed };

Locking sysLock(Handle h) {
    if (injected(Call::lock)) return Locking::failed;
    OVERLAPPED whole{};
    if (LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD,
                   &whole)) {
        return Locking::had;
    }
    if (GetLastError() == ERROR_LOCK_VIOLATION) return Locking::held;
    lastErrorAsErrno();
    return Locking::failed;
}

// Files of 1 GiB and more are refused rather than half understood.
constexpr ULONGLONG maximumSize = ULONGLONG(1) << 30;

FileError error(Step step, int code) {
    return FileError{step, code};
}

bool writeAll(Handle h, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD n = DWORD(std::min<size_t>(bytes.size(), size_t(1) << 30));
        DWORD put = 0;
        if (!sysWrite(h, bytes.data(), n, put)) return false;
        if (put == 0) {
            errno = EIO;
            return false;
        }
        bytes.remove_prefix(put);
    }
    return true;
}

std::filesystem::path leftoverName(const std::filesystem::path& file) {
    static std::atomic<unsigned> counter{0};
    static const unsigned salt = std::random_device{}();
    std::wstring name = file.filename().wstring();
    name += L'.';
    name += std::to_wstring(GetCurrentProcessId());
    name += L'-';
    name += std::to_wstring(salt ^ counter.fetch_add(1));
    name += L".tmp";
    return file.parent_path() / name;
}

// The path a handle's file really has, or nothing.
std::filesystem::path finalPathOf(Handle h) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetFinalPathNameByHandleW(h, buffer.data(), DWORD(buffer.size()),
                                            FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) return {};
        if (n < buffer.size()) {
            buffer.resize(n);
            return buffer;
        }
        buffer.resize(n);  // n is the size it needs, terminating zero included
    }
}

}  // namespace

FileResult<Snapshot> readWhole(const std::filesystem::path& file) {
    Handle h = sysOpen(file, GENERIC_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
    if (h == noHandle) {
        if (errno == ENOENT) return Snapshot{};
        return error(Step::read, errno);
    }
    auto fail = [h](int e) {
        CloseHandle(h);
        return error(Step::read, e);
    };
    BY_HANDLE_FILE_INFORMATION info{};
    if (!sysStat(h, info)) return fail(errno);
    const ULONGLONG size = (ULONGLONG(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (size >= maximumSize) return fail(EFBIG);
    Snapshot snapshot{true, {}};
    snapshot.bytes.resize(size_t(size) + 1);
    size_t used = 0;
    for (;;) {
        if (used == snapshot.bytes.size()) snapshot.bytes.resize(used * 2);
        DWORD got = 0;
        if (!sysRead(h, snapshot.bytes.data() + used, DWORD(snapshot.bytes.size() - used), got)) {
            return fail(errno);
        }
        if (got == 0) break;
        used += got;
        if (used >= size_t(maximumSize)) return fail(EFBIG);
    }
    CloseHandle(h);
    snapshot.bytes.resize(used);
    return snapshot;
}

FileResult<> commit(const std::filesystem::path& given, std::string_view bytes, Hidden hidden) {
    std::filesystem::path file = given;
    // What the old file carries over: its attributes. It is opened for
    // writing, and a read-only one is refused, so that a file the user may
    // not change is not replaced behind its back.
    std::uint32_t attributes = 0;
    bool haveAttributes = false;
    if (Handle old = sysOpen(file, GENERIC_WRITE | FILE_READ_ATTRIBUTES, OPEN_EXISTING, 0);
        old != noHandle) {
        BY_HANDLE_FILE_INFORMATION info{};
        if (!sysStat(old, info)) {
            int e = errno;
            CloseHandle(old);
            return error(Step::write, e);
        }
        if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
            CloseHandle(old);
            return error(Step::write, EACCES);
        }
        // A catalogue reached through a symbolic link is replaced where it lies.
        const DWORD own = GetFileAttributesW(file.c_str());
        if (own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_REPARSE_POINT)) {
            if (auto real = finalPathOf(old); !real.empty()) file = real;
        }
        haveAttributes = seam::hooks().getAttributes(old, attributes) == 0;
        attributes &= ~std::uint32_t(FILE_ATTRIBUTE_READONLY);
        CloseHandle(old);
    } else if (errno != ENOENT) {
        return error(Step::write, errno);
    }
    if (hidden == Hidden::set) attributes |= seam::hiddenAttribute;

    // Created new, unshared, with the attributes it is to have.
    const auto fresh = leftoverName(file);
    Handle h = sysOpen(fresh, GENERIC_WRITE, CREATE_NEW, attributesToCreateWith(attributes), 0);
    if (h == noHandle) return error(Step::write, errno);
    auto fail = [&](int e, Handle open) {
        if (open != noHandle) CloseHandle(open);
        sysUnlink(fresh);
        return error(Step::write, e);
    };
    if (!writeAll(h, bytes)) return fail(errno, h);
    // The file has its attributes from CreateFileW; they are given once more
    // through the seam's hook, where every attribute change of the layer
    // passes. Best effort, as on every platform.
    if (haveAttributes || hidden == Hidden::set) seam::hooks().setAttributes(h, attributes);
    if (!sysFlush(h)) return fail(errno, h);
    if (!sysClose(h)) return fail(errno, noHandle);
    if (!sysReplace(fresh, file)) return fail(errno, noHandle);
    return {};
}

Lock::~Lock() {
    if (handle_ == noHandle) return;
    OVERLAPPED whole{};
    UnlockFileEx(handle_, 0, MAXDWORD, MAXDWORD, &whole);
    CloseHandle(handle_);
}

FileResult<Lock> lock(const std::filesystem::path& file, int patienceMs) {
    auto side = file;
    side += ".lock";
    bool existed = true;
    Handle h = sysOpen(side, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN,
                       shareAll, &existed);
    if (h == noHandle) return error(Step::lock, errno);
    if (!existed) seam::hooks().setAttributes(h, seam::hiddenAttribute);
    const ULONGLONG deadline = GetTickCount64() + ULONGLONG(patienceMs > 0 ? patienceMs : 0);
    for (;;) {
        switch (sysLock(h)) {
            case Locking::had:
                return Lock(h);
            case Locking::failed: {
                int e = errno;
                CloseHandle(h);
                return error(Step::lock, e);
            }
            case Locking::held:
                break;
        }
        if (GetTickCount64() >= deadline) {
            CloseHandle(h);
            return error(Step::lock, EBUSY);
        }
        Sleep(2);
    }
}

std::filesystem::path executableDirectory() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
        if (n == 0) {
            std::error_code ec;
            return std::filesystem::current_path(ec);
        }
        if (n < buffer.size()) {
            buffer.resize(n);
            return std::filesystem::path(buffer).parent_path();
        }
        buffer.resize(buffer.size() * 2);  // the name was cut: a longer buffer
    }
}

}  // namespace quillory::files
