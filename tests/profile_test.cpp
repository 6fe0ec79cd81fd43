// Tests of the INI document: how it reads a file, where its edits land, which
// bytes it keeps, and that every value it writes reads back.
//
// Narrow literals are GBK (the sources are compiled with -fexec-charset=GBK);
// u8"" and u"" literals give the bytes of the Unicode files.
#include "store/profile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

static_assert(sizeof("没") == 3, "narrow literals must be compiled as GBK (-fexec-charset=GBK)");
// The characters the cases rely on for their bytes.
static_assert(std::string_view("乗") == "\x81\x5C");
static_assert(std::string_view("乚") == "\x81\x5D");
static_assert(std::string_view("乕") == "\x81\x5B");
static_assert(std::string_view("亅") == "\x81\x7C");
static_assert(std::string_view("丄") == "\x81\x41");
static_assert(std::string_view("乤") == "\x81\x61");
static_assert(std::string_view("Ａ") == "\xA3\xC1" && std::string_view("ａ") == "\xA3\xE1");
static_assert(std::string_view("　") == "\xA1\xA1");

namespace quillory::profile {
namespace {

using namespace std::string_literals;

const std::string bom8 = "\xEF\xBB\xBF";
const std::string bom16 = "\xFF\xFE";

std::string utf8(std::u8string_view s) {
    return {reinterpret_cast<const char*>(s.data()), s.size()};
}

std::string utf16le(std::u16string_view s) {
    std::string out;
    for (char16_t c : s) {
        out += char(c & 0xFF);
        out += char(c >> 8);
    }
    return out;
}

std::string repeat(std::string_view unit, size_t times) {
    std::string out;
    out.reserve(unit.size() * times);
    for (size_t i = 0; i < times; ++i) out += unit;
    return out;
}

// Shows raw bytes in failure messages.
std::string hex(std::string_view s) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += char(c);
        } else {
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 0xF];
        }
    }
    return out;
}

// Byte-for-byte equality; a failure shows the first difference, also for
// values of a megabyte.
::testing::AssertionResult sameBytes(std::string_view got, std::string_view expected) {
    if (got == expected) return ::testing::AssertionSuccess();
    size_t at = 0;
    while (at < got.size() && at < expected.size() && got[at] == expected[at]) ++at;
    const size_t from = at < 24 ? 0 : at - 24;
    return ::testing::AssertionFailure()
           << "sizes " << got.size() << " and " << expected.size() << ", first difference at " << at
           << "\n     got: " << hex(got.substr(std::min(from, got.size()), 120))
           << "\nexpected: " << hex(expected.substr(std::min(from, expected.size()), 120));
}

// A read that found a value with exactly these bytes.
::testing::AssertionResult readsAs(const std::optional<std::string>& got,
                                   std::string_view expected) {
    if (!got)
        return ::testing::AssertionFailure() << "absent, expected " << hex(expected.substr(0, 120));
    return sameBytes(std::string_view(*got), expected);
}

// ---------------------------------------------------------------------------
// Reading

struct ReadCase {
    const char* what;
    std::string file;
    std::string section;
    std::string key;
    std::optional<std::string> expected;
};

const std::string quotes =
    "[q]\r\n"
    "a=\"x\"\r\n"
    "b=\"\"\r\n"
    "c=\" x \"\r\n"
    "d=\"a\"b\"\r\n"
    "e=\"x\r\n"
    "f=x\"\r\n"
    "g=\"x'\r\n"
    "h=\"\r\n"
    "i='x'\r\n"
    "j=  \"x\"  \r\n"
    "\"k\"=v\r\n"
    "l=''\r\n"
    "m='x\"\r\n"
    "n=\"  \"\r\n";

const std::string keyLines =
    "[s]\r\n"
    "a=b=c\r\n"
    "2=\r\n"
    "=x\r\n"
    "flag\r\n"
    "d=v ; not a comment\r\n"
    "e= \t \r\n";

const std::string comments =
    "[s]\r\n"
    ";1=x\r\n"
    "#2=y\r\n"
    "; 3 = z\r\n"
    "; a plain comment\r\n"
    "\r\n"
    "\r\n"
    "1=a\r\n";

const std::string duplicates =
    "[s]\r\n"
    "a=1\r\n"
    "a=2\r\n"
    "A=3\r\n"
    "[t]\r\n"
    "b=0\r\n"
    "[S]\r\n"
    "a=4\r\n"
    "c=5\r\n";

const std::string longValue = repeat("x", 12000);
const std::string longGbkValue = repeat("没", 6000);

