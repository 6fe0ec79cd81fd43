// The converters at the toolkit's edge, and the test for characters that
// the catalogue cannot hold.
#include "store/gbk_codec.h"

#include <gtest/gtest.h>

#include <string>

namespace quillory {
namespace {

std::string utf8(const char8_t* s) {
    return reinterpret_cast<const char*>(s);
}

TEST(GbkCodec, FindsTheFirstCharacterGbkCannotHold) {
    struct Case {
        const char8_t* text;
        char32_t first;
    };
    const Case cases[] = {
        {u8"", 0},
        {u8"D:\\projects\\a b", 0},
        {u8"甲骨文·研究〇ⅰ€", 0},  // all in GBK, € as its one-byte 0x80
        {u8"中😀文", U'\U0001F600'},
        {u8"ก😀", U'\u0E01'},  // the first of two
        {u8"韩国语한국어", U'\uD55C'},
        {u8"价格¥", U'\u00A5'},  // GBK has only the full-width ￥
        {u8"𠀀", U'\U00020000'},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(codec::firstOutsideGbk(utf8(c.text)), c.first) << utf8(c.text);
    }
    // Broken UTF-8 cannot be stored either.
    EXPECT_EQ(codec::firstOutsideGbk("ab\xFF"), U'\uFFFD');
    EXPECT_EQ(codec::firstOutsideGbk("\xE4\xB8"), U'\uFFFD');
}

TEST(GbkCodec, ConvertsBothWaysAndReplacesWhatTheTargetCannotHold) {
    EXPECT_EQ(codec::utf8ToGbk(utf8(u8"没了")), "没了");  // narrow literals are GBK
    EXPECT_EQ(codec::gbkToUtf8("没了"), utf8(u8"没了"));
    // Outside the macro: its text of the expression is compiled as GBK too.
    const std::string emoji = utf8(u8"a😀b");
    EXPECT_EQ(codec::utf8ToGbk(emoji), "a?b");
    EXPECT_EQ(codec::gbkToUtf8("a\xFF"
                               "b"),
              utf8(u8"a\uFFFDb"));
}

}  // namespace
}  // namespace quillory
