// Other processes against the catalogue: one killed at random moments while
// it changes the file, and two that append at the same time.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <set>
#include <thread>

#include "app/state.h"
#include "store/profile.h"
#include "store/project_store.h"
#include "tests/support/temp_folder.h"

namespace quillory {
namespace {

using testing::catalogueBytes;
using testing::readBytes;
using testing::TempFolder;
using testing::writeBytes;

std::string token(const std::string& prefix, int t) {
    return prefix + std::to_string(t);
}

// A catalogue in which every project's three values carry the same token and
// every section ends at the same index is one complete version: a removal
// cut short would leave one section shifted against another.
::testing::AssertionResult isOneCompleteVersion(const std::string& bytes) {
    auto doc = profile::Document::parse(bytes);
    const char* sections[] = {"项目名", "项目简介", "项目路径"};
    const char* prefixes[] = {"名", "简", "路"};
    int end = 1;
    while (doc.get("项目名", std::to_string(end)).value_or("") != "没了") {
        if (++end > 10000) return ::testing::AssertionFailure() << "no end marker";
    }
    for (int k = 1; k <= end; ++k) {
        std::string t;
        for (int s = 0; s < 3; ++s) {
            auto v = doc.get(sections[s], std::to_string(k));
            if (!v) return ::testing::AssertionFailure() << "missing key " << k;
            if (k == end) {
                if (*v != "没了") return ::testing::AssertionFailure() << "sections end apart";
                continue;
            }
            if (!v->starts_with(prefixes[s]))
                return ::testing::AssertionFailure() << "foreign value at " << k;
            std::string own = v->substr(std::string(prefixes[s]).size());
            if (s == 0) t = own;
            if (own != t) return ::testing::AssertionFailure() << "project " << k << " torn";
        }
    }
    return ::testing::AssertionSuccess();
}

[[noreturn]] void changeForever(int ready, int seed) {
    std::mt19937 random(seed);
    bool told = false;
    for (int t = seed * 100000;; ++t) {
        if (!ProjectStore::scan([](const Text&, std::int32_t) {})) _exit(2);
        const int projects = endIndex - 1;
        StoreResult<> r;
        switch (projects < 3 ? 0 : random() % 3) {
            case 0:
                r = ProjectStore::appendProject(token("名", t), token("简", t), token("路", t));
                break;
            case 1:
                r = ProjectStore::updateProject(int(random() % projects) + 1, token("名", t),
                                                token("简", t), token("路", t));
                break;
            default:
                selectedIndex = int(random() % projects) + 1;
                r = ProjectStore::removeProject();
        }
        if (!r) _exit(3);
        if (!told) {
            told = write(ready, "x", 1) == 1;
        }
    }
}

TEST(StoreProcesses, AChangeKilledAtAnyMomentLeavesOneCompleteVersion) {
    TempFolder folder;
    writeBytes(folder.catalogue(), catalogueBytes({{"名1", "简1", "路1"}, {"名2", "简2", "路2"}}));
    std::mt19937 random(20261211);
    int caughtWriting = 0;
    for (int round = 0; round < 200; ++round) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(ready[0]);
            changeForever(ready[1], round + 1);
        }
        close(ready[1]);
        char byte;
        ASSERT_EQ(read(ready[0], &byte, 1), 1) << "the child could not change the file";
        close(ready[0]);
        // The kill lands at a random moment of the child's stream of changes.
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "child ended by itself, status " << status;

        ASSERT_TRUE(isOneCompleteVersion(readBytes(folder.catalogue()))) << "round " << round;
        if (!folder.strayFiles().empty()) ++caughtWriting;
        ProjectStore::removeLeftovers();
        ASSERT_EQ(folder.strayFiles(), "") << "round " << round;
    }
    // The kills must also have hit commits in progress, or nothing was shown.
    EXPECT_GT(caughtWriting, 0);
    RecordProperty("killed_while_writing", caughtWriting);
}

TEST(StoreProcesses, TwoProcessesAppendingAtOnceLoseNothing) {
    TempFolder folder;
    ASSERT_TRUE(ProjectStore::ensureInitialised().ok());
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            close(go[1]);
            char byte;
            (void)!read(go[0], &byte, 1);  // returns when the parent closes its end
            for (int i = 0; i < 500; ++i) {
                int t = (c + 1) * 1000 + i;
                // endIndex is never refreshed here: every append trusts the file.
                if (!ProjectStore::appendProject(token("名", t), token("简", t), token("路", t)))
                    _exit(1);
            }
            _exit(0);
        }
    }
    close(go[0]);
    close(go[1]);
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    auto projects = testing::listed();
    EXPECT_EQ(projects.size(), 1000u);
    std::set<std::string> names;
    for (const auto& p : projects) names.insert(p.name);
    EXPECT_EQ(names.size(), 1000u);
    EXPECT_TRUE(isOneCompleteVersion(readBytes(folder.catalogue())));
}

}  // namespace
}  // namespace quillory