const std::vector<ReadCase>& readCases() {
    static const std::vector<ReadCase> cases = {
        // Line ends.
        {"CR only", "[s]\rk=v\rn=w", "s", "n", "w"},
        {"LF only", "[s]\nk=v\nn=w\n", "s", "k", "v"},
        {"mixed, CR", "[s]\r\na=1\rb=2\nc=3\n\rd=4", "s", "b", "2"},
        {"mixed, LF CR", "[s]\r\na=1\rb=2\nc=3\n\rd=4", "s", "d", "4"},
        {"no final line end", "[s]\r\nk=v", "s", "k", "v"},

        // Blanks.
        {"blanks on the file side", " \t[\v s \f]\x1A \r\n \t k \v= \f v \x1A\t\r\n", "s", "k",
         "v"},
        {"blanks on the query side", "[s]\r\nk=v\r\n", " \t\v\f\rs\x1A", "\x1A k\r\t", "v"},
        {"inner blanks exact", "[a b]\r\nc d=e  f\r\n", "a b", "c d", "e  f"},
        {"inner blank of a section", "[a b]\r\nc d=e\r\n", "a  b", "c d", std::nullopt},
        {"no inner blank in a section", "[a b]\r\nc d=e\r\n", "ab", "c d", std::nullopt},
        {"inner blank of a key", "[a b]\r\nc d=e\r\n", "a b", "c  d", std::nullopt},
        {"A1 A1 kept in the file", "[\xA1\xA1s\xA1\xA1]\r\nk=\xA1\xA1v\xA1\xA1\r\n",
         "\xA1\xA1s\xA1\xA1", "k", "\xA1\xA1v\xA1\xA1"},
        {"A1 A1 is not trimmed from a section", "[\xA1\xA1s\xA1\xA1]\r\nk=v\r\n", "s", "k",
         std::nullopt},
        {"A1 A1 is not trimmed from a query", "[s]\r\nk=v\r\n", "s", "k\xA1\xA1", std::nullopt},

        // Quotes.
        {"\"x\"", quotes, "q", "a", "x"},
        {"\"\"", quotes, "q", "b", ""},
        {"\" x \"", quotes, "q", "c", " x "},
        {"\"a\"b\"", quotes, "q", "d", "a\"b"},
        {"\"x", quotes, "q", "e", "\"x"},
        {"x\"", quotes, "q", "f", "x\""},
        {"\"x'", quotes, "q", "g", "\"x'"},
        {"lone \"", quotes, "q", "h", "\""},
        {"'x'", quotes, "q", "i", "x"},
        {"blanks outside quotes", quotes, "q", "j", "x"},
        {"quoted key", quotes, "q", "\"k\"", "v"},
        {"quotes belong to the key", quotes, "q", "k", std::nullopt},
        {"''", quotes, "q", "l", ""},
        {"'x\"", quotes, "q", "m", "'x\""},
        {"quoted blanks", quotes, "q", "n", "  "},

        // Letter case.
        {"ASCII folded", "[SeCtIoN]\r\nKeY=v\r\n", "section", "key", "v"},
        {"ASCII folded, query", "[SeCtIoN]\r\nKeY=v\r\n", "SECTION", "KEY", "v"},
        {"double-byte matches itself", "[丄]\r\n丄=1\r\n", "丄", "丄", "1"},
        {"section trail byte not folded", "[丄]\r\n丄=1\r\n", "乤", "丄", std::nullopt},
        {"key trail byte not folded", "[丄]\r\n丄=1\r\n", "丄", "乤", std::nullopt},
        {"trail byte not folded the other way", "[乤]\r\nx=1\r\n", "丄", "x", std::nullopt},
        {"mixed names folded", "[A丄]\r\nB乤=1\r\n", "a丄", "b乤", "1"},
        {"mixed section, trail not folded", "[A丄]\r\nB乤=1\r\n", "a乤", "b乤", std::nullopt},
        {"mixed key, trail not folded", "[A丄]\r\nB乤=1\r\n", "a丄", "b丄", std::nullopt},
        {"full-width matches itself", "[Ａ]\r\nＢ=1\r\n", "Ａ", "Ｂ", "1"},
        {"full-width section not folded", "[Ａ]\r\nＢ=1\r\n", "ａ", "Ｂ", std::nullopt},
        {"full-width key not folded", "[Ａ]\r\nＢ=1\r\n", "Ａ", "ｂ", std::nullopt},
        {"01", "[n]\r\n01=a\r\n1=b\r\n", "n", "01", "a"},
        {"1 after 01", "[n]\r\n01=a\r\n1=b\r\n", "n", "1", "b"},
        {"01 is not 1", "[n]\r\n01=a\r\n", "n", "1", std::nullopt},

        // Double-byte characters.
        {"0x80 is a byte of its own", "[\x80]\r\nk=\"\x80\"\r\n", "\x80", "k", "\x80"},
        {"0xFF is a byte of its own", "[\xFF]\r\nk=\xFF \r\n", "\xFF", "k", "\xFF"},
        {"[\\x81]] is 乚", "[\x81]]\r\nk=v\r\n", "乚", "k", "v"},
        {"[\\x81]] is not \\x81", "[\x81]]\r\nk=v\r\n", "\x81", "k", std::nullopt},
        {"[abc\\x81] is not a header", "[s]\r\n[abc\x81]\r\nk=v\r\n", "s", "k", "v"},
        {"[abc\\x81] names no section", "[s]\r\n[abc\x81]\r\nk=v\r\n", "abc\x81", "k",
         std::nullopt},
        {"[abc\\x81] names not abc乚", "[s]\r\n[abc\x81]\r\nk=v\r\n", "abc乚", "k", std::nullopt},
        {"[abc\\x81] first: keys before any header", "[abc\x81]\r\nk=v\r\n", "", "k", "v"},
        {"[乚 without ] is a key line", "[s]\r\n[乚\r\nk=v\r\n", "s", "k", "v"},
        {"trail bytes 5C and 5D in names", "[乗乚]\r\n乗=乚\r\n", "乗乚", "乗", "乚"},
        {"trail byte 5D in a quoted value", "[s]\r\nk=\"乚\"\r\n", "s", "k", "乚"},
        {"a lead byte swallows =", "[s]\r\na\x81=b=c\r\n", "s", "a\x81=b", "c"},
        {"a lead byte swallows =, shorter key", "[s]\r\na\x81=b=c\r\n", "s", "a\x81", std::nullopt},

        // Section headers.
        {"last ] closes", "[a]b]\r\nk=v\r\n", "a]b", "k", "v"},
        {"first ] does not close", "[a]b]\r\nk=v\r\n", "a", "k", std::nullopt},
        {"text after ] ignored", "[c] ; note\r\nk=v\r\n", "c", "k", "v"},
        {"key after ] ignored", "  [d]x=y\r\nk=v\r\n", "d", "x", std::nullopt},
        {"[e stays in its section", "[s]\r\n[e\r\nf=1\r\n", "s", "f", "1"},
        {"[e opens nothing", "[s]\r\n[e\r\nf=1\r\n", "e", "f", std::nullopt},
        {"[e has no value", "[s]\r\n[e\r\nf=1\r\n", "s", "[e", std::nullopt},
        {"[e=1 is a key", "[s]\r\n[e=1\r\n", "s", "[e", "1"},
        {"keys before the first header", "k=v\r\n[s]\r\nx=y\r\n", "", "k", "v"},
        {"pre-header key not in the first section", "k=v\r\n[s]\r\nx=y\r\n", "s", "k",
         std::nullopt},
        {"section keys not in the empty section", "k=v\r\n[s]\r\nx=y\r\n", "", "x", std::nullopt},
        {"section after pre-header keys", "k=v\r\n[s]\r\nx=y\r\n", "s", "x", "y"},

        // Key lines.
        {"split at the first =", keyLines, "s", "a", "b=c"},
        {"no key up to the second =", keyLines, "s", "a=b", std::nullopt},
        {"2= is empty, not absent", keyLines, "s", "2", ""},
        {"=x is the empty key", keyLines, "s", "", "x"},
        {"line without = never found", keyLines, "s", "flag", std::nullopt},
        {"inline ; is value", keyLines, "s", "d", "v ; not a comment"},
        {"blank value is empty", keyLines, "s", "e", ""},

        // Comments.
        {";1 is a key", comments, "s", ";1", "x"},
        {";1 is not 1", comments, "s", "1", "a"},
        {"#2 is a key", comments, "s", "#2", "y"},
        {"#2 is not 2", comments, "s", "2", std::nullopt},
        {"; 3 is not 3", comments, "s", "3", std::nullopt},
        {"; 3 is a key", comments, "s", "; 3", "z"},

        // Duplicates.
        {"first key wins", duplicates, "s", "a", "1"},
        {"later duplicate section ignored", duplicates, "s", "c", std::nullopt},
        {"section between duplicates", duplicates, "t", "b", "0"},

        // NUL and 0x1A.
        {"NUL ends the value", "[s]\r\nk=ab\0cd\r\n"s, "s", "k", "ab"},
        {"NUL first", "[s]\r\nk=\0x\r\n"s, "s", "k", ""},
        {"NUL before the closing quote", "[s]\r\nk=\"x\0\"\r\n"s, "s", "k", "\"x"},
        {"trailing 0x1A line", "[s]\r\nk=v\r\n\x1A", "s", "k", "v"},
        {"trailing 0x1A on the value", "[s]\r\nk=v\x1A", "s", "k", "v"},

        // Missing.
        {"empty file", "", "s", "k", std::nullopt},
        {"missing section", "[s]\r\nk=v\r\n", "t", "k", std::nullopt},
        {"missing key", "[s]\r\nk=v\r\n", "s", "x", std::nullopt},
        {"missing empty section", "[s]\r\nk=v\r\n", "", "k", std::nullopt},

        // Long values.
        {"12,000 bytes", "[s]\r\nk=" + longValue + "\r\nn=1\r\n", "s", "k", longValue},
        {"12,000 GBK bytes", "[s]\r\nk=" + longGbkValue + "\r\n", "s", "k", longGbkValue},
        {"key after a long value", "[s]\r\nk=" + longValue + "\r\nn=1\r\n", "s", "n", "1"},

        // Byte-order marks.
        {"UTF-8 BOM", bom8 + utf8(u8"[项目名]\r\n1=没了\r\n"), "项目名", "1", "没了"},
        {"UTF-8 BOM, blanks and quotes", bom8 + utf8(u8"[ 简介 ]\r\n 键 = \"  值  \" \r\n"), "简介",
         "键", "  值  "},
        {"UTF-16LE BOM", bom16 + utf16le(u"[项目名]\r\n1=没了\r\n"), "项目名", "1", "没了"},
        {"UTF-16LE BOM, CR only", bom16 + utf16le(u"[s]\rk=v\rn=路径"), "s", "n", "路径"},
        {"UTF-16LE BOM, trail byte 5D", bom16 + utf16le(u"[乚]\r\n乗=乚"), "乚", "乗", "乚"},
        {"UTF-8 without BOM is GBK", utf8(u8"[项目名]\r\n1=没了\r\n"), "项目名", "1", std::nullopt},
    };
    return cases;
}

