#include "tests/support/file_system_seam.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <cerrno>
#include <optional>

namespace quillory::testing {

using files::seam::Call;

namespace {

using FileKey = std::pair<std::uint64_t, std::uint64_t>;

#ifdef _WIN32
std::optional<FileKey> keyOf(files::Handle file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file, &info)) return std::nullopt;
    return FileKey{info.dwVolumeSerialNumber,
                   (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

std::optional<FileKey> keyOf(const std::filesystem::path& file) {
    // No access asked: the file's identity only, whoever holds it open.
    HANDLE h = CreateFileW(file.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    auto key = keyOf(h);
    CloseHandle(h);
    return key;
}
#else
std::optional<FileKey> keyOf(files::Handle fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return std::nullopt;
    return FileKey{st.st_dev, st.st_ino};
}

std::optional<FileKey> keyOf(const std::filesystem::path& file) {
    struct stat st {};
    if (stat(file.c_str(), &st) != 0) return std::nullopt;
    return FileKey{st.st_dev, st.st_ino};
}
#endif

}  // namespace

SeamControl::SeamControl() {
    auto& h = files::seam::hooks();
    h.fail = [this](Call call) { return answer(call); };
    h.getAttributes = [this](files::Handle file, std::uint32_t& a) {
        auto key = keyOf(file);
        if (!key) return EIO;
        auto it = attributes_.find(*key);
        a = it == attributes_.end() ? 0 : it->second;
        return 0;
    };
    h.setAttributes = [this](files::Handle file, std::uint32_t a) {
        auto key = keyOf(file);
        if (!key) return EIO;
        attributes_[*key] = a;
        return 0;
    };
}

SeamControl::~SeamControl() {
    files::seam::reset();
}

void SeamControl::failCall(int n, int error) {
    failAt_ = calls_ + n;
    error_ = error;
}

void SeamControl::shortenWrite(int n, int thenError) {
    shortAt_ = writes_ + n;
    afterShort_ = thenError;
}

void SeamControl::failNext(Call call, int error, bool persistent) {
    failKind_ = true;
    persistent_ = persistent;
    kind_ = call;
    error_ = error;
}

void SeamControl::clearFaults() {
    failAt_ = 0;
    failKind_ = false;
    shortAt_ = 0;
    injected_ = false;
}

int SeamControl::count(Call call) const {
    auto it = counts_.find(call);
    return it == counts_.end() ? 0 : it->second;
}

int SeamControl::answer(Call call) {
    ++calls_;
    ++counts_[call];
    if (calls_ == failAt_ || (failKind_ && call == kind_)) {
        failKind_ = persistent_ && call == kind_;
        injected_ = true;
        return error_;
    }
    if (call == Call::write && shortAt_ != 0) {
        ++writes_;
        if (writes_ == shortAt_) {
            injected_ = true;
            return files::seam::shortWrite;
        }
        if (writes_ == shortAt_ + 1) return afterShort_;
    } else if (call == Call::write) {
        ++writes_;
    }
    return 0;
}

std::uint32_t SeamControl::attributesOf(const std::filesystem::path& file) const {
    auto key = keyOf(file);
    if (!key) return 0;
    auto it = attributes_.find(*key);
    return it == attributes_.end() ? 0 : it->second;
}

void SeamControl::setAttributesOf(const std::filesystem::path& file, std::uint32_t attributes) {
    if (auto key = keyOf(file)) attributes_[*key] = attributes;
}

}  // namespace quillory::testing
