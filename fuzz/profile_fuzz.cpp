// libFuzzer entry point: every input is a catalogue file for the INI document.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/profile_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string failure =
        quillory::fuzz::checkProfile({reinterpret_cast<const char*>(data), size});
    if (!failure.empty()) {
        std::fprintf(stderr, "profile check failed: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