TEST(ProfileRead, TableOfCases) {
    for (const ReadCase& c : readCases()) {
        SCOPED_TRACE(c.what);
        const Document doc = Document::parse(c.file);
        const std::optional<std::string> got = doc.get(c.section, c.key);
        if (c.expected) {
            EXPECT_TRUE(readsAs(got, *c.expected));
        } else {
            EXPECT_EQ(got, std::nullopt);
        }
        // A look-up changes nothing.
        EXPECT_FALSE(doc.modified());
        EXPECT_EQ(doc.serialise(), c.file);
    }
}

TEST(ProfileRead, EncodingFollowsTheByteOrderMark) {
    EXPECT_EQ(Document::parse("[s]\r\n").encoding(), Encoding::gbk);
    EXPECT_EQ(Document::parse(bom8 + "[s]\r\n").encoding(), Encoding::utf8Bom);
    EXPECT_EQ(Document::parse(bom16 + utf16le(u"[s]\r\n")).encoding(), Encoding::utf16leBom);
    EXPECT_EQ(Document().encoding(), Encoding::gbk);
}

TEST(ProfileRead, SurvivesAMove) {
    Document first = Document::parse("[S]\r\nK=v\r\n");
    ASSERT_EQ(first.get("s", "k"), "v");  // builds the key index before the move
    Document second = std::move(first);
    EXPECT_EQ(second.get("s", "k"), "v");
    Document third;
    third = std::move(second);
    third.set("s", "k", "w");
    third.set("s", "n", "x");
    EXPECT_EQ(third.get("s", "k"), "w");
    EXPECT_EQ(third.serialise(), "[S]\r\nK=w\r\nn=x\r\n");
}

// ---------------------------------------------------------------------------
// Indexes and keys of a section

