// Checks that our INI engine reads files exactly as the Win32 profile
// functions do. Runs under Wine with the ANSI code page 936 (GBK), started by
// tests/wine/run-gbk.sh.
//
// A seeded generator starts from catalogue files and from files as people
// edit them by hand, and writes hostile sections, keys and values into them,
// each write made either by WritePrivateProfileStringA (on a copy of the
// file) or by Document::set and serialise. After every write each key is
// read through GetPrivateProfileStringA and through Document::get, and the
// two must agree, found or not: every key the Win32 functions list
// (GetPrivateProfileSectionNamesA, GetPrivateProfileStringA without a key),
// every key the file's lines spell, and the name the write used.
//
// Left out, where ours deliberately does better than the Win32 functions:
// - Long values. A Win32 read is cut to the buffer (65,536 bytes here), and
//   WritePrivateProfileStringA stores values over 32,766 bytes wrongly; ours
//   reads and writes any length. Such values are written only through ours,
//   and where a Win32 read is cut, it must be the start of our value.
// - Line breaks. WritePrivateProfileStringA writes them raw, so a name or
//   value that holds one adds lines of its own; ours writes a space instead.
//   Such texts are written only through ours.
// - Value bytes. Ours gives back every value it writes, so it returns bytes
//   that are no GBK character as they are, where the Win32 functions read
//   each such lead byte, with the byte it takes along, as one '?'. Such a
//   value counts as read the same when that is the only difference.
// - The Win32 functions' copy of a parsed file, which they trust while the
//   file's modification time stays the same, and so can miss another
//   writer's change; ours reads afresh. Every Win32 write and every check
//   here works on a file of a fresh name, which no such copy can hold.
// - Names that hold bytes that are no GBK character. The Win32 functions
//   read each such sequence as '?', on the file's side and the query's, and
//   drop a lone lead byte at the end of a queried name; ours compares names
//   byte for byte, so a damaged name is found only as it is spelled.
// - A lone lead byte before a line end. The Win32 functions let it swallow
//   the CR or LF, joining two lines; ours ends the line there, so one broken
//   byte cannot merge a value with the next key.
// - An explicit "[]" header. The Win32 functions always open the nameless
//   section at the top of the file, so a later "[]" is a duplicate they never
//   read; ours reads the first "[]" where no key comes before the first header.
// - Characters GBK cannot hold in a file with a UTF-8 or UTF-16 BOM. Ours
//   reads each as one '?', the Win32 functions as one '?' per UTF-16 unit,
//   and they never find a name holding one.
// Files of the last three kinds are left out whole, and names of the first
// kind; the kept cases below pin both readings of each.
// Texts are passed to both writers whole, NUL bytes included: both end a
// name or a value at a NUL.
//
// QUILLORY_PROFILE_SEED replaces the seed, and QUILLORY_PROFILE_OPERATIONS
// the number of writes.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "store/gbk_codec.h"
#include "store/profile.h"

static_assert(sizeof("没") == 3, "narrow literals must be compiled as GBK (-fexec-charset=GBK)");

namespace {

using quillory::profile::Document;
using namespace std::string_view_literals;

constexpr std::uint64_t defaultSeed = 20240611;
constexpr long defaultOperations = 10000;
constexpr DWORD bufferSize = 65536;
// The longest value WritePrivateProfileStringA stores correctly.
constexpr size_t longestWin32Value = 32766;
// What a Win32 read returns for an absent key: no generated text holds 0x01.
constexpr char absent[] = "\x01<absent>\x01";

constexpr std::string_view catalogueSections[] = {"项目名", "项目简介", "项目路径"};
constexpr std::string_view endMarker = "没了";

// ---------------------------------------------------------------------------
// Texts

class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {  // splitmix64: the same sequence on every platform
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    size_t below(size_t n) { return size_t(next() % n); }
    bool percent(unsigned p) { return below(100) < p; }
    template <class T, size_t N>
    const T& pick(const T (&items)[N]) {
        return items[below(N)];
    }
    template <class T>
    const T& pick(const std::vector<T>& items) {
        return items[below(items.size())];
    }

