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

}  // namespace quillory::codec