TEST(ProfileIndex, HighestDecimalKey) {
    const Document doc = Document::parse(
        "[n]\r\n"
        "1=a\r\n"
        " 7 =b\r\n"
        "3=c\r\n"
        "01=d\r\n"
        "0=e\r\n"
        "-9=f\r\n"
        "+8=g\r\n"
        "10x=h\r\n"
        "2147483648=i\r\n"
        "99\r\n"
        "[m]\r\n"
        "50=j\r\n"
        "[N]\r\n"
        "12=k\r\n"
        "[e]\r\n"
        "x=1\r\n");
    EXPECT_EQ(doc.highestIndex("n"), 7);
    EXPECT_EQ(doc.highestIndex("N"), 7);
    EXPECT_EQ(doc.highestIndex("m"), 50);
    EXPECT_EQ(doc.highestIndex("e"), 0);
    EXPECT_EQ(doc.highestIndex("absent"), 0);
    EXPECT_EQ(Document::parse("[n]\r\n2147483647=x\r\n").highestIndex("n"), 2147483647);
    EXPECT_EQ(Document::parse("[n]\r\n09=x\r\n1=y\r\n").highestIndex("n"), 1);
}

TEST(ProfileIndex, HighestIndexSeesWrittenKeys) {
    Document doc = Document::parse("[n]\r\n1=a\r\n");
    doc.set("n", "12", "b");
    doc.set("new", "3", "c");
    EXPECT_EQ(doc.highestIndex("n"), 12);
    EXPECT_EQ(doc.highestIndex("new"), 3);
}

// Catalogue-sized sections: thousands of decimal keys, written in order, in
// reverse and sparsely, with duplicates that must not win.
TEST(ProfileIndex, ManyDecimalKeys) {
    for (bool reverse : {false, true}) {
        SCOPED_TRACE(reverse ? "keys in reverse order" : "keys in order");
        std::string file = "[n]\r\n";
        for (int i = 0; i < 3000; ++i) {
            const int index = reverse ? 3000 - i : i + 1;
            file += std::to_string(index) + "=v" + std::to_string(index) + "\r\n";
        }
        file += "7=duplicate\r\n100000=far\r\n[m]\r\n3001=other\r\n[N]\r\n3002=later\r\n";
        Document doc = Document::parse(file);
        for (int index = 1; index <= 3000; ++index) {
            ASSERT_EQ(doc.get("n", std::to_string(index)), "v" + std::to_string(index)) << index;
        }
        EXPECT_EQ(doc.get("n", "0"), std::nullopt);
        EXPECT_EQ(doc.get("n", "3001"), std::nullopt);
        EXPECT_EQ(doc.get("n", "3002"), std::nullopt);
        EXPECT_EQ(doc.get("n", "100000"), "far");
        EXPECT_EQ(doc.get("n", "99999"), std::nullopt);
        EXPECT_EQ(doc.highestIndex("n"), 100000);
        EXPECT_EQ(doc.highestIndex("m"), 3001);

        doc.set("n", "1500", "changed");
        doc.set("n", "3001", "new");
        doc.set("n", "7", "v7");
        EXPECT_EQ(doc.get("n", "1500"), "changed");
        EXPECT_EQ(doc.get("n", "3001"), "new");
        EXPECT_EQ(doc.get("m", "3001"), "other");
        std::string expected = file;
        const std::string_view oldLine = "\n1500=v1500\r";
        expected.replace(expected.find(oldLine), oldLine.size(), "\n1500=changed\r");
        expected.insert(expected.find("[m]"), "3001=new\r\n");
        EXPECT_TRUE(sameBytes(doc.serialise(), expected));
    }
}

TEST(ProfileIndex, SectionHasKeys) {
    Document doc = Document::parse(
        "[empty]\r\n"
        "\r\n"
        "[one]\r\n"
        "k=\r\n"
        "[later]\r\n"
        "[empty]\r\n"
        "k=v\r\n");
    EXPECT_FALSE(doc.sectionHasKeys("empty"));
    EXPECT_TRUE(doc.sectionHasKeys("ONE"));
    EXPECT_FALSE(doc.sectionHasKeys("later"));
    EXPECT_FALSE(doc.sectionHasKeys("absent"));
    doc.set("later", "k", "v");
    doc.set("absent", "k", "v");
    EXPECT_TRUE(doc.sectionHasKeys("later"));
    EXPECT_TRUE(doc.sectionHasKeys("absent"));
}

// ---------------------------------------------------------------------------
// Writing

TEST(ProfileWrite, NewFileIsTheEmptyCatalogue) {
    const std::string expected =
        "[项目名]\r\n1=没了\r\n[项目简介]\r\n1=没了\r\n[项目路径]\r\n1=没了\r\n";
    ASSERT_EQ(expected.size(), 58u);
    for (bool fromEmptyFile : {false, true}) {
        SCOPED_TRACE(fromEmptyFile ? "parsed empty file" : "new document");
        Document doc = fromEmptyFile ? Document::parse("") : Document();
        for (const char* s : {"项目名", "项目简介", "项目路径"}) doc.set(s, "1", "没了");
        EXPECT_TRUE(doc.modified());
        EXPECT_TRUE(sameBytes(doc.serialise(), expected));
    }
}

struct Edit {
    std::string section;
    std::string key;
    std::string value;
};

struct WriteCase {
    const char* what;
    std::string before;
    std::vector<Edit> edits;
    std::string after;
};

const std::string handEdited =
    "; Quillory catalogue, edited by hand\r\n"
    "\r\n"
    "  [ 项目名 ]   ; names\r\n"
    "1 =  第一\r\n"
    "  2=第二  \r\n"
    "# note\r\n"
    "\r\n"
    "\r\n"
    "[项目简介]\n"
    "1=\"引号\"\n"
    "\n"
    "[项目路径]\r"
    "1=C:\\a\r"
    "\t\r\n";