  private:
    std::uint64_t state_;
};

// ASCII in both cases and digits, Chinese, full-width, Greek and Cyrillic
// letters, and double-byte characters whose second byte is an ASCII letter,
// bracket or backslash.
constexpr std::string_view words[] = {
    "abc",          "Key",      "KEY",      "x",        "Q",        "1",        "2",    "10",
    "01",           "没了",     "项目名",   "项目简介", "项目路径", "甲",       "乙丙", "说明文字",
    "C:\\工作\\甲", "Ａｂ",     "ａＢ",     "Αβ",       "αΒ",       "Дж",       "дЖ",   "\x81\x41",
    "\x81\x61",     "\x81\x5B", "\x81\x5C", "\x81\x5D", "\x81\x7E", "\xFE\x40",
};
// Blanks the readers trim, quotes they strip, marks a line's parse turns on,
// the ideographic space (no blank), and the question mark.
constexpr std::string_view marks[] = {
    " ", "  ", "\t", "\v", "\f", "\x1A", "\"", "'", ";", "#", "=", "[", "]", "\\", "\xA1\xA1", "?",
};
// Lead bytes whose next byte is whatever the text holds next, lead bytes
// before a byte that cannot follow one, and the single bytes 0x80 and 0xFF.
constexpr std::string_view strays[] = {
    "\x81", "\xFE", "\xA1", "\x81\x30", "\x81 ", "\x81\x7F", "\x81=", "\x80", "\xFF",
};
constexpr std::string_view breaks[] = {"\r\n", "\r", "\n"};

std::string text(Random& r, size_t most) {
    std::string s;
    for (size_t n = r.below(most + 1); n > 0; --n) {
        size_t k = r.below(100);
        if (k < 45) {
            s += r.pick(words);
        } else if (k < 75) {
            s += r.pick(marks);
        } else if (k < 88) {
            s += r.pick(strays);
        } else if (k < 95) {
            s += r.pick(breaks);
        } else if (k < 97) {
            s += '\0';
        } else {
            s += ' ';
        }
    }
    return s;
}

// Lengths about the usual read buffer, the longest correct Win32 write and
// the read buffer here.
std::string longValue(Random& r) {
    constexpr size_t lengths[] = {10239, 10240, 10241, 32766, 32767,
                                  40000, 65534, 65535, 65536, 70000};
    const size_t length = r.pick(lengths);
    std::string v;
    while (true) {
        std::string_view w = r.pick(words);
        if (v.size() + w.size() > length) break;
        v += w;
    }
    v.resize(length, 'x');
    return v;
}

std::string value(Random& r) {
    size_t k = r.below(1000);
    if (k < 3) return longValue(r);
    if (k < 125) return std::string(endMarker);
    if (k < 155) return {};
    std::string v = text(r, 6);
    switch (r.below(12)) {
        case 0:
            return '"' + v + '"';
        case 1:
            return '\'' + v + '\'';
        case 2:
            return '"' + v + '\'';
        case 3:
            return ' ' + v + '\t';
        case 4:
            return '"' + v;
        case 5:
            return " \"" + v + "\" ";
        default:
            return v;
    }
}

bool isAsciiBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\x1A';
}

std::string_view stripped(std::string_view s) {
    while (!s.empty() && isAsciiBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isAsciiBlank(s.back())) s.remove_suffix(1);
    return s;
}

// A name as someone else might spell it: other letter case (every ASCII
// letter byte, second bytes of double-byte characters too) or blanks around.
std::string respelled(Random& r, std::string s) {
    if (r.percent(20)) {
        for (char& c : s) {
            if (c >= 'a' && c <= 'z') {
                c = char(c - 'a' + 'A');
            } else if (c >= 'A' && c <= 'Z') {
                c = char(c - 'A' + 'a');
            }
        }
    }
    if (r.percent(10)) s = r.percent(50) ? " " + s + "\t" : "\v" + s + " ";
    return s;
}

