#include "store/project_store.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "app/state.h"
#include "tests/support/file_system_seam.h"
#include "tests/support/temp_folder.h"

namespace quillory {
namespace {

using files::seam::Call;
using testing::catalogueBytes;
using testing::listed;
using testing::Project;
using testing::readBytes;
using testing::SeamControl;
using testing::TempFolder;
using testing::writeBytes;

// The three sections with the given values under keys 1, 2, …, written out
// by hand so that expectations do not come from the code under test.
std::string sectionsOf(const std::vector<std::string>& names,
                       const std::vector<std::string>& briefs,
                       const std::vector<std::string>& paths) {
    std::string out;
    auto section = [&](const char* header, const std::vector<std::string>& values) {
        out += header;
        for (size_t k = 0; k < values.size(); ++k)
            out += std::to_string(k + 1) + "=" + values[k] + "\r\n";
    };
    section("[项目名]\r\n", names);
    section("[项目简介]\r\n", briefs);
    section("[项目路径]\r\n", paths);
    return out;
}

const std::vector<Project> three = {
    {"甲项目", "第一个", "D:\\甲"}, {"乙项目", "第二个", "D:\\乙"}, {"丙项目", "第三个", "D:\\丙"}};

int32_t walkCount() {
    int n = 0;
    EXPECT_TRUE(ProjectStore::scan([&](const Text&, int32_t) { ++n; }).ok());
    return n;
}

TEST(ProjectStore, FirstStartCreatesTheEmptyCatalogueHidden) {
    TempFolder folder;
    SeamControl seam;
    ASSERT_TRUE(ProjectStore::ensureInitialised().ok());
    const std::string expected =
        "[项目名]\r\n1=没了\r\n[项目简介]\r\n1=没了\r\n[项目路径]\r\n1=没了\r\n";
    ASSERT_EQ(expected.size(), 58u);
    EXPECT_EQ(readBytes(folder.catalogue()), expected);
    EXPECT_EQ(seam.attributesOf(folder.catalogue()) & files::seam::hiddenAttribute, 0x02u);
    EXPECT_EQ(folder.strayFiles(), "");

    // A second start changes nothing, and a file made visible stays visible.
    seam.setAttributesOf(folder.catalogue(), 0);
    int renames = seam.count(Call::rename);
    ASSERT_TRUE(ProjectStore::ensureInitialised().ok());
    EXPECT_EQ(seam.count(Call::rename), renames);
    EXPECT_EQ(readBytes(folder.catalogue()), expected);
    EXPECT_EQ(seam.attributesOf(folder.catalogue()), 0u);

    EXPECT_TRUE(listed().empty());
    EXPECT_EQ(endIndex, 1);
    EXPECT_EQ(scanText, "没了");
}

TEST(ProjectStore, InitialisationNeverWritesOverKeys) {
    const std::string cases[] = {
        // The description of project 1 is the text a missing key reads as.
        catalogueBytes({{"甲", "错误", "D:\\甲"}, {"乙", "二", "D:\\乙"}}),
        // The description section lacks key 1 but the file holds projects.
        "[项目名]\r\n1=甲\r\n2=没了\r\n[项目简介]\r\n2=没了\r\n[项目路径]\r\n1=p\r\n2=没了\r\n",
        // No description section at all.
        "[项目名]\r\n1=甲\r\n2=没了\r\n",
        // A stored end marker or an empty description is not "missing" either.
        catalogueBytes({}),
        "[项目简介]\r\n1=\r\n",
    };
    for (const auto& bytes : cases) {
        TempFolder folder;
        writeBytes(folder.catalogue(), bytes);
        ASSERT_TRUE(ProjectStore::ensureInitialised().ok());
        EXPECT_EQ(readBytes(folder.catalogue()), bytes);
    }
}

TEST(ProjectStore, InitialisationFillsAFileWithoutKeys) {
    TempFolder folder;
    SeamControl seam;
    writeBytes(folder.catalogue(), "; 手写的说明\r\n\r\n[其他]\r\n");
    ASSERT_TRUE(ProjectStore::ensureInitialised().ok());
    EXPECT_EQ(readBytes(folder.catalogue()),
              "; 手写的说明\r\n\r\n[其他]\r\n[项目名]\r\n1=没了\r\n[项目简介]\r\n1=没了\r\n"
              "[项目路径]\r\n1=没了\r\n");
    EXPECT_EQ(seam.attributesOf(folder.catalogue()), files::seam::hiddenAttribute);
}

TEST(ProjectStore, WalksListTheCatalogue) {
    struct Case {
        const char* what;
        std::string file;
        std::vector<std::string> names;
        int32_t endIndex;
    };
    const Case cases[] = {
        {"no file", "", {}, 1},
        {"empty catalogue", catalogueBytes({}), {}, 1},
        {"three projects", catalogueBytes(three), {"甲项目", "乙项目", "丙项目"}, 4},
        {"end marker as a name in the middle",
         sectionsOf({"甲", "没了", "丙", "没了"}, {"1", "2", "3", "没了"}, {"1", "2", "3", "没了"}),
         {"甲"},
         2},
        {"name key missing before the end marker",
         "[项目名]\r\n1=甲\r\n3=丙\r\n4=没了\r\n",
         {"甲", "错误", "丙"},
         4},
        {"no end marker", "[项目名]\r\n1=甲\r\n2=乙\r\n3=丙\r\n", {"甲", "乙", "丙"}, 4},
        {"no end marker after a gap", "[项目名]\r\n1=甲\r\n3=丙\r\n", {"甲", "错误", "丙"}, 4},
        {"empty values", sectionsOf({"", "", "没了"}, {"", "", ""}, {"", "", ""}), {"", ""}, 3},
        {"leftover end markers beyond the end",
         sectionsOf({"甲", "没了", "没了"}, {}, {}),
         {"甲"},
         2},
    };
    for (const auto& c : cases) {
        TempFolder folder;
        if (!c.file.empty()) writeBytes(folder.catalogue(), c.file);
        std::vector<std::string> names;
        std::vector<int32_t> indices;
        ASSERT_TRUE(ProjectStore::scan([&](const Text& name, int32_t index) {
                        names.push_back(name);
                        indices.push_back(index);
                    }).ok())
            << c.what;
        EXPECT_EQ(names, c.names) << c.what;
        for (size_t i = 0; i < indices.size(); ++i) EXPECT_EQ(indices[i], int32_t(i + 1)) << c.what;
        EXPECT_EQ(endIndex, c.endIndex) << c.what;
    }
}

TEST(ProjectStore, ReadFieldReturnsFallbackOnlyWhenAbsent) {
    TempFolder folder;
    EXPECT_EQ(ProjectStore::readField("项目名", 1, "错误").value(), "错误");  // no file
    writeBytes(folder.catalogue(), "[项目名]\r\n1=\r\n2=乙\r\n3=没了\r\n[项目路径]\r\n2=\r\n");
    EXPECT_EQ(ProjectStore::readField("项目名", 1, "错误").value(), "");
    EXPECT_EQ(ProjectStore::readField("项目名", 2, "错误").value(), "乙");
    EXPECT_EQ(ProjectStore::readField("项目名", 4, "错误").value(), "错误");
    EXPECT_EQ(ProjectStore::readField("项目简介", 2, "请选中要删除的项目").value(),
              "请选中要删除的项目");
    EXPECT_EQ(ProjectStore::readField("项目路径", 2, "错误").value(), "");
}

TEST(ProjectStore, AppendWritesSixValuesAtTheEnd) {
    {
        TempFolder folder;
        ASSERT_TRUE(ProjectStore::ensureInitialised().ok());
        ASSERT_TRUE(ProjectStore::scan([](const Text&, int32_t) {}).ok());
        ASSERT_EQ(endIndex, 1);
        ASSERT_TRUE(ProjectStore::appendProject("新", "新的简介", "E:\\新").ok());
        EXPECT_EQ(endIndex, 1);  // only a walk moves it
        EXPECT_EQ(readBytes(folder.catalogue()),
                  sectionsOf({"新", "没了"}, {"新的简介", "没了"}, {"E:\\新", "没了"}));
        EXPECT_EQ(walkCount(), 1);
        EXPECT_EQ(endIndex, 2);
    }
    {
        TempFolder folder;
        std::vector<Project> eight;
        for (int i = 1; i <= 8; ++i)
            eight.push_back(
                {"名" + std::to_string(i), "简" + std::to_string(i), "路" + std::to_string(i)});
        writeBytes(folder.catalogue(), catalogueBytes(eight));
        ASSERT_EQ(walkCount(), 8);
        ASSERT_EQ(endIndex, 9);
        ASSERT_TRUE(ProjectStore::appendProject("名9", "简9", "路9").ok());
        eight.push_back({"名9", "简9", "路9"});
        EXPECT_EQ(readBytes(folder.catalogue()), catalogueBytes(eight));
    }
}

TEST(ProjectStore, AppendWithAStaleEndIndexLandsAtTheRealEnd) {
    TempFolder folder;
    writeBytes(folder.catalogue(), catalogueBytes({three[0]}));
    ASSERT_EQ(walkCount(), 1);
    // Another program adds two projects; this one has not walked since.
    writeBytes(folder.catalogue(), catalogueBytes(three));
    ASSERT_TRUE(ProjectStore::appendProject("丁项目", "第四个", "D:\\丁").ok());
    ASSERT_TRUE(ProjectStore::appendProject("戊项目", "第五个", "D:\\戊").ok());
    auto expected = three;
    expected.push_back({"丁项目", "第四个", "D:\\丁"});
    expected.push_back({"戊项目", "第五个", "D:\\戊"});
    EXPECT_EQ(listed(), expected);
}

TEST(ProjectStore, AppendKeepsProjectsHiddenBehindAnEndMarker) {
    TempFolder folder;
    writeBytes(folder.catalogue(),
               sectionsOf({"甲", "没了", "丙", "没了"}, {"一", "没了", "三", "没了"},
                          {"p1", "没了", "p3", "没了"}));
    ASSERT_TRUE(ProjectStore::appendProject("新", "新简", "新路").ok());
    EXPECT_EQ(readBytes(folder.catalogue()),
              sectionsOf({"甲", "新", "没了", "丙", "没了"}, {"一", "新简", "没了", "三", "没了"},
                         {"p1", "新路", "没了", "p3", "没了"}));

    // Behind a second end marker lies a further project; it survives too.
    writeBytes(folder.catalogue(), sectionsOf({"甲", "没了", "乙", "没了", "丙", "没了"},
                                              {"一", "没了", "二", "没了", "三", "没了"},
                                              {"p1", "没了", "p2", "没了", "p3", "没了"}));
    ASSERT_TRUE(ProjectStore::appendProject("新", "新简", "新路").ok());
    EXPECT_EQ(readBytes(folder.catalogue()),
              sectionsOf({"甲", "新", "没了", "乙", "没了", "丙", "没了"},
                         {"一", "新简", "没了", "二", "没了", "三", "没了"},
                         {"p1", "新路", "没了", "p2", "没了", "p3", "没了"}));
}

TEST(ProjectStore, AppendRefusesWhenNoIndexIsLeft) {
    TempFolder folder;
    const std::string file = "[项目名]\r\n2147483647=甲\r\n";
    writeBytes(folder.catalogue(), file);
    auto appended = ProjectStore::appendProject("乙", "二", "p2");
    ASSERT_FALSE(appended.ok());
    EXPECT_EQ(appended.error().kind, Failure::Kind::refused);
    EXPECT_EQ(readBytes(folder.catalogue()), file);
}

TEST(ProjectStore, RemovalMovesLaterProjectsDown) {
    const std::string end = "没了";
    struct Case {
        const char* what;
        std::vector<Project> before;
        int32_t selected;
        std::string after;
    };
    const Case cases[] = {
        {"first", three, 1,
         sectionsOf({"乙项目", "丙项目", end, end}, {"第二个", "第三个", end, end},
                    {"D:\\乙", "D:\\丙", end, end})},
        {"middle", three, 2,
         sectionsOf({"甲项目", "丙项目", end, end}, {"第一个", "第三个", end, end},
                    {"D:\\甲", "D:\\丙", end, end})},
        {"last", three, 3,
         sectionsOf({"甲项目", "乙项目", end, end}, {"第一个", "第二个", end, end},
                    {"D:\\甲", "D:\\乙", end, end})},
        {"only", {three[0]}, 1, sectionsOf({end, end}, {end, end}, {end, end})},
    };
    for (const auto& c : cases) {
        TempFolder folder;
        writeBytes(folder.catalogue(), catalogueBytes(c.before));
        ASSERT_EQ(walkCount(), int(c.before.size()));
        selectedIndex = c.selected;
        ASSERT_TRUE(ProjectStore::removeProject().ok()) << c.what;
        EXPECT_EQ(readBytes(folder.catalogue()), c.after) << c.what;
        EXPECT_EQ(selectedIndex, int32_t(c.before.size() + 1)) << c.what;
        EXPECT_EQ(shiftName, end) << c.what;
        EXPECT_EQ(walkCount(), int(c.before.size() - 1)) << c.what;
    }
}

TEST(ProjectStore, RemovalMovesTheFallbackIntoSectionsThatLackTheEndKey) {
    TempFolder folder;
    writeBytes(folder.catalogue(),
               sectionsOf({"甲", "乙", "没了"}, {"一", "二"}, {"p1", "p2", "没了"}));
    ASSERT_EQ(walkCount(), 2);
    selectedIndex = 2;
    ASSERT_TRUE(ProjectStore::removeProject().ok());
    EXPECT_EQ(
        readBytes(folder.catalogue()),
        sectionsOf({"甲", "没了", "没了"}, {"一", "请选中要删除的项目"}, {"p1", "没了", "没了"}));
}

TEST(ProjectStore, RemovalOfTheLastProjectWithoutEndMarkerEndsTheCatalogue) {
    TempFolder folder;
    writeBytes(folder.catalogue(), "[项目名]\r\n1=甲\r\n2=乙\r\n[项目简介]\r\n1=一\r\n2=二\r\n");
    ASSERT_EQ(walkCount(), 2);
    selectedIndex = 2;
    ASSERT_TRUE(ProjectStore::removeProject().ok());
    EXPECT_EQ(readBytes(folder.catalogue()),
              "[项目名]\r\n1=甲\r\n2=没了\r\n[项目简介]\r\n1=一\r\n2=没了\r\n"
              "[项目路径]\r\n2=没了\r\n");
    EXPECT_EQ(walkCount(), 1);
}

TEST(ProjectStore, StaleSelectionsAreRefusedWithoutWriting) {
    TempFolder folder;
    writeBytes(folder.catalogue(), catalogueBytes(three));
    const std::string before = readBytes(folder.catalogue());
    ASSERT_EQ(walkCount(), 3);

    for (int32_t stale : {0, -1, endIndex, endIndex + 1}) {
        selectedIndex = stale;
        auto removed = ProjectStore::removeProject();
        ASSERT_FALSE(removed.ok()) << stale;
        EXPECT_EQ(removed.error().kind, Failure::Kind::noProject);
        EXPECT_EQ(removed.error().message, "请选中要删除的项目");
        EXPECT_EQ(selectedIndex, stale);
        auto updated = ProjectStore::updateProject(stale, "x", "y", "z");
        ASSERT_FALSE(updated.ok()) << stale;
        EXPECT_EQ(updated.error().kind, Failure::Kind::noProject);
        EXPECT_EQ(updated.error().message, "请选中要修改的项目");
    }
    // Another program removes project 3 after this one listed it.
    writeBytes(folder.catalogue(), catalogueBytes({three[0], three[1]}));
    const std::string shortened = readBytes(folder.catalogue());
    selectedIndex = 3;
    EXPECT_FALSE(ProjectStore::removeProject().ok());
    EXPECT_FALSE(ProjectStore::updateProject(3, "x", "y", "z").ok());
    EXPECT_EQ(readBytes(folder.catalogue()), shortened);
    EXPECT_NE(before, shortened);
}

TEST(ProjectStore, TheEndMarkerIsNeverStoredAsAName) {
    TempFolder folder;
    writeBytes(folder.catalogue(), catalogueBytes(three));
    const std::string before = readBytes(folder.catalogue());
    auto appended = ProjectStore::appendProject("没了", "简介", "路径");
    ASSERT_FALSE(appended.ok());
    EXPECT_EQ(appended.error().message, "项目名不能为“没了”。");
    EXPECT_FALSE(ProjectStore::updateProject(2, "没了", "b", "c").ok());
    EXPECT_FALSE(ProjectStore::writeField("项目名", 1, "没了").ok());
    EXPECT_EQ(readBytes(folder.catalogue()), before);
    // At the end itself the marker hides nothing.
    EXPECT_TRUE(ProjectStore::writeField("项目名", 5, "没了").ok());
    EXPECT_EQ(listed(), three);
}

TEST(ProjectStore, UpdateWritesAllThreeValuesAndKeepsEmptyKeys) {
    TempFolder folder;
    writeBytes(folder.catalogue(), catalogueBytes(three));
    ASSERT_TRUE(ProjectStore::updateProject(2, "", "新简介", "").ok());
    EXPECT_EQ(readBytes(folder.catalogue()),
              sectionsOf({"甲项目", "", "丙项目", "没了"}, {"第一个", "新简介", "第三个", "没了"},
                         {"D:\\甲", "", "D:\\丙", "没了"}));
}

TEST(ProjectStore, EachChangeCommitsOnceAndOnlyWhenSomethingChanged) {
    TempFolder folder;
    writeBytes(folder.catalogue(), catalogueBytes(three));
    SeamControl seam;
    ASSERT_TRUE(ProjectStore::appendProject("丁", "四", "p4").ok());
    EXPECT_EQ(seam.count(Call::rename), 1);
    selectedIndex = 1;
    ASSERT_TRUE(ProjectStore::removeProject().ok());
    EXPECT_EQ(seam.count(Call::rename), 2);
    ASSERT_TRUE(ProjectStore::updateProject(1, "乙项目", "第二个", "D:\\乙").ok());
    EXPECT_EQ(seam.count(Call::rename), 2);
    EXPECT_EQ(seam.count(Call::write), 2);
}

TEST(ProjectStore, HostileValuesRoundTripAndTouchNothingElse) {
    struct Case {
        std::string written, read;
    };
    const Case cases[] = {
        {"a\r\n5=evil", "a 5=evil"},
        {"a\r[t]\nb", "a [t] b"},
        {"=x=", "=x="},
        {"[x]", "[x]"},
        {"; not a comment", "; not a comment"},
        {"  both ends  ", "  both ends  "},
        {"\t", "\t"},
        {"\"quoted\"", "\"quoted\""},
        {"'single'", "'single'"},
        {"\"", "\""},
        {"\x81\x5C\x81]\x81"
         "A",
         "\x81\x5C\x81]\x81"
         "A"},  // trail bytes \ ] A
        {"\x80 euro", "\x80 euro"},
        {"\xFF\x81", "\xFF\x81"},
    };
    TempFolder folder;
    writeBytes(folder.catalogue(), catalogueBytes(three));
    for (const auto& c : cases) {
        ASSERT_TRUE(ProjectStore::updateProject(2, c.written, c.written, c.written).ok());
        for (auto section : {"项目名", "项目简介", "项目路径"})
            EXPECT_EQ(ProjectStore::readField(section, 2, "错误").value(), c.read);
        auto now = listed();
        ASSERT_EQ(now.size(), 3u) << c.read;
        EXPECT_EQ(now[0], three[0]);
        EXPECT_EQ(now[2], three[2]);
    }
}

TEST(ProjectStore, LongValuesRoundTripWhole) {
    TempFolder folder;
    for (size_t size : {size_t(12000), size_t(1) << 20}) {
        std::string value;
        while (value.size() < size) value += "长值";
        value.resize(size);
        writeBytes(folder.catalogue(), catalogueBytes(three));
        ASSERT_TRUE(ProjectStore::appendProject(value, value, value).ok());
        EXPECT_EQ(ProjectStore::readField("项目简介", 4, "错误").value(), value);
        selectedIndex = 4;
        ASSERT_TRUE(ProjectStore::appendProject("后", "后", "后").ok());
        selectedIndex = 1;
        ASSERT_TRUE(ProjectStore::removeProject().ok());  // moves the long value down
        EXPECT_EQ(ProjectStore::readField("项目路径", 3, "错误").value(), value);
    }
}

TEST(ProjectStore, FileFailuresAreReportedWithPathAndReason) {
    TempFolder folder;
    writeBytes(folder.catalogue(), catalogueBytes(three));
    const std::string before = readBytes(folder.catalogue());
    SeamControl seam;
    seam.failCall(1, EACCES);  // opening the file to read it
    auto read = ProjectStore::readField("项目名", 1, "错误");
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().kind, Failure::Kind::file);
    EXPECT_NE(read.error().message.find("无法读取项目文件"), std::string::npos);
    EXPECT_NE(read.error().message.find("没有访问权限"), std::string::npos);
    EXPECT_NE(read.error().message.find(folder.path().filename().string()), std::string::npos);
}

TEST(ProjectStore, FailureReasonsAreNamedInChinese) {
    struct Case {
        int error;
        const char* reason;
    };
    const Case cases[] = {{EACCES, "没有访问权限"},
                          {ENOSPC, "磁盘空间不足"},
                          {EROFS, "磁盘或文件夹是只读的"},
                          {EIO, "读写磁盘时出错"}};
    for (const auto& c : cases) {
        TempFolder folder;
        writeBytes(folder.catalogue(), catalogueBytes(three));
        SeamControl seam;
        seam.failNext(Call::rename, c.error);
        auto r = ProjectStore::appendProject("丁", "四", "p4");
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error().code, c.error);
        EXPECT_NE(r.error().message.find("无法保存项目文件"), std::string::npos);
        EXPECT_NE(r.error().message.find(c.reason), std::string::npos) << c.reason;
        EXPECT_EQ(listed(), three);
        EXPECT_EQ(folder.strayFiles(), "");
    }
}

TEST(ProjectStore, ABusyCatalogueIsReportedAsBusy) {
    TempFolder folder;
    writeBytes(folder.catalogue(), catalogueBytes(three));
    auto held = files::lock(ProjectStore::filePath());
    ASSERT_TRUE(held.ok());
    auto appended = ProjectStore::appendProject("a", "b", "c");
    ASSERT_FALSE(appended.ok());
    EXPECT_EQ(appended.error().code, EBUSY);
    EXPECT_NE(appended.error().message.find("正被另一个程序修改"), std::string::npos);
    EXPECT_EQ(listed(), three);
}

}  // namespace
}  // namespace quillory
