// Replays the fuzz target's seed corpus through the same check, so that every
// build proves the document keeps each seed file and edits it faithfully.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "fuzz/profile_check.h"
#include "tests/support/temp_folder.h"

namespace quillory::fuzz {
namespace {

TEST(FuzzCorpus, EverySeedPassesTheProfileCheck) {
    std::vector<std::filesystem::path> seeds;
    for (const auto& entry : std::filesystem::directory_iterator(QUILLORY_FUZZ_CORPUS)) {
        if (entry.is_regular_file()) seeds.push_back(entry.path());
    }
    std::sort(seeds.begin(), seeds.end());
    ASSERT_FALSE(seeds.empty()) << "no seed files in " << QUILLORY_FUZZ_CORPUS;
    for (const auto& seed : seeds) {
        EXPECT_EQ(checkProfile(testing::readBytes(seed)), "") << seed.filename();
    }
}

}  // namespace
}  // namespace quillory::fuzz