const std::vector<WriteCase>& writeCases() {
    static const std::vector<WriteCase> cases = {
        // New keys.
        {"new key after the last non-blank line, blank lines stay after it",
         "[a]\r\nx=1\r\n\r\n\r\n[b]\r\ny=2\r\n[a]\r\nw=0\r\n",
         {{"a", "z", "3"}, {"b", "q", "4"}, {"A", "w", "5"}},
         "[a]\r\nx=1\r\nz=3\r\nw=5\r\n\r\n\r\n[b]\r\ny=2\r\nq=4\r\n[a]\r\nw=0\r\n"},
        {"new key under a bare header",
         "[a]\r\n\r\n[b]\r\n",
         {{"a", "k", "v"}},
         "[a]\r\nk=v\r\n\r\n[b]\r\n"},
        {"new key in the empty section",
         "k=v\r\n\r\n[s]\r\n",
         {{"", "n", "w"}},
         "k=v\r\nn=w\r\n\r\n[s]\r\n"},
        {"new key after a comment that ends its section",
         "[a]\r\nx=1\r\n; end of a\r\n\r\n[b]\r\n",
         {{"a", "y", "2"}},
         "[a]\r\nx=1\r\n; end of a\r\ny=2\r\n\r\n[b]\r\n"},
        {"new keys keep their order",
         "[a]\r\n",
         {{"a", "2", "x"}, {"a", "1", "y"}},
         "[a]\r\n2=x\r\n1=y\r\n"},
        {"new key in an LF file ends in CR LF",
         "[a]\nx=1\n\n",
         {{"a", "y", "2"}},
         "[a]\nx=1\ny=2\r\n\n"},

        // New sections.
        {"new section at the end",
         "[a]\r\nx=1\r\n",
         {{"c", "k", "v"}, {"c", "l", "w"}},
         "[a]\r\nx=1\r\n[c]\r\nk=v\r\nl=w\r\n"},
        {"new sections in the order written",
         "[a]\r\n",
         {{"c", "k", "v"}, {"b", "k", "w"}},
         "[a]\r\n[c]\r\nk=v\r\n[b]\r\nk=w\r\n"},
        {"new section written to again under another case",
         "[a]\r\n",
         {{"New", "Key", "1"}, {"NEW", "b", "2"}, {"new", "KEY", "3"}},
         "[a]\r\n[New]\r\nKey=3\r\nb=2\r\n"},
        {"new section name trimmed", "", {{" \tc ", " k ", "v"}}, "[c]\r\nk=v\r\n"},

        // No final line end.
        {"no final line end, new key", "[a]\r\nx=1", {{"a", "y", "2"}}, "[a]\r\nx=1\r\ny=2\r\n"},
        {"no final line end, new section",
         "[a]\r\nx=1",
         {{"b", "y", "2"}},
         "[a]\r\nx=1\r\n[b]\r\ny=2\r\n"},
        {"no final line end, header only", "[a]", {{"a", "y", "2"}}, "[a]\r\ny=2\r\n"},
        {"no final line end, replaced", "[a]\r\nx=1", {{"a", "x", "9"}}, "[a]\r\nx=9"},
        {"no final line end, CR only file",
         "[a]\rx=1",
         {{"a", "y", "2"}, {"b", "z", "3"}},
         "[a]\rx=1\r\ny=2\r\n[b]\r\nz=3\r\n"},

        // Existing keys.
        {"replaced in place keeping its spelling",
         "[Sec]\r\n  KeY = old ; c\r\nnext=1\r\n",
         {{"sec", "key", "new"}},
         "[Sec]\r\n  KeY = new\r\nnext=1\r\n"},
        {"replaced in an LF file", "[s]\nk=a\nm=b\n", {{"s", "k", "c"}}, "[s]\nk=c\nm=b\n"},
        {"replaced in a CR file", "[s]\rk=a\rm=b\r", {{"s", "k", "c"}}, "[s]\rk=c\rm=b\r"},
        {"first of duplicate keys replaced",
         "[s]\r\nk=a\r\nK=b\r\n",
         {{"s", "K", "c"}},
         "[s]\r\nk=c\r\nK=b\r\n"},
        {"key of the first duplicate section replaced",
         "[s]\r\nk=a\r\n[s]\r\nk=b\r\n",
         {{"s", "k", "c"}},
         "[s]\r\nk=c\r\n[s]\r\nk=b\r\n"},
        {"replaced twice", "[s]\r\nk=a\r\n", {{"s", "k", "b"}, {"s", "k", "c"}}, "[s]\r\nk=c\r\n"},
        {"added then replaced", "[s]\r\n", {{"s", "k", "b"}, {"s", "k", "c"}}, "[s]\r\nk=c\r\n"},
        {"replaced with a value that needs quotes",
         "[s]\r\nk=a\r\n",
         {{"s", "k", " a"}},
         "[s]\r\nk=\" a\"\r\n"},

        // The value a key already holds.
        {"same value", "[s]\r\nk=v\r\n", {{"s", "k", "v"}}, "[s]\r\nk=v\r\n"},
        {"same value, other case and blanks",
         "[S]\r\n  K = v  \r\n",
         {{" s", "k ", "v"}},
         "[S]\r\n  K = v  \r\n"},
        {"same value, stored quoted",
         "[s]\r\nk=\"v\"\r\n",
         {{"s", "k", "v"}},
         "[s]\r\nk=\"v\"\r\n"},
        {"same value, quoted blanks",
         "[s]\r\nk=' v '\r\n",
         {{"s", "k", " v "}},
         "[s]\r\nk=' v '\r\n"},
        {"same empty value", "[s]\r\nk=\r\n", {{"s", "k", ""}}, "[s]\r\nk=\r\n"},
        {"same value as the first duplicate",
         "[s]\r\nk=a\r\nk=b\r\n",
         {{"s", "k", "a"}},
         "[s]\r\nk=a\r\nk=b\r\n"},
        {"same value once the line break is a space",
         "[s]\r\nk=a b\r\n",
         {{"s", "k", "a\r\nb"}},
         "[s]\r\nk=a b\r\n"},
        {"same value, no final line end", "[s]\r\nk=v", {{"s", "k", "v"}}, "[s]\r\nk=v"},
        {"same value, UTF-8 BOM",
         bom8 + utf8(u8"[项目名]\r\n1=没了\r\n"),
         {{"项目名", "1", "没了"}},
         bom8 + utf8(u8"[项目名]\r\n1=没了\r\n")},
        {"same value, UTF-16LE BOM",
         bom16 + utf16le(u"[项目名]\r\n1=没了\r\n"),
         {{"项目名", "1", "没了"}},
         bom16 + utf16le(u"[项目名]\r\n1=没了\r\n")},

        // Every byte the edits do not touch stays.
        {"hand-edited GBK file",
         handEdited,
         {{"项目名", "2", "改"},
          {"项目名", "3", "三"},
          {"项目简介", "2", "x"},
          {"项目简介", "1", "引号"},
          {"项目路径", "1", "D:\\b"},
          {"项目路径", "2", "y"},
          {"新", "1", "v"}},
         "; Quillory catalogue, edited by hand\r\n"
         "\r\n"
         "  [ 项目名 ]   ; names\r\n"
         "1 =  第一\r\n"
         "  2=改\r\n"
         "# note\r\n"
         "3=三\r\n"
         "\r\n"
         "\r\n"
         "[项目简介]\n"
         "1=\"引号\"\n"
         "2=x\r\n"
         "\n"
         "[项目路径]\r"
         "1=D:\\b\r"
         "2=y\r\n"
         "\t\r\n"
         "[新]\r\n"
         "1=v\r\n"},
        {"hand-edited UTF-8 file",
         bom8 + utf8(u8"; 手工 😀\r\n\r\n[项目名]\r\n1 = 旧\r\n\r\n[其他]\nx=😀\n"),
         {{"项目名", "1", "新"}, {"项目名", "2", "二"}, {"新节", "k", "v"}, {"其他", "y", "1"}},
         bom8 + utf8(u8"; 手工 😀\r\n\r\n[项目名]\r\n1 = 新\r\n2=二\r\n\r\n[其他]\nx=😀\ny=1\r\n"
                     u8"[新节]\r\nk=v\r\n")},
        {"hand-edited UTF-16LE file",
         bom16 + utf16le(u"; 手工 😀\r\n\r\n[项目名]\r\n1 = 旧\r\n\r\n[其他]\rx=😀\r"),
         {{"项目名", "1", "新"}, {"项目名", "2", "二"}, {"新节", "k", "v"}, {"其他", "y", "1"}},
         bom16 + utf16le(u"; 手工 😀\r\n\r\n[项目名]\r\n1 = 新\r\n2=二\r\n\r\n[其他]\rx=😀\ry=1\r\n"
                         u"[新节]\r\nk=v\r\n")},
        {"UTF-16LE file without a final line end",
         bom16 + utf16le(u"[a]\r\nx=1"),
         {{"b", "y", "2"}},
         bom16 + utf16le(u"[a]\r\nx=1\r\n[b]\r\ny=2\r\n")},
        {"UTF-8 file without a final line end",
         bom8 + "[a]\r\nx=1",
         {{"a", "y", "路"}},
         bom8 + utf8(u8"[a]\r\nx=1\r\ny=路\r\n")},
        {"UTF-16LE CR file, replaced",
         bom16 + utf16le(u"[s]\rk=a\rm=b"),
         {{"s", "k", "路"}},
         bom16 + utf16le(u"[s]\rk=路\rm=b")},
        {"UTF-8 LF file, replaced",
         bom8 + utf8(u8"[s]\nk=a\nm=b\n"),
         {{"s", "m", "路"}},
         bom8 + utf8(u8"[s]\nk=a\nm=路\n")},
        {"UTF-16LE last line replaced, then a key added after it",
         bom16 + utf16le(u"[a]\r\nx=1"),
         {{"a", "x", "2"}, {"a", "y", "3"}},
         bom16 + utf16le(u"[a]\r\nx=2\r\ny=3\r\n")},
        {"GBK last line replaced, then a key added after it",
         "[a]\r\nx=1",
         {{"a", "x", "2"}, {"a", "y", "3"}},
         "[a]\r\nx=2\r\ny=3\r\n"},
        {"BOM only", bom8, {{"s", "k", "值"}}, bom8 + utf8(u8"[s]\r\nk=值\r\n")},
    };
    return cases;
}