// Shows bytes in messages: printable ASCII as it is, everything else escaped.
std::string shown(std::string_view s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += char(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out + "\"";
}

// ---------------------------------------------------------------------------
// Files

struct Seed {
    const char* name;
    std::string_view bytes;  // GBK, CR LF line ends unless the case is about them
};

// Files as people edit them by hand.
const Seed handEdited[] = {
    {"blank lines and blanks around names",
     "\r\n[ 项目名 ]\r\n\r\n 1 = 甲 \r\n\t2\t=\t乙 丙\t\r\n  3=没了\r\n\r\n[项目简介]  \r\n"
     "1= 说明 \r\n2 =\r\n\r\n[\t项目路径 ]\r\n1 =C:\\甲\r\n 2= D:\\乙 \r\n\r\n"sv},
    {"comments",
     ";x=y\r\n# 说明\r\n[项目名]\r\n;1=注释\r\n1=甲\r\n#2=井号\r\n2=乙\r\n; 只是注释\r\n"
     "3=没了\r\n[项目简介]\r\n;1=x\r\n1=一\r\n"sv},
    {"duplicate sections and keys",
     "[项目名]\r\n1=甲\r\n1=重复\r\n[项目简介]\r\n1=一\r\n[项目名]\r\n2=后来的\r\n"
     "1=又一个\r\n[项目简介]\r\n2=二\r\n[项目名 ]\r\n3=再后来\r\n"sv},
    {"letter case",
     "[Main]\r\nKey=1\r\nkey=2\r\nKEY2=x\r\n[MAIN]\r\nkey3=y\r\n[main ]\r\nKey4=z\r\n"
     "[Ａｂ]\r\nＫ=全角\r\n[ａＢ]\r\nｋ=小写全角\r\n[Αβ]\r\nΓ=希腊\r\n[αΒ]\r\nγ=小写\r\n"
     "[Дж]\r\nЖ=俄文\r\n[дЖ]\r\nж=小写\r\n"sv},
    {"CR line ends", "[项目名]\r1=甲\r2=没了\r[项目简介]\r1=一\r2=没了\r"sv},
    {"LF line ends, no final one", "[项目名]\n1=甲\n2=没了\n[项目简介]\n1=一\n2=没了"sv},
    {"mixed line ends", "[项目名]\r\n1=甲\n2=乙\r3=没了\n\r[项目简介]\n\n1=一\r\r2=二"sv},
    {"quoted values",
     "[q]\r\na=\"x\"\r\nb=' y '\r\nc=\"\"\r\nd=\"x'\r\ne=\"\r\nf=\"a\"b\"\r\n"
     "g= \" 前后 \" \r\nh='\r\ni=''\r\nj=\"\"\"\r\n\"k\"=带引号的键\r\n'l'=单引号\r\n"sv},
    {"marks inside lines",
     "[v]\r\na=x;y\r\nb=x=y\r\nc=[x]\r\n=空键\r\n d ; = e\r\nnoequals\r\n[e\r\nf=g\r\n"
     "[a]b]\r\nk=v\r\n[c] ; note\r\nk=w\r\n[]\r\nk=空节\r\n  [ t ]  x\r\nk=t\r\n"sv},
    {"lone lead bytes",
     "[项目名]\r\n1=ab\x81"
     "0cd\r\n2=\x81 x\r\n3=a\x81=b\r\n[abc\x81]\r\n4=y\r\n[s\x81]]\r\nk=\xFE"
     "=z\r\nk\x81=v\r\nj=\x81\x81\x81x\r\n\x81\x30=w\r\n"sv},
    {"keys before the first header", "1=无节\r\nk = v\r\n\r\n[项目名]\r\n1=甲\r\n"sv},
    {"other blanks", "[s]\r\n\vk\f=\x1Av\x1A\r\n\x1A[t]\x1A\r\nk=\t\v\f\r\nj=\x1A\x1A\r\n"sv},
    {"ideographic spaces",
     "[s]\r\nk=\xA1\xA1值\xA1\xA1\r\n\xA1\xA1j=x\r\n[\xA1\xA1t]\r\nk=y\r\n"sv},
    {"second bytes that are ASCII",
     "[\x81]]\r\n\x81\x5C=\x81\x41\r\n[\x81\x41]\r\n\x81\x41=upper\r\n\x81\x61=lower\r\n"
     "[\x81\x61]\r\nk=x\r\n[\x81\x5B]\r\nk=y\r\n[a\x81\x5D\r\nk=z\r\n"sv},
    {"a NUL inside a value", "[s]\r\nk=ab\0cd\r\nj=x\r\n"sv},
    {"empty", ""sv},
    {"only blank lines", "  \r\n\t\r\n\r\n"sv},
    {"a catalogue gone wrong",
     "[项目名]\r\n1=甲\r\n3=丙\r\n2=没了\r\n[项目简介]\r\n1=\r\n[项目路径]\r\n"sv},
    // Saved by an editor as UTF-8: characters GBK lacks, and one it holds.
    {"UTF-8 with characters GBK lacks",
     "\xEF\xBB\xBF[s]\r\nk=\xF0\x9F\x98\x80 and \xC3\xA9\r\n\xE2\x82\xAC=euro\r\n"sv},
};

// A catalogue as the program writes it: N projects, then the end marker.
std::string catalogue(Random& r) {
    const size_t projects = r.below(3);
    const bool marker = !r.percent(10);
    std::string out;
    for (std::string_view section : catalogueSections) {
        out += '[';
        out += section;
        out += "]\r\n";
        for (size_t i = 1; i <= projects + (marker ? 1 : 0); ++i) {
            out += std::to_string(i) + '=';
            if (i > projects) {
                out += endMarker;
            } else if (section == catalogueSections[2]) {
                out += "D:\\" + std::string(r.pick(words));
            } else {
                out += std::string(r.pick(words)) + (r.percent(30) ? " " : "") +
                       std::string(r.pick(words));
            }
            out += "\r\n";
        }
    }
    return out;
}

// The same file with other line ends, without its final one, or saved as
// UTF-8 or UTF-16LE with a byte-order mark.
std::string varied(Random& r, std::string_view gbk, std::string& how) {
    std::string out;
    const size_t ends = r.below(100);
    if (ends < 70 || gbk.starts_with("\xEF\xBB\xBF")) {
        out = gbk;
    } else {
        how += ends < 82 ? " LF" : ends < 92 ? " CR" : " mixed";
        for (size_t i = 0; i < gbk.size(); ++i) {
            if (gbk.substr(i, 2) != "\r\n") {
                out += gbk[i];
                continue;
            }
            ++i;
            const size_t k = ends < 82 ? 1 : ends < 92 ? 0 : r.below(3);
            out += k == 0 ? "\r" : k == 1 ? "\n" : "\r\n";
        }
    }
    if (r.percent(10) && (out.ends_with('\n') || out.ends_with('\r'))) {
        how += " no-final-end";
        while (out.ends_with('\n') || out.ends_with('\r')) out.pop_back();
    }
    if (gbk.starts_with("\xEF\xBB\xBF")) return out;
    const size_t encoding = r.below(100);
    if (encoding < 8) {
        how += " UTF-8";
        return "\xEF\xBB\xBF" + quillory::codec::gbkToUtf8(out);
    }
    if (encoding < 16) {
        how += " UTF-16LE";
        return "\xFF\xFE" + quillory::codec::gbkToUtf16le(out);
    }
    return out;
}

std::string asGbk(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) return quillory::codec::utf8ToGbk(bytes.substr(3));
    if (bytes.starts_with("\xFF\xFE")) return quillory::codec::utf16leToGbk(bytes.substr(2));
    return std::string(bytes);
}

