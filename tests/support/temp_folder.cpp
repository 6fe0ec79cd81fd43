#include "tests/support/temp_folder.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "app/state.h"

namespace quillory::testing {

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillory-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    runDirectory = path_;
    resetState();
}

TempFolder::~TempFolder() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::filesystem::path TempFolder::catalogue() const {
    return path_ / u8"配置信息.ini";
}

std::string TempFolder::strayFiles() const {
    std::string names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
        auto name = entry.path().filename();
        if (name == catalogue().filename()) continue;
        if (name == std::filesystem::path(catalogue().filename()).concat(".lock")) continue;
        names += name.string() + " ";
    }
    return names;
}

std::string readBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::filesystem::path& file, std::string_view bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

void resetState() {
    endIndex = 0;
    selectedIndex = 0;
    for (Text* t : {&scanText, &shiftName, &shiftBrief, &shiftPath, &newName, &newBrief, &newPath})
        t->clear();
}

}  // namespace quillory::testing