TEST(ProfileWrite, TableOfCases) {
    for (const WriteCase& c : writeCases()) {
        SCOPED_TRACE(c.what);
        Document doc = Document::parse(c.before);
        for (const Edit& e : c.edits) doc.set(e.section, e.key, e.value);
        const std::string out = doc.serialise();
        EXPECT_TRUE(sameBytes(out, c.after));
        EXPECT_EQ(doc.modified(), c.after != c.before);
        // What was written parses back to the same bytes.
        EXPECT_EQ(Document::parse(out).serialise(), out);
    }
}

TEST(ProfileWrite, HandEditedFileReadsTheWrittenValues) {
    Document doc = Document::parse(handEdited);
    doc.set("项目名", "2", "改");
    doc.set("新", "1", "v");
    const Document again = Document::parse(doc.serialise());
    EXPECT_EQ(again.get("项目名", "1"), "第一");
    EXPECT_EQ(again.get("项目名", "2"), "改");
    EXPECT_EQ(again.get("项目简介", "1"), "引号");
    EXPECT_EQ(again.get("项目路径", "1"), "C:\\a");
    EXPECT_EQ(again.get("新", "1"), "v");
    EXPECT_EQ(again.get("", "; Quillory catalogue, edited by hand"), std::nullopt);
}

TEST(ProfileWrite, UnicodeFilesReadBackTheWrittenValues) {
    for (const std::string& file :
         {bom8 + utf8(u8"[项目名]\r\n1=没了\r\n"), bom16 + utf16le(u"[项目名]\r\n1=没了\r\n")}) {
        Document doc = Document::parse(file);
        doc.set("项目名", "1", "乗乚");
        doc.set("项目名", "2", " 引号 ");
        doc.set("项目路径", "1", "C:\\路径");
        const Document again = Document::parse(doc.serialise());
        EXPECT_EQ(again.encoding(), doc.encoding());
        EXPECT_EQ(again.get("项目名", "1"), "乗乚");
        EXPECT_EQ(again.get("项目名", "2"), " 引号 ");
        EXPECT_EQ(again.get("项目路径", "1"), "C:\\路径");
    }
}