using Name = std::pair<std::string, std::string>;  // section, key

// The keys the file's lines spell, with their sections, read naively: names to
// look up, not an account of how either reader parses the file.
std::vector<Name> spelledNames(std::string_view bytes) {
    const std::string gbk = asGbk(bytes);
    std::vector<Name> names;
    std::string section;
    size_t begin = 0;
    while (begin <= gbk.size()) {
        size_t end = gbk.find_first_of("\r\n", begin);
        if (end == std::string::npos) end = gbk.size();
        std::string_view line = stripped(std::string_view(gbk).substr(begin, end - begin));
        size_t close = line.rfind(']');
        if (line.starts_with('[') && close != std::string_view::npos) {
            section = stripped(line.substr(1, close - 1));
        } else if (size_t equals = line.find('='); equals != std::string_view::npos) {
            names.emplace_back(section, stripped(line.substr(0, equals)));
        }
        begin = end + 1;
    }
    return names;
}

class Folder {
  public:
    Folder() {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        path_ = std::string(temp) + "quillory-profile-compat-" +
                std::to_string(GetCurrentProcessId()) + "\\";
        if (!CreateDirectoryA(path_.c_str(), nullptr)) {
            std::printf("cannot create %s (error %lu)\n", path_.c_str(), GetLastError());
            std::exit(2);
        }
    }
    ~Folder() { RemoveDirectoryA(path_.c_str()); }

