#include "store/profile_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

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

    chmod(folder.catalogue().c_str(), 0640);
    seam.setAttributesOf(folder.catalogue(), seam::hiddenAttribute | 0x20);
    ASSERT_TRUE(commit(folder.catalogue(), "second", Hidden::keep).ok());
    EXPECT_EQ(readBytes(folder.catalogue()), "second");
    EXPECT_EQ(seam.attributesOf(folder.catalogue()), seam::hiddenAttribute | 0x20u);
    struct stat st {};
    ASSERT_EQ(stat(folder.catalogue().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    seam.setAttributesOf(folder.catalogue(), 0);
    ASSERT_TRUE(commit(folder.catalogue(), "third", Hidden::keep).ok());
    EXPECT_EQ(seam.attributesOf(folder.catalogue()), 0u);
    EXPECT_EQ(folder.strayFiles(), "");
}

TEST(ProfileFile, ACommitThatFailsLeavesTheOldFileAndNoLitter) {
    for (Call call : {Call::write, Call::fsync, Call::close, Call::rename, Call::chmod}) {
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
    const std::string base = file.filename().string();
    writeBytes(file, "catalogue");
    writeBytes(dir / (base + ".4242-17.tmp"), "half");
    writeBytes(dir / (base + ".lock"), "");
    writeBytes(dir / "other.ini.1-2.tmp", "not ours");
    writeBytes(dir / (base + ".tmp"), "no name part");
    writeBytes(dir / (base + ".mine.tmp"), "a user's own file");
    removeLeftovers(file);
    EXPECT_TRUE(std::filesystem::exists(dir / (base + ".mine.tmp")));
    EXPECT_FALSE(std::filesystem::exists(dir / (base + ".4242-17.tmp")));
    EXPECT_TRUE(std::filesystem::exists(dir / (base + ".lock")));
    EXPECT_TRUE(std::filesystem::exists(dir / "other.ini.1-2.tmp"));
    EXPECT_TRUE(std::filesystem::exists(dir / (base + ".tmp")));
    EXPECT_EQ(readBytes(file), "catalogue");
}

TEST(ProfileFile, ASymbolicLinkKeepsPointingAtTheCatalogue) {
    TempFolder folder;
    const auto real = folder.path() / "elsewhere.ini";
    writeBytes(real, "old");
    std::filesystem::create_symlink(real, folder.catalogue());
    ASSERT_TRUE(commit(folder.catalogue(), "new", Hidden::keep).ok());
    EXPECT_TRUE(std::filesystem::is_symlink(folder.catalogue()));
    EXPECT_EQ(readBytes(real), "new");
    EXPECT_EQ(folder.strayFiles(), "elsewhere.ini ");
}

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

TEST(ProfileFile, TheExecutableDirectoryHoldsThisTest) {
    EXPECT_TRUE(std::filesystem::exists(executableDirectory() / "store_tests"));
}

}  // namespace
}  // namespace quillory::files