// Names with line breaks cannot add lines either.
// A UTF-16 file cut after an odd byte still takes new lines that read back.
TEST(ProfileWrite, Utf16FileEndingInAnOddByteTakesNewLines) {
    Document doc = Document::parse(bom16 + utf16le(u"[a]\r\nx=1") + "\x41");
    doc.set("a", "y", "路");
    doc.set("b", "z", "径");
    const std::string out = doc.serialise();
    EXPECT_EQ(out.size() % 2, 0u);
    const Document again = Document::parse(out);
    EXPECT_EQ(again.get("a", "y"), "路");
    EXPECT_EQ(again.get("b", "z"), "径");
    EXPECT_TRUE(again.get("a", "x").has_value());
}

TEST(ProfileWrite, NamesCannotInjectLines) {
    Document doc = Document::parse("[s]\r\nk=1\r\n");
    doc.set("s\r\n[t]", "k\n5", "v");
    doc.set("s", "a\rb", "w");
    EXPECT_EQ(doc.serialise(), "[s]\r\nk=1\r\na b=w\r\n[s [t]]\r\nk 5=v\r\n");
    const Document again = Document::parse(doc.serialise());
    EXPECT_EQ(again.get("s [t]", "k 5"), "v");
    EXPECT_EQ(again.get("s", "a b"), "w");
    EXPECT_EQ(again.get("t", "k"), std::nullopt);
    EXPECT_EQ(again.get("s", "5"), std::nullopt);
}

// ---------------------------------------------------------------------------
// Values round-trip

struct ValueCase {
    const char* what;
    std::string value;
    std::string expected;  // what reads back
};

const std::vector<ValueCase>& valueCases() {
    static const std::vector<ValueCase> cases = {
        {"empty", "", ""},
        {"plain", "value", "value"},
        {"CR", "a\rb", "a b"},
        {"LF", "a\nb", "a b"},
        {"CR LF", "a\r\nb", "a b"},
        {"LF CR is two breaks", "a\n\rb", "a  b"},
        {"injected key", "a\r\n5=evil", "a 5=evil"},
        {"injected section", "a\r\n[t]\r\nz=9", "a [t] z=9"},
        {"only a line break", "\r\n", " "},
        {"trailing CR", "x\r", "x "},
        {"leading LF", "\nx", " x"},
        {"=", "=", "="},
        {"equals signs", "==a=", "==a="},
        {"[x]", "[x]", "[x]"},
        {";", ";", ";"},
        {"comment-like", "; c", "; c"},
        {"#", "#x", "#x"},
        {"leading blank", " x", " x"},
        {"trailing blank", "x ", "x "},
        {"tabs", "\tx\t", "\tx\t"},
        {"leading VT", "\vx", "\vx"},
        {"trailing FF", "x\f", "x\f"},
        {"leading 0x1A", "\x1Ax", "\x1Ax"},
        {"trailing 0x1A", "x\x1A", "x\x1A"},
        {"only blanks", "   ", "   "},
        {"one space", " ", " "},
        {"\"x\"", "\"x\"", "\"x\""},
        {"'x'", "'x'", "'x'"},
        {"lone \"", "\"", "\""},
        {"lone '", "'", "'"},
        {"\"\"", "\"\"", "\"\""},
        {"''", "''", "''"},
        {"\"x'", "\"x'", "\"x'"},
        {"\"x", "\"x", "\"x"},
        {"x\"", "x\"", "x\""},
        {"blanks around quotes", " \"x\" ", " \"x\" "},
        {"quote, x, quote, blank", "\"x\" ", "\"x\" "},
        {"doubled quotes", "\"\"x\"\"", "\"\"x\"\""},
        {"blank and single quotes", " 'x' ", " 'x' "},
        {"trail byte 5C", "乗", "乗"},
        {"trail byte 5D", "乚", "乚"},
        {"trail byte 5B", "乕", "乕"},
        {"trail byte 7C", "亅", "亅"},
        {"trail byte A", "丄", "丄"},
        {"trail byte a", "乤", "乤"},
        {"bracketed 乚", "[乚]", "[乚]"},
        {"quoted 乗", "\"乗\"", "\"乗\""},
        {"quote then 乗", "\"乗", "\"乗"},
        {"blank then 乗", " 乗", " 乗"},
        {"乚 then blank", "乚 ", "乚 "},
        {"ideographic spaces", "\xA1\xA1x\xA1\xA1", "\xA1\xA1x\xA1\xA1"},
        {"0x80", "\x80", "\x80"},
        {"0x80 inside",
         "a\x80"
         "b",
         "a\x80"
         "b"},
        {"0xFF", "\xFF", "\xFF"},
        {"0xFF inside",
         "a\xFF"
         "b",
         "a\xFF"
         "b"},
        {"two 0xFF", "\xFF\xFF", "\xFF\xFF"},
        {"lone lead byte before a digit",
         "a\x81"
         "0b",
         "a\x81"
         "0b"},
        {"lone lead byte before a blank", "a\x81 b", "a\x81 b"},
        {"lone lead byte before =", "a\x81=b", "a\x81=b"},
        {"lone lead byte before a closing quote", "\"a\x81\"", "\"a\x81\""},
        {"lone lead byte at the end", "ab\x81", "ab\x81"},
        {"only a lone lead byte", "\x81", "\x81"},
        {"quote, then a lone lead byte at the end", "\"ab\x81", "\"ab\x81"},
        {"lone lead byte, then a trailing blank", "ab\x81 ", "ab\x81 "},
        {"blanks around a lone lead byte and a blank", " ab\x81 ", " ab\x81 "},
        {"lone lead byte before a line break", "x\x81\r\ny", "x\x81 y"},
        {"NUL ends the value", "ab\0cd"s, "ab"},
        {"12,000 bytes", longValue, longValue},
        {"1 MB of GBK with blanks at the edges", " " + repeat("没乗", 1 << 18) + " ",
         " " + repeat("没乗", 1 << 18) + " "},
    };
    return cases;
}