    // A file no one has opened before, holding bytes.
    std::string fresh(std::string_view bytes) {
        std::string name = path_ + "f" + std::to_string(++files_) + ".ini";
        HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        // Dated a day back: a file changed in the last seconds is parsed
        // again at every call, one of that age once.
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        ULARGE_INTEGER time{{now.dwLowDateTime, now.dwHighDateTime}};
        time.QuadPart -= 864000000000ull;
        const FILETIME dayBack{time.LowPart, time.HighPart};
        if (h == INVALID_HANDLE_VALUE ||
            !WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr) ||
            written != bytes.size() || !SetFileTime(h, nullptr, nullptr, &dayBack) ||
            !CloseHandle(h)) {
            std::printf("cannot write %s (error %lu)\n", name.c_str(), GetLastError());
            std::exit(2);
        }
        return name;
    }
    static std::string read(const std::string& name) {
        HANDLE h = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        std::string bytes(h == INVALID_HANDLE_VALUE ? 0 : GetFileSize(h, nullptr), '\0');
        DWORD got = 0;
        if (h == INVALID_HANDLE_VALUE ||
            !ReadFile(h, bytes.data(), DWORD(bytes.size()), &got, nullptr) || got != bytes.size() ||
            !CloseHandle(h)) {
            std::printf("cannot read %s (error %lu)\n", name.c_str(), GetLastError());
            std::exit(2);
        }
        return bytes;
    }
    long files() const { return files_; }

  private:
    std::string path_;
    long files_ = 0;
};

// ---------------------------------------------------------------------------
// The two readers

std::string buffer(bufferSize, '\0');

std::vector<std::string> split(DWORD n) {
    if (n + 2 >= bufferSize) {
        std::printf("a list of names fills the %lu-byte buffer\n", bufferSize);
        std::exit(2);
    }
    std::vector<std::string> names;
    for (size_t begin = 0; begin < n;) {
        size_t end = buffer.find('\0', begin);
        names.emplace_back(buffer, begin, end - begin);
        begin = end + 1;
    }
    return names;
}

std::vector<std::string> win32Sections(const std::string& file) {
    return split(GetPrivateProfileSectionNamesA(buffer.data(), bufferSize, file.c_str()));
}

std::vector<std::string> win32Keys(const std::string& file, const std::string& section) {
    return split(GetPrivateProfileStringA(section.c_str(), nullptr, "", buffer.data(), bufferSize,
                                          file.c_str()));
}

std::optional<std::string> win32Get(const std::string& file, const Name& name) {
    DWORD n = GetPrivateProfileStringA(name.first.c_str(), name.second.c_str(), absent,
                                       buffer.data(), bufferSize, file.c_str());
    std::string v(buffer, 0, n);
    if (v == absent) return std::nullopt;
    return v;
}

std::string shownReading(const std::optional<std::string>& v) {
    if (!v) return "absent";
    if (v->size() > 200) return std::to_string(v->size()) + " bytes " + shown(v->substr(0, 60));
    return shown(*v);
}

// A value as the Win32 functions read it where its bytes are no GBK
// character: a lead byte at the end, or one before a byte that cannot follow
// it (which it takes along), reads as one '?'.
std::string asWin32Reads(std::string_view v) {
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
        const auto lead = static_cast<unsigned char>(v[i]);
        if (lead < 0x81 || lead == 0xFF) {
            out += v[i];
            continue;
        }
        if (i + 1 < v.size()) {
            const auto trail = static_cast<unsigned char>(v[++i]);
            if (trail >= 0x40 && trail != 0x7F && trail != 0xFF) {
                out += v.substr(i - 1, 2);
                continue;
            }
        }
        out += '?';
    }
    return out;
}

struct Counts {
    long operations = 0;
    long win32Writes = 0;
    long ourWrites = 0;
    long handedToOurs = 0;  // long values or line breaks, which Win32 would write wrongly
    long checks = 0;
    long keys = 0;
    long cutReads = 0;
    long rawReads = 0;
    long mismatches = 0;
    long leftOutFiles = 0;
    long leftOutNames = 0;
};
Counts counts;

bool damaged(std::string_view name) {
    return asWin32Reads(name) != name;
}

