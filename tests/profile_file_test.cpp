#include "store/profile_file.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <thread>

#include "tests/support/file_system_seam.h"
#include "tests/support/temp_folder.h"

namespace quillory::files {
namespace {

using seam::Call;
using testing::readBytes;
using testing::SeamControl;
using testing::TempFolder;
using testing::writeBytes;

TEST(ProfileFile, ReadsWholeFilesAndTellsMissingFromFailing) {
    TempFolder folder;
    auto missing = readWhole(folder.catalogue());
    ASSERT_TRUE(missing.ok());
    EXPECT_FALSE(missing.value().exists);

    std::string big(3 << 20, 'x');
    big += "\r\n末尾";
    writeBytes(folder.catalogue(), big);
    auto whole = readWhole(folder.catalogue());
    ASSERT_TRUE(whole.ok());
    EXPECT_TRUE(whole.value().exists);
    EXPECT_EQ(whole.value().bytes, big);

    SeamControl seam;
    seam.failNext(Call::read, EIO);
    auto failed = readWhole(folder.catalogue());
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().step, Step::read);
    EXPECT_EQ(failed.error().code, EIO);
}

TEST(ProfileFile, CommitCarriesPermissionsAndTheHiddenAttributeOver) {
    TempFolder folder;
    SeamControl seam;
    ASSERT_TRUE(commit(folder.catalogue(), "first", Hidden::set).ok());
    EXPECT_EQ(readBytes(folder.catalogue()), "first");
    EXPECT_EQ(seam.attributesOf(folder.catalogue()), seam::hiddenAttribute);

#ifndef _WIN32
    chmod(folder.catalogue().c_str(), 0640);
#endif
    seam.setAttributesOf(folder.catalogue(), seam::hiddenAttribute | 0x20);
    ASSERT_TRUE(commit(folder.catalogue(), "second", Hidden::keep).ok());
    EXPECT_EQ(readBytes(folder.catalogue()), "second");
    EXPECT_EQ(seam.attributesOf(folder.catalogue()), seam::hiddenAttribute | 0x20u);
#ifndef _WIN32
    struct stat st {};
    ASSERT_EQ(stat(folder.catalogue().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
#endif

    seam.setAttributesOf(folder.catalogue(), 0);
    ASSERT_TRUE(commit(folder.catalogue(), "third", Hidden::keep).ok());
    EXPECT_EQ(seam.attributesOf(folder.catalogue()), 0u);
    EXPECT_EQ(folder.strayFiles(), "");
}

TEST(ProfileFile, ACommitThatFailsLeavesTheOldFileAndNoLitter) {
    const Call calls[] = {
        Call::write, Call::fsync, Call::close, Call::rename,
#ifndef _WIN32
        Call::chmod,  // Windows files have no permission bits to copy
#endif
    };
    for (Call call : calls) {
        TempFolder folder;
        writeBytes(folder.catalogue(), "old");
        SeamControl seam;
        seam.failNext(call, ENOSPC);
        auto r = commit(folder.catalogue(), "new", Hidden::keep);
        ASSERT_FALSE(r.ok()) << int(call);
        EXPECT_EQ(r.error().step, Step::write);
        EXPECT_EQ(r.error().code, ENOSPC);
        EXPECT_EQ(readBytes(folder.catalogue()), "old");
        EXPECT_EQ(folder.strayFiles(), "");
    }
}

TEST(ProfileFile, ShortWritesAreContinued) {
    TempFolder folder;
    SeamControl seam;
    std::string bytes(100000, 'z');
    // A write that stores only part of its bytes is not an error by itself.
    seam.shortenWrite(1, 0);
    ASSERT_TRUE(commit(folder.catalogue(), bytes, Hidden::keep).ok());
    EXPECT_TRUE(seam.injected());
    EXPECT_GE(seam.count(Call::write), 2);
    EXPECT_EQ(readBytes(folder.catalogue()), bytes);
    // When the next write fails, the change fails and the old file stays.
    seam.clearFaults();
    seam.shortenWrite(1);
    EXPECT_FALSE(commit(folder.catalogue(), "other", Hidden::keep).ok());
    EXPECT_EQ(readBytes(folder.catalogue()), bytes);
    EXPECT_EQ(folder.strayFiles(), "");
}

TEST(ProfileFile, TheLockIsExclusiveAndItsFileStays) {
    TempFolder folder;
    SeamControl seam;
    auto lockFile = folder.catalogue();
    lockFile += ".lock";
    {
        auto first = lock(folder.catalogue());
        ASSERT_TRUE(first.ok());
        EXPECT_EQ(seam.attributesOf(lockFile), seam::hiddenAttribute);
        auto second = lock(folder.catalogue(), 50);
        ASSERT_FALSE(second.ok());
        EXPECT_EQ(second.error().code, EBUSY);
        EXPECT_EQ(second.error().step, Step::lock);
    }
    EXPECT_TRUE(lock(folder.catalogue(), 0).ok());
    EXPECT_TRUE(std::filesystem::exists(lockFile));
}

TEST(ProfileFile, LeftoversOfACrashAreRecognisedAndRemoved) {
    TempFolder folder;
    const auto file = folder.catalogue();
    const auto dir = folder.path();
    // The catalogue's name with an ending, built as a path: a narrow text of
    // the name would be read back in the locale's encoding on Windows.
    auto beside = [&](const char* ending) { return std::filesystem::path(file) += ending; };
    writeBytes(file, "catalogue");
    writeBytes(beside(".4242-17.tmp"), "half");
    writeBytes(beside(".lock"), "");
    writeBytes(dir / "other.ini.1-2.tmp", "not ours");
    writeBytes(beside(".tmp"), "no name part");
    writeBytes(beside(".mine.tmp"), "a user's own file");
    removeLeftovers(file);
    EXPECT_TRUE(std::filesystem::exists(beside(".mine.tmp")));
    EXPECT_FALSE(std::filesystem::exists(beside(".4242-17.tmp")));
    EXPECT_TRUE(std::filesystem::exists(beside(".lock")));
    EXPECT_TRUE(std::filesystem::exists(dir / "other.ini.1-2.tmp"));
    EXPECT_TRUE(std::filesystem::exists(beside(".tmp")));
    EXPECT_EQ(readBytes(file), "catalogue");
}

#ifdef _WIN32
bool isSymbolicLink(const std::filesystem::path& file) {
    const DWORD a = GetFileAttributesW(file.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// A symbolic link made with the platform's call, or false where the system
// makes none (it needs a privilege or developer mode on Windows).
bool makeSymbolicLink(const std::filesystem::path& target, const std::filesystem::path& link) {
    CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    return isSymbolicLink(link);
}
#else
bool makeSymbolicLink(const std::filesystem::path& target, const std::filesystem::path& link) {
    std::filesystem::create_symlink(target, link);
    return true;
}

bool isSymbolicLink(const std::filesystem::path& file) {
    return std::filesystem::is_symlink(file);
}
#endif

TEST(ProfileFile, ASymbolicLinkKeepsPointingAtTheCatalogue) {
    TempFolder folder;
    const auto real = folder.path() / "elsewhere.ini";
    writeBytes(real, "old");
    if (!makeSymbolicLink(real, folder.catalogue())) {
        GTEST_SKIP() << "no symbolic link was made: Windows asks a privilege or developer mode "
                        "for one, and Wine makes none";
    }
    ASSERT_TRUE(commit(folder.catalogue(), "new", Hidden::keep).ok());
    EXPECT_TRUE(isSymbolicLink(folder.catalogue()));
    EXPECT_EQ(readBytes(real), "new");
    EXPECT_EQ(folder.strayFiles(), "elsewhere.ini ");
}

#ifdef _WIN32
TEST(ProfileFile, AFileThatMayNotBeWrittenIsNotReplaced) {
    // The attribute alone refuses the change: a process that may write
    // anything (Wine run as root) could otherwise replace the file.
    TempFolder folder;
    writeBytes(folder.catalogue(), "old");
    ASSERT_TRUE(SetFileAttributesW(folder.catalogue().c_str(), FILE_ATTRIBUTE_READONLY));
    auto r = commit(folder.catalogue(), "new", Hidden::keep);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().step, Step::write);
    EXPECT_EQ(r.error().code, EACCES);
    EXPECT_EQ(readBytes(folder.catalogue()), "old");
    EXPECT_EQ(folder.strayFiles(), "");
    EXPECT_NE(GetFileAttributesW(folder.catalogue().c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    SetFileAttributesW(folder.catalogue().c_str(), FILE_ATTRIBUTE_NORMAL);  // so it can be removed
}

TEST(ProfileFile, AnotherProgramHoldingTheFileIsWaitedForBriefly) {
    TempFolder folder;
    const auto file = folder.catalogue();
    writeBytes(file, "old");
    auto open = [&](DWORD share) {
        return CreateFileW(file.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    };
    // An editor that keeps the file open for reading, sharing it with readers
    // only: the change gives up, as busy, and leaves the file as it was.
    HANDLE editor = open(FILE_SHARE_READ);
    ASSERT_NE(editor, INVALID_HANDLE_VALUE);
    auto refused = commit(file, "new", Hidden::keep);
    CloseHandle(editor);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, EBUSY);
    EXPECT_EQ(readBytes(file), "old");
    EXPECT_EQ(folder.strayFiles(), "");

    // A reader that shares everything but lets go only a moment after the
    // replacement began (a file held open cannot be replaced on Wine and
    // older Windows): the change waits for it.
    HANDLE reader = open(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    std::thread lettingGo;
    seam::hooks().fail = [&](Call call) {
        if (call == Call::rename) {
            lettingGo = std::thread([reader] {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                CloseHandle(reader);
            });
        }
        return 0;
    };
    auto waited = commit(file, "new", Hidden::keep);
    seam::reset();
    ASSERT_TRUE(lettingGo.joinable());
    lettingGo.join();
    ASSERT_TRUE(waited.ok()) << waited.error().code;
    EXPECT_EQ(readBytes(file), "new");
    EXPECT_EQ(folder.strayFiles(), "");
}

TEST(ProfileFile, TheHiddenAttributeIsTheFilesOwn) {
    // The platform's attributes themselves, not the seam's memory of them.
    TempFolder folder;
    const auto file = folder.catalogue();
    auto attributes = [](const std::filesystem::path& f) {
        return GetFileAttributesW(f.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    };
    ASSERT_TRUE(commit(file, "first", Hidden::set).ok());
    EXPECT_EQ(attributes(file), DWORD(FILE_ATTRIBUTE_HIDDEN));

    // What the user gave the file is carried over, and so is taking it away.
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(commit(file, "second", Hidden::keep).ok());
    EXPECT_EQ(attributes(file), DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(commit(file, "third", Hidden::keep).ok());
    EXPECT_EQ(attributes(file), 0u);
    EXPECT_EQ(readBytes(file), "third");

    auto lockFile = file;
    lockFile += ".lock";
    ASSERT_TRUE(lock(file).ok());
    EXPECT_EQ(attributes(lockFile), DWORD(FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(folder.strayFiles(), "");
}
#else
TEST(ProfileFile, AFileThatMayNotBeWrittenIsNotReplaced) {
    // Read-only to everyone, in a folder anyone may write: a rename could
    // replace it, and must not.
    TempFolder folder;
    writeBytes(folder.catalogue(), "old");
    chmod(folder.catalogue().c_str(), 0444);
    chmod(folder.path().c_str(), 0777);
    auto attempt = [&] {
        auto r = commit(folder.catalogue(), "new", Hidden::keep);
        return r.ok() ? 1 : r.error().code == EACCES ? 0 : 2;
    };
    int outcome;
    if (geteuid() != 0) {
        outcome = attempt();
    } else {
        // Root may write anything: try as an ordinary user.
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
            _exit(attempt());
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        outcome = WEXITSTATUS(status);
    }
    EXPECT_EQ(outcome, 0);
    EXPECT_EQ(readBytes(folder.catalogue()), "old");
    EXPECT_EQ(folder.strayFiles(), "");
}
#endif

TEST(ProfileFile, TheExecutableDirectoryHoldsThisTest) {
#ifdef _WIN32
    const char* self = "store_tests.exe";
#else
    const char* self = "store_tests";
#endif
    EXPECT_TRUE(std::filesystem::exists(executableDirectory() / self));
}

}  // namespace
}  // namespace quillory::files