const std::string valueFile = "[s]\r\nbefore=1\r\nk=old\r\nafter=2\r\n[t]\r\nz=3\r\n";

// Where a value goes, and the bytes around its line.
struct Place {
    const char* what;
    const char* section;
    const char* key;
    std::string head;  // bytes before the value
    std::string tail;  // bytes after the value
};

const std::vector<Place>& places() {
    static const std::vector<Place> cases = {
        {"replacing a key", "s", "k", "[s]\r\nbefore=1\r\nk=", "\r\nafter=2\r\n[t]\r\nz=3\r\n"},
        {"adding a key", "s", "n",
         "[s]\r\nbefore=1\r\nk=old\r\nafter=2\r\nn=", "\r\n[t]\r\nz=3\r\n"},
        {"adding a section", "u", "n", valueFile + "[u]\r\nn=", "\r\n"},
    };
    return cases;
}

// The document holds the neighbours of the written key unchanged, and the
// written value sits on its own single line.
void expectNeighboursKept(const Place& p, const std::string& out, const Document& doc) {
    ASSERT_GE(out.size(), p.head.size() + p.tail.size());
    EXPECT_TRUE(sameBytes(std::string_view(out).substr(0, p.head.size()), p.head));
    EXPECT_TRUE(sameBytes(std::string_view(out).substr(out.size() - p.tail.size()), p.tail));
    const std::string_view stored =
        std::string_view(out).substr(p.head.size(), out.size() - p.head.size() - p.tail.size());
    EXPECT_EQ(stored.find_first_of("\r\n"), std::string_view::npos) << hex(stored.substr(0, 120));
    // A NUL ends what is written, too.
    EXPECT_EQ(stored.find('\0'), std::string_view::npos) << hex(stored.substr(0, 120));
    EXPECT_EQ(doc.get("s", "before"), "1");
    EXPECT_EQ(doc.get("s", "after"), "2");
    EXPECT_EQ(doc.get("t", "z"), "3");
    if (std::string_view(p.key) != "k") {
        EXPECT_EQ(doc.get("s", "k"), "old");
    }
}

TEST(ProfileValues, WrittenValuesReadBack) {
    for (const Place& p : places()) {
        SCOPED_TRACE(p.what);
        for (const ValueCase& c : valueCases()) {
            SCOPED_TRACE(c.what);
            Document doc = Document::parse(valueFile);
            doc.set(p.section, p.key, c.value);
            const std::optional<std::string> inMemory = doc.get(p.section, p.key);
            EXPECT_TRUE(readsAs(inMemory, c.expected));

            const std::string out = doc.serialise();
            const Document again = Document::parse(out);
            const std::optional<std::string> read = again.get(p.section, p.key);
            EXPECT_TRUE(readsAs(read, c.expected));
            expectNeighboursKept(p, out, again);

            // Writing what now reads back is no change.
            Document same = Document::parse(out);
            same.set(p.section, p.key, c.expected);
            EXPECT_FALSE(same.modified());
            EXPECT_EQ(same.serialise(), out);
        }
    }
}

// A value that begins with a blank and ends with a lone lead byte cannot be
// stored exactly: its closing quote would be read as the lead byte's trail.
// It still stays on its own line and leaves the rest of the file alone.
TEST(ProfileValues, LeadingBlankAndTrailingLeadByteStaysOnItsLine) {
    for (const Place& p : places()) {
        SCOPED_TRACE(p.what);
        Document doc = Document::parse(valueFile);
        doc.set(p.section, p.key, " ab\x81");
        const std::string out = doc.serialise();
        const Document again = Document::parse(out);
        expectNeighboursKept(p, out, again);
        EXPECT_TRUE(again.get(p.section, p.key).has_value());
    }
}

// ---------------------------------------------------------------------------
// Unmodified documents

TEST(ProfileRoundTrip, UnmodifiedDocumentKeepsEveryByte) {
    std::vector<std::string> files = {
        "",
        "\r",
        "\n\n\n",
        "\r\n\r\r\n\n",
        "\x1A",
        "no header, no line end",
        "\xFF\x00\x81"s,
        "[s]\r\nk=v\x81",
        "[s]\r\nk=\x81\r\n\x81",
        bom8,
        bom16,
        bom16 + "\x41",
        bom16 + utf16le(u"[s]\r\nk=v") + "\x41",
        bom16 + utf16le(u"[s]\rk=v\n\r😀"),
        bom8 + "\xFF\xFE invalid UTF-8\r\n[s]\r\nk=\xC3\r\n",
        handEdited,
    };
    for (const ReadCase& c : readCases()) files.push_back(c.file);
    for (const WriteCase& c : writeCases()) {
        files.push_back(c.before);
        files.push_back(c.after);
    }
    for (const std::string& file : files) {
        SCOPED_TRACE(hex(file.substr(0, 80)));
        const Document doc = Document::parse(file);
        EXPECT_FALSE(doc.modified());
        EXPECT_TRUE(sameBytes(doc.serialise(), file));
    }
}

}  // namespace
}  // namespace quillory::profile