// Why the two readers may differ on this file on purpose; null if they may not.
const char* leftOut(std::string_view file) {
    // A file with a BOM is read as the GBK text it converts to.
    std::string converted;
    if (file.starts_with("\xEF\xBB\xBF")) {
        if (quillory::codec::firstOutsideGbk(file.substr(3)) != 0) return "a BOM file beyond GBK";
        converted = quillory::codec::utf8ToGbk(file.substr(3));
    } else if (file.starts_with("\xFF\xFE")) {
        const std::string_view body = file.substr(2, (file.size() - 2) / 2 * 2);
        converted = quillory::codec::utf16leToGbk(body);
        if (quillory::codec::gbkToUtf16le(converted) != body) return "a BOM file beyond GBK";
    } else {
        converted = std::string(file);
    }
    const std::string_view bytes = converted;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x81 || lead == 0xFF || i + 1 == bytes.size()) continue;
        if (bytes[i + 1] == '\r' || bytes[i + 1] == '\n') return "a lead byte before a line end";
        ++i;  // a pair, or a lone lead byte and the byte it takes along
    }
    for (const Name& name : spelledNames(bytes)) {
        if (damaged(name.first) || damaged(name.second)) return "a damaged name";
    }
    size_t at = 0;
    while (at < bytes.size()) {
        size_t end = bytes.find_first_of("\r\n", at);
        if (end == std::string_view::npos) end = bytes.size();
        const std::string line(stripped(bytes.substr(at, end - at)));
        if (line.starts_with('[')) {
            const size_t close = line.rfind(']');
            if (close != std::string::npos && stripped(line.substr(1, close - 1)).empty())
                return "an empty header";
        }
        at = end + 1;
    }
    return nullptr;
}

struct Mismatch {
    Name name;
    std::optional<std::string> win32, ours;
};

// Reads names both ways from a file holding bytes: first those given, then,
// when asked for, all the others; the first difference, other than those ours
// makes on purpose.
std::optional<Mismatch> compare(Folder& folder, std::string_view bytes,
                                const std::vector<Name>& first, bool all = true) {
    if (leftOut(bytes) != nullptr) {
        ++counts.leftOutFiles;
        return std::nullopt;
    }
    ++counts.checks;
    const std::string file = folder.fresh(bytes);
    const Document doc = Document::parse(std::string(bytes));
    std::vector<Name> names = first;
    std::set<Name> seen(first.begin(), first.end());
    if (all) {
        for (const std::string& section : win32Sections(file)) {
            for (std::string& key : win32Keys(file, section)) {
                if (seen.emplace(section, key).second) names.emplace_back(section, std::move(key));
            }
        }
        for (Name& name : spelledNames(bytes)) {
            if (seen.insert(name).second) names.push_back(std::move(name));
        }
    }
    std::optional<Mismatch> found;
    for (const Name& name : names) {
        if (damaged(name.first) || damaged(name.second)) {
            ++counts.leftOutNames;
            continue;
        }
        ++counts.keys;
        std::optional<std::string> win32 = win32Get(file, name);
        std::optional<std::string> ours = doc.get(name.first, name.second);
        if (win32 == ours) continue;
        if (win32 && ours) {
            const std::string asRead = asWin32Reads(*ours);
            // The Win32 read is cut to the buffer less one byte, the last of
            // which is left unwritten when the cut splits a character.
            if (ours->size() >= bufferSize && win32->size() == bufferSize - 1 &&
                asRead.starts_with(std::string_view(*win32).substr(0, bufferSize - 2))) {
                ++counts.cutReads;
                continue;
            }
            if (*win32 == asRead) {
                ++counts.rawReads;
                continue;
            }
        }
        found = Mismatch{name, std::move(win32), std::move(ours)};
        break;
    }
    DeleteFileA(file.c_str());
    return found;
}

void report(const Mismatch& m, std::string_view bytes) {
    std::printf("  section %s key %s\n  Win32: %s\n  ours:  %s\n  file (%zu bytes): %s\n",
                shown(m.name.first).c_str(), shown(m.name.second).c_str(),
                shownReading(m.win32).c_str(), shownReading(m.ours).c_str(), bytes.size(),
                bytes.size() > 2000 ? "(long)" : shown(bytes).c_str());
}

// ---------------------------------------------------------------------------
// The differences ours makes on purpose, as the generator first found them:
// each file read both ways, with the reading each side must give.

struct Difference {
    const char* name;
    std::string_view bytes;
    std::string_view section, key;
    std::optional<std::string_view> win32, ours;
};

