// Test control over the file-system seam: count the calls an operation
// makes, fail one of them, and keep the file attributes in memory so that the
// hidden attribute can be checked on any file system.
#pragma once

#include <cerrno>
#include <cstdint>
#include <map>
#include <utility>

#include "store/profile_file.h"

namespace quillory::testing {

class SeamControl {
  public:
    SeamControl();
    ~SeamControl();
    SeamControl(const SeamControl&) = delete;
    SeamControl& operator=(const SeamControl&) = delete;

    // Fails the nth call from now (1-based) with error.
    void failCall(int n, int error);
    // Makes the nth write from now store half its bytes, and the write after
    // it fail with thenError (0: succeed), as a disk that fills up does.
    void shortenWrite(int n, int thenError = ENOSPC);
    // Fails the next call of that kind with error; every such call when persistent.
    void failNext(files::seam::Call call, int error, bool persistent = false);
    void clearFaults();

    int calls() const { return calls_; }
    int count(files::seam::Call call) const;
    bool injected() const { return injected_; }

    // The in-memory attributes of a file, by path.
    std::uint32_t attributesOf(const std::filesystem::path& file) const;
    void setAttributesOf(const std::filesystem::path& file, std::uint32_t attributes);

  private:
    int answer(files::seam::Call call);

    int calls_ = 0;
    int failAt_ = 0;
    int error_ = 0;
    int writes_ = 0;
    int shortAt_ = 0;
    int afterShort_ = 0;
    bool failKind_ = false;
    bool persistent_ = false;
    files::seam::Call kind_{};
    bool injected_ = false;
    std::map<files::seam::Call, int> counts_;
    // A file is known by its device and inode, or on Windows by its volume's
    // serial number and its file index: both stay with a file that is renamed.
    using FileKey = std::pair<std::uint64_t, std::uint64_t>;
    std::map<FileKey, std::uint32_t> attributes_;
};

}  // namespace quillory::testing
