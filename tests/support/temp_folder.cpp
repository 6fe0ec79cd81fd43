#include "tests/support/temp_folder.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "app/state.h"

namespace quillory::testing {

TempFolder::TempFolder() {
#ifdef _WIN32
    // Windows has no mkdtemp: a random name, taken only if the folder is new.
    std::random_device random;
    for (;;) {
        auto candidate =
            std::filesystem::temp_directory_path() / ("quillory-" + std::to_string(random()));
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec)) {
            path_ = candidate;
            break;
        }
        if (ec) throw std::runtime_error("cannot create a temporary folder");
    }
#else
    std::string pattern = (std::filesystem::temp_directory_path() / "quillory-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
#endif
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

#include "app/texts.h"
#include "store/project_store.h"

namespace quillory::testing {

std::string catalogueBytes(const std::vector<Project>& projects) {
    std::string out;
    auto section = [&](std::string_view name, std::string Project::*field) {
        out += "[" + std::string(name) + "]\r\n";
        int k = 1;
        for (const auto& p : projects) out += std::to_string(k++) + "=" + p.*field + "\r\n";
        out += std::to_string(k) + "=" + std::string(texts::endMarker) + "\r\n";
    };
    section(texts::nameSection, &Project::name);
    section(texts::briefSection, &Project::brief);
    section(texts::pathSection, &Project::path);
    return out;
}

std::vector<Project> listed() {
    std::vector<Project> out;
    auto walked = ProjectStore::scan([&](const Text& name, std::int32_t index) {
        auto brief = ProjectStore::readField(texts::briefSection, index, texts::error);
        auto path = ProjectStore::readField(texts::pathSection, index, texts::error);
        out.push_back({name, brief ? brief.value() : "?", path ? path.value() : "?"});
    });
    if (!walked) throw std::runtime_error("walk failed");
    return out;
}

}  // namespace quillory::testing