const Difference differences[] = {
    {"a key holding two bytes that are no character", "[s]\r\n\x81\x30=v\r\n"sv, "s"sv, "?"sv,
     "v"sv, std::nullopt},
    {"a key asked for with a lone lead byte at its end", "[s]\r\nk=v\r\n"sv, "s"sv, "k\x81"sv,
     "v"sv, std::nullopt},
    {"a lone lead byte before an LF", "[s]\nk=a\x81\nj=b\n"sv, "s"sv, "j"sv, std::nullopt, "b"sv},
    {"a key under an empty header", "[]\r\nk=v\r\n"sv, ""sv, "k"sv, std::nullopt, "v"sv},
    {"a character beyond the BMP in a UTF-8 file", "\xEF\xBB\xBF[s]\r\nk=\xF0\x9F\x98\x80\r\n"sv,
     "s"sv, "k"sv, "??"sv, "?"sv},
    {"a key GBK cannot hold in a UTF-8 file", "\xEF\xBB\xBF[s]\r\n\xE2\x98\x83=v\r\n"sv, "s"sv,
     "?"sv, std::nullopt, "v"sv},
};

// ---------------------------------------------------------------------------
// The generator

bool hasBreak(std::string_view s) {
    return s.substr(0, s.find('\0')).find_first_of("\r\n") != std::string_view::npos;
}

// Whether a name reaches both readers the same: a C string ends at a NUL,
// and a line break never reaches a file as it is.
bool lookable(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::string cString(std::string_view s) {
    return std::string(s.substr(0, s.find('\0')));
}

struct Step {
    bool win32;
    std::string section, key, value;
};

void printSteps(const std::vector<Step>& steps) {
    for (const Step& s : steps) {
        std::printf("  %s write: section %s key %s value %s\n", s.win32 ? "Win32" : "our",
                    shown(s.section).c_str(), shown(s.key).c_str(),
                    s.value.size() > 200 ? (std::to_string(s.value.size()) + " bytes").c_str()
                                         : shown(s.value).c_str());
    }
}

// One write into the file: a section and key it holds or not, as spelled or
// respelled, a catalogue index, or a hostile name.
Step nextStep(Random& r, std::string_view bytes) {
    const std::vector<Name> names = spelledNames(bytes);
    Step step;
    const size_t s = r.below(100);
    if (s < 60 && !names.empty()) {
        step.section = r.pick(names).first;
    } else if (s < 80) {
        step.section = r.pick(catalogueSections);
    } else if (s < 88) {
        step.section = r.pick(words);
    } else {
        step.section = text(r, 3);
    }
    std::vector<std::string> keys;
    long highest = 0;
    for (const Name& name : names) {
        if (name.first != stripped(step.section)) continue;
        keys.push_back(name.second);
        if (name.second.find_first_not_of("0123456789") == std::string::npos &&
            name.second.size() < 9) {
            highest = std::max(highest, std::atol(name.second.c_str()));
        }
    }
    const size_t k = r.below(100);
    if (k < 40 && !keys.empty()) {
        step.key = r.pick(keys);
    } else if (k < 60) {
        step.key = std::to_string(r.percent(70) ? highest + 1 : long(r.below(5)) + 1);
    } else if (k < 70) {
        step.key = r.pick(words);
    } else {
        step.key = text(r, 3);
    }
    step.section = respelled(r, std::move(step.section));
    step.key = respelled(r, std::move(step.key));
    step.value = value(r);
    step.win32 = r.percent(50);
    return step;
}

// Applies the step to the file's bytes.
std::string write(Folder& folder, Step& step, std::string_view bytes) {
    if (step.win32 && (hasBreak(step.section) || hasBreak(step.key) || hasBreak(step.value) ||
                       cString(step.value).size() > longestWin32Value)) {
        step.win32 = false;
        ++counts.handedToOurs;
    }
    if (!step.win32) {
        ++counts.ourWrites;
        Document doc = Document::parse(std::string(bytes));
        doc.set(step.section, step.key, step.value);
        return doc.serialise();
    }
    ++counts.win32Writes;
    const std::string file = folder.fresh(bytes);
    if (!WritePrivateProfileStringA(cString(step.section).c_str(), cString(step.key).c_str(),
                                    cString(step.value).c_str(), file.c_str())) {
        std::printf("WritePrivateProfileStringA failed (error %lu)\n", GetLastError());
        std::exit(2);
    }
    std::string after = Folder::read(file);
    DeleteFileA(file.c_str());
    return after;
}

std::uint64_t seedFromEnvironment() {
    const char* text = std::getenv("QUILLORY_PROFILE_SEED");
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : defaultSeed;
}

long operationsFromEnvironment() {
    const char* text = std::getenv("QUILLORY_PROFILE_OPERATIONS");
    return text != nullptr && *text != '\0' ? std::atol(text) : defaultOperations;
}

}  // namespace

