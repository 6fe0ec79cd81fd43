#include "store/gbk_codec.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>

#include <cerrno>
#endif

namespace quillory::codec {
namespace {

#ifdef _WIN32

std::wstring toWide(UINT codePage, std::string_view bytes) {
    if (bytes.empty()) return {};
    int n = MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), nullptr, 0);
    std::wstring out(size_t(n), L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), out.data(), n);
    return out;
}

std::string fromWide(UINT codePage, std::wstring_view wide) {
    if (wide.empty()) return {};
    int n = WideCharToMultiByte(codePage, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr,
                                nullptr);
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), int(wide.size()), out.data(), n, nullptr,
                        nullptr);
    return out;
}

std::wstring_view asWide(std::string_view utf16le) {
    return {reinterpret_cast<const wchar_t*>(utf16le.data()), utf16le.size() / 2};
}

std::string asBytes(const std::wstring& wide) {
    return {reinterpret_cast<const char*>(wide.data()), wide.size() * 2};
}

#else

// Runs iconv over the whole input; an unconvertible or broken sequence is
// replaced and skipped by one input unit, so conversion always finishes.
std::string convert(const char* to, const char* from, std::string_view in, size_t unit,
                    std::string_view replacement) {
    std::string out;
    if (in.empty()) return out;
    iconv_t cd = iconv_open(to, from);
    if (cd == iconv_t(-1)) return out;
    out.reserve(in.size() * 2);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char buffer[4096];
    while (srcLeft > 0) {
        char* dst = buffer;
        size_t dstLeft = sizeof buffer;
        size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buffer, size_t(dst - buffer));
        if (r != size_t(-1)) continue;
        if (errno == E2BIG) continue;
        // EILSEQ or EINVAL: replace one unit and go on.
        out.append(replacement);
        size_t skip = srcLeft < unit ? srcLeft : unit;
        // One replacement per character: a UTF-8 character's continuation
        // bytes and a UTF-16 low surrogate go with it.
        if (unit == 1) {
            while (skip < srcLeft && (static_cast<unsigned char>(src[skip]) & 0xC0) == 0x80 &&
                   (static_cast<unsigned char>(src[0]) & 0x80)) {
                if (std::string_view(from) != "UTF-8") break;
                ++skip;
            }
        } else if (srcLeft >= 4 && (static_cast<unsigned char>(src[1]) & 0xFC) == 0xD8 &&
                   (static_cast<unsigned char>(src[3]) & 0xFC) == 0xDC) {
            skip = 4;
        }
        src += skip;
        srcLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return out;
}

#endif

// Decodes the UTF-8 character at s[i] and moves i past it; U+FFFD for a
// broken sequence, which then covers one byte.
char32_t nextCharacter(std::string_view s, size_t& i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    const size_t length = lead < 0x80   ? 1
                          : lead < 0xC2 ? 0
                          : lead < 0xE0 ? 2
                          : lead < 0xF0 ? 3
                          : lead < 0xF5 ? 4
                                        : 0;
    if (length == 1) return s[i++];
    char32_t c = length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
    bool whole = length != 0 && i + length <= s.size();
    for (size_t k = 1; whole && k < length; ++k) {
        whole = (byte(i + k) & 0xC0) == 0x80;
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!whole || c < least[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += length;
    return c;
}

}  // namespace

char32_t firstOutsideGbk(std::string_view utf8) {
    // Back and forth: a text GBK holds comes back unchanged. Only a text that
    // does not is searched character by character.
    if (gbkToUtf8(utf8ToGbk(utf8)) == utf8) return 0;
    for (size_t i = 0; i < utf8.size();) {
        const size_t start = i;
        const char32_t c = nextCharacter(utf8, i);
        if (c < 0x80) continue;
        if (c == 0xFFFD) return c;
        const std::string one(utf8.substr(start, i - start));
        if (gbkToUtf8(utf8ToGbk(one)) != one) return c;
    }
    return 0;
}

#ifdef _WIN32
std::string utf8ToGbk(std::string_view utf8) {
    return fromWide(936, toWide(CP_UTF8, utf8));
}
std::string gbkToUtf8(std::string_view gbk) {
    return fromWide(CP_UTF8, toWide(936, gbk));
}
std::string utf16leToGbk(std::string_view utf16le) {
    return fromWide(936, asWide(utf16le));
}
std::string gbkToUtf16le(std::string_view gbk) {
    return asBytes(toWide(936, gbk));
}
#else
std::string utf8ToGbk(std::string_view utf8) {
    return convert("GBK", "UTF-8", utf8, 1, "?");
}
std::string gbkToUtf8(std::string_view gbk) {
    return convert("UTF-8", "GBK", gbk, 1, "\xEF\xBF\xBD");
}
std::string utf16leToGbk(std::string_view utf16le) {
    return convert("GBK", "UTF-16LE", utf16le, 2, "?");
}
std::string gbkToUtf16le(std::string_view gbk) {
    return convert("UTF-16LE", "GBK", gbk, 1, "\xFD\xFF");
}
#endif

}  // namespace quillory::codec
