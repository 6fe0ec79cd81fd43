// The parts of the file layer that every platform shares.
#include "store/profile_file.h"

#include <system_error>

namespace quillory::files {

std::filesystem::path folderOf(const std::filesystem::path& file) {
    auto folder = file.parent_path();
    return folder.empty() ? std::filesystem::path(".") : folder;
}

bool isLeftover(const std::filesystem::path& file, const std::filesystem::path& candidate) {
    const std::string prefix = file.filename().string() + '.';
    const std::string name = candidate.filename().string();
    if (!name.starts_with(prefix) || !name.ends_with(".tmp")) return false;
    const std::string_view middle =
        std::string_view(name).substr(prefix.size(), name.size() - prefix.size() - 4);
    const size_t dash = middle.find('-');
    auto digits = [](std::string_view s) {
        return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
    };
    return dash != std::string_view::npos && digits(middle.substr(0, dash)) &&
           digits(middle.substr(dash + 1));
}

void removeLeftovers(const std::filesystem::path& file) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folderOf(file), ec)) {
        if (isLeftover(file, entry.path()) && entry.is_regular_file(ec)) {
            std::filesystem::remove(entry.path(), ec);
        }
    }
}

}  // namespace quillory::files
