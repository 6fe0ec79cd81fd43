// Conversions between GBK and the Unicode encodings a catalogue file may use.
// Characters that the target cannot hold become '?' (GBK) or U+FFFD (Unicode),
// as the platform's own converters do with their default characters.
#pragma once

#include <string>
#include <string_view>

namespace quillory::codec {

std::string utf8ToGbk(std::string_view utf8);
std::string gbkToUtf8(std::string_view gbk);
std::string utf16leToGbk(std::string_view utf16le);
std::string gbkToUtf16le(std::string_view gbk);

// The first character of a UTF-8 text that GBK cannot hold, or 0 when GBK
// holds all of it. A broken UTF-8 sequence counts as U+FFFD.
char32_t firstOutsideGbk(std::string_view utf8);

}  // namespace quillory::codec
