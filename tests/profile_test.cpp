#include "store/profile.h"

#include <gtest/gtest.h>

namespace quillory::profile {
namespace {

TEST(Profile, NewFileIsTheEmptyCatalogue) {
    Document doc;
    for (const char* s : {"项目名", "项目简介", "项目路径"}) doc.set(s, "1", "没了");
    EXPECT_EQ(doc.serialise().size(), 58u);
}

}  // namespace
}  // namespace quillory::profile
