// Properties of the INI document that must hold for any file whatever: it
// writes back an untouched file byte for byte, and after one edit the file
// it writes reads back the edited value and every other value unchanged.
//
// Shared by the fuzz target and by the test that replays the seed corpus.
// The source holds no narrow literal outside ASCII (GBK bytes are written as
// hex escapes), so it compiles the same with and without -fexec-charset=GBK.
#pragma once

#include <string>
#include <string_view>

namespace quillory::fuzz {

// Empty when every property holds for input, otherwise a description of the
// first one that failed.
std::string checkProfile(std::string_view input);

}  // namespace quillory::fuzz
