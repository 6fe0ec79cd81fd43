// Every change, with each file-system call in turn failing: the catalogue is
// either the old version or, where the failure was recovered, the new one,
// never anything else, and the next attempt succeeds.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

#include "app/state.h"
#include "store/project_store.h"
#include "tests/support/file_system_seam.h"
#include "tests/support/temp_folder.h"

namespace quillory {
namespace {

using files::seam::Call;
using testing::catalogueBytes;
using testing::readBytes;
using testing::SeamControl;
using testing::TempFolder;
using testing::writeBytes;

const std::vector<testing::Project> three = {
    {"甲", "一", "p1"}, {"乙", "二", "p2"}, {"丙", "三", "p3"}};

struct Change {
    const char* name;
    std::function<StoreResult<>()> run;
};

const Change changes[] = {
    {"append", [] { return ProjectStore::appendProject("丁", "四", "p4"); }},
    {"update", [] { return ProjectStore::updateProject(2, "新乙", "新二", "新p2"); }},
    {"remove",
     [] {
         selectedIndex = 1;
         return ProjectStore::removeProject();
     }},
};

struct Fault {
    const char* name;
    int error;  // 0: a short write followed by a full disk
};

const Fault faults[] = {
    {"ENOSPC", ENOSPC}, {"EIO", EIO}, {"EACCES", EACCES}, {"EROFS", EROFS}, {"short write", 0}};

TEST(StoreFaults, AFailedCallNeverLeavesAnythingButTheOldOrTheNewVersion) {
    for (const auto& change : changes) {
        // The unhindered change: how many calls it makes, and what it leaves.
        std::string after;
        int calls, writes;
        {
            TempFolder folder;
            writeBytes(folder.catalogue(), catalogueBytes(three));
            SeamControl seam;
            ASSERT_TRUE(change.run().ok());
            after = readBytes(folder.catalogue());
            calls = seam.calls();
            writes = seam.count(Call::write);
        }
        for (const auto& fault : faults) {
            int failures = 0;
            const int last = fault.error != 0 ? calls : writes;
            for (int n = 1; n <= last; ++n) {
                const std::string where =
                    std::string(change.name) + ", " + fault.name + " at call " + std::to_string(n);
                TempFolder folder;
                writeBytes(folder.catalogue(), catalogueBytes(three));
                const std::string before = readBytes(folder.catalogue());
                SeamControl seam;
                if (fault.error != 0) {
                    seam.failCall(n, fault.error);
                } else {
                    seam.shortenWrite(n);
                }
                auto result = change.run();
                ASSERT_TRUE(seam.injected()) << where;
                seam.clearFaults();
                EXPECT_EQ(folder.strayFiles(), "") << where;
                if (result.ok()) {
                    // The failed call was one the store may recover from.
                    EXPECT_EQ(readBytes(folder.catalogue()), after) << where;
                    continue;
                }
                ++failures;
                EXPECT_EQ(result.error().kind, Failure::Kind::file) << where;
                EXPECT_FALSE(result.error().message.empty()) << where;
                EXPECT_EQ(readBytes(folder.catalogue()), before) << where;
                ASSERT_TRUE(change.run().ok()) << where;
                EXPECT_EQ(readBytes(folder.catalogue()), after) << where;
            }
            EXPECT_GT(failures, 0) << change.name << ", " << fault.name;
        }
    }
}

TEST(StoreFaults, AFirstStartThatCannotWriteLeavesNoFile) {
    TempFolder folder;
    SeamControl seam;
    seam.failNext(Call::rename, EROFS);
    auto r = ProjectStore::ensureInitialised();
    ASSERT_FALSE(r.ok());
    EXPECT_FALSE(std::filesystem::exists(folder.catalogue()));
    EXPECT_EQ(folder.strayFiles(), "");
    // The walk over the missing file ends at once.
    EXPECT_TRUE(ProjectStore::scan([](const Text&, std::int32_t) { FAIL(); }).ok());
    EXPECT_EQ(endIndex, 1);
}

}  // namespace
}  // namespace quillory