int main() {
    // The profile functions' ANSI texts are GBK only under code page 936;
    // under any other, every comparison here would mean nothing.
    if (GetACP() != 936) {
        std::printf(
            "FAILED: the ANSI code page is %u, not 936 (GBK). Run under a GBK locale:\n"
            "  localedef -i zh_CN -f GBK DIR/zh_CN.GBK\n"
            "  LOCPATH=DIR LC_ALL=zh_CN.GBK wine64 profile_compat_tests.exe\n"
            "(tests/wine/run-gbk.sh does both)\n",
            GetACP());
        return 2;
    }
    const std::uint64_t seed = seedFromEnvironment();
    const long operations = operationsFromEnvironment();
    const ULONGLONG start = GetTickCount64();
    Folder folder;

    long keptFailing = 0;
    for (const Difference& row : differences) {
        const std::string file = folder.fresh(row.bytes);
        const Name name{std::string(row.section), std::string(row.key)};
        const std::optional<std::string> win32 = win32Get(file, name);
        const std::optional<std::string> ours =
            Document::parse(std::string(row.bytes)).get(name.first, name.second);
        DeleteFileA(file.c_str());
        const auto as = [](std::optional<std::string_view> v) {
            return v ? std::optional<std::string>(*v) : std::nullopt;
        };
        if (win32 != as(row.win32) || ours != as(row.ours)) {
            ++keptFailing;
            std::printf("MISMATCH in the kept difference \"%s\":\n", row.name);
            report(Mismatch{name, win32, ours}, row.bytes);
        }
    }

    // The first difference met on each kind of starting file is shown.
    std::set<std::string> shownKinds;
    Random r(seed);
    long run = 0;
    while (counts.operations < operations) {
        ++run;
        std::string kind;
        std::string bytes;
        if (r.percent(50)) {
            kind = "catalogue";
            bytes = catalogue(r);
        } else {
            const Seed& s = r.pick(handEdited);
            kind = s.name;
            bytes = std::string(s.bytes);
        }
        std::string how = kind;
        bytes = varied(r, bytes, how);
        const std::string start = bytes;
        std::vector<Step> steps;
        // A catalogue as written is read again after the first write.
        std::optional<Mismatch> m;
        if (kind != "catalogue") m = compare(folder, bytes, {});
        const size_t writes = 1 + r.below(10);
        while (!m && steps.size() < writes && counts.operations < operations) {
            Step step = nextStep(r, bytes);
            const std::string before = std::exchange(bytes, write(folder, step, bytes));
            ++counts.operations;
            const bool unchanged = bytes == before;
            // The name the write used, as spelled, comes first.
            std::vector<Name> used;
            if (lookable(step.section) && lookable(step.key)) used = {{step.section, step.key}};
            steps.push_back(std::move(step));
            // After a write that changed nothing, only its name is read.
            m = compare(folder, bytes, used, !unchanged);
        }
        if (!m) continue;
        ++counts.mismatches;
        if (!shownKinds.insert(kind).second) continue;
        std::printf("MISMATCH: seed %llu, run %ld (%s), after %zu writes:\n",
                    static_cast<unsigned long long>(seed), run, how.c_str(), steps.size());
        report(*m, bytes);
        std::printf("  first file: %s\n", start.size() > 2000 ? "(long)" : shown(start).c_str());
        printSteps(steps);
    }

    const ULONGLONG took = GetTickCount64() - start;
    std::printf(
        "seed %llu: %ld writes (%ld through WritePrivateProfileStringA, %ld through ours, of "
        "which %ld had long values or line breaks), %ld files in %ld runs, %ld checks, %ld "
        "look-ups compared, %ld cut long reads, %ld reads of bytes that are no character, "
        "%ld files and %ld names left out as differences on purpose, %llu ms\n",
        static_cast<unsigned long long>(seed), counts.operations, counts.win32Writes,
        counts.ourWrites, counts.handedToOurs, folder.files(), run, counts.checks, counts.keys,
        counts.cutReads, counts.rawReads, counts.leftOutFiles, counts.leftOutNames,
        static_cast<unsigned long long>(took));
    if (keptFailing > 0 || counts.mismatches > 0) {
        std::printf(
            "FAILED: %ld kept differences and %ld generated files read differently (seed %llu; set "
            "QUILLORY_PROFILE_SEED to repeat)\n",
            keptFailing, counts.mismatches, static_cast<unsigned long long>(seed));
        return 1;
    }
    return 0;
}
