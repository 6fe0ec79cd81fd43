#include "tests/support/file_system_seam.h"

#include <sys/stat.h>

#include <cerrno>

namespace quillory::testing {

using files::seam::Call;

SeamControl::SeamControl() {
    auto& h = files::seam::hooks();
    h.fail = [this](Call call) { return answer(call); };
    h.getAttributes = [this](int fd, std::uint32_t& a) {
        struct stat st {};
        if (fstat(fd, &st) != 0) return errno;
        auto it = attributes_.find(st.st_ino);
        a = it == attributes_.end() ? 0 : it->second;
        return 0;
    };
    h.setAttributes = [this](int fd, std::uint32_t a) {
        struct stat st {};
        if (fstat(fd, &st) != 0) return errno;
        attributes_[st.st_ino] = a;
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
    struct stat st {};
    if (stat(file.c_str(), &st) != 0) return 0;
    auto it = attributes_.find(st.st_ino);
    return it == attributes_.end() ? 0 : it->second;
}

void SeamControl::setAttributesOf(const std::filesystem::path& file, std::uint32_t attributes) {
    struct stat st {};
    if (stat(file.c_str(), &st) == 0) attributes_[st.st_ino] = attributes;
}

}  // namespace quillory::testing
