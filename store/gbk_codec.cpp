#include "store/gbk_codec.h"

#ifdef _WIN32
#include <windows.h>

#include <algorithm>
#else
#include <iconv.h>

#include <cerrno>
#endif

namespace quillory::codec {
namespace {

#ifndef _WIN32

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
// Code page 936 under the replacement rules of the POSIX converter, so that
// a file reads the same on both: a byte that starts no GBK character becomes
// U+FFFD and is skipped alone; a character GBK cannot hold, or a broken
// sequence, becomes one '?', and the UTF-8 continuation bytes after it or
// the second half of a UTF-16 surrogate pair go with it.
namespace {

constexpr UINT gbkCodePage = 936;

bool isSurrogate(wchar_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

// Appends the GBK form of BMP text; false, appending nothing, when some
// character of it has none.
bool appendGbk(std::wstring_view wide, std::string& out) {
    if (wide.empty()) return true;
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(gbkCodePage, WC_NO_BEST_FIT_CHARS, wide.data(),
                                      int(wide.size()), nullptr, 0, nullptr, &usedDefault);
    if (n <= 0 || usedDefault) return false;
    const size_t at = out.size();
    out.resize(at + size_t(n));
    WideCharToMultiByte(gbkCodePage, WC_NO_BEST_FIT_CHARS, wide.data(), int(wide.size()),
                        out.data() + at, n, nullptr, nullptr);
    return true;
}

// Appends the UTF-16 form of bytes in the code page; false, appending
// nothing, when they are not all whole characters of it.
bool appendWide(UINT codePage, std::string_view bytes, std::wstring& out) {
    if (bytes.empty()) return true;
    const int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(),
                                      int(bytes.size()), nullptr, 0);
    if (n <= 0) return false;
    const size_t at = out.size();
    out.resize(at + size_t(n));
    MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), int(bytes.size()),
                        out.data() + at, n);
    return true;
}

std::string unitsToGbk(std::wstring_view units, bool oddByte) {
    std::string out;
    const bool anySurrogate = std::find_if(units.begin(), units.end(), isSurrogate) != units.end();
    if (!oddByte && !anySurrogate && appendGbk(units, out)) return out;
    for (size_t i = 0; i < units.size(); ++i) {
        const wchar_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            ++i;  // outside the BMP, where GBK holds nothing
            out += '?';
        } else if (isSurrogate(c) || !appendGbk({&c, 1}, out)) {
            out += '?';
        }
    }
    if (oddByte) out += '?';
    return out;
}

// The length of the GBK character at s[i], 0 when that byte starts none.
size_t gbkLength(std::string_view s, size_t i) {
    const auto lead = static_cast<unsigned char>(s[i]);
    if (lead <= 0x80) return 1;
    if (lead == 0xFF || i + 1 >= s.size()) return 0;
    const auto trail = static_cast<unsigned char>(s[i + 1]);
    return trail >= 0x40 && trail <= 0xFE && trail != 0x7F ? 2 : 0;
}

std::wstring gbkToWide(std::string_view gbk) {
    std::wstring out;
    bool whole = true;
    for (size_t i = 0; whole && i < gbk.size();) {
        const size_t n = gbkLength(gbk, i);
        whole = n != 0;
        i += n;
    }
    if (whole && appendWide(gbkCodePage, gbk, out)) return out;
    for (size_t i = 0; i < gbk.size();) {
        const size_t n = gbkLength(gbk, i);
        if (n != 0 && appendWide(gbkCodePage, gbk.substr(i, n), out)) {
            i += n;
        } else {
            out += L'\uFFFD';
            ++i;
        }
    }
    return out;
}

std::string fromWide(UINT codePage, std::wstring_view wide) {
    if (wide.empty()) return {};
    const int n = WideCharToMultiByte(codePage, 0, wide.data(), int(wide.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(size_t(n > 0 ? n : 0), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), int(wide.size()), out.data(), n, nullptr,
                        nullptr);
    return out;
}

}  // namespace

std::string utf8ToGbk(std::string_view utf8) {
    std::string out;
    std::wstring wide;
    if (appendWide(CP_UTF8, utf8, wide) &&
        std::find_if(wide.begin(), wide.end(), isSurrogate) == wide.end() && appendGbk(wide, out)) {
        return out;
    }
    for (size_t i = 0; i < utf8.size();) {
        const size_t start = i;
        const char32_t c = nextCharacter(utf8, i);
        const bool broken = c == 0xFFFD && i == start + 1;
        const wchar_t w = wchar_t(c);
        if (!broken && c <= 0xFFFF && !isSurrogate(w) && appendGbk({&w, 1}, out)) continue;
        out += '?';
        while (i < utf8.size() && (static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) ++i;
    }
    return out;
}
std::string gbkToUtf8(std::string_view gbk) {
    return fromWide(CP_UTF8, gbkToWide(gbk));
}
std::string utf16leToGbk(std::string_view utf16le) {
    std::wstring units(utf16le.size() / 2, L'\0');
    for (size_t k = 0; k < units.size(); ++k) {
        units[k] = wchar_t(static_cast<unsigned char>(utf16le[2 * k]) |
                           static_cast<unsigned char>(utf16le[2 * k + 1]) << 8);
    }
    return unitsToGbk(units, utf16le.size() % 2 != 0);
}
std::string gbkToUtf16le(std::string_view gbk) {
    const std::wstring wide = gbkToWide(gbk);
    std::string out(wide.size() * 2, '\0');
    for (size_t k = 0; k < wide.size(); ++k) {
        out[2 * k] = char(wide[k] & 0xFF);
        out[2 * k + 1] = char(wide[k] >> 8);
    }
    return out;
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
