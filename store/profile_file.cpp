// The parts of the file layer that every platform shares.
#include "store/profile_file.h"

#include <cerrno>
#include <string>
#include <string_view>
#include <system_error>

namespace quillory::files {

namespace seam {

Hooks& hooks() {
    static Hooks h = defaults();
    return h;
}

void reset() {
    hooks() = defaults();
}

// A failure the hooks inject looks like the real call failing with that errno.
bool injected(Call call) {
    int e = hooks().fail(call);
    if (e > 0) {
        errno = e;
        return true;
    }
    return false;
}

}  // namespace seam

std::filesystem::path folderOf(const std::filesystem::path& file) {
    auto folder = file.parent_path();
    return folder.empty() ? std::filesystem::path(".") : folder;
}

bool isLeftover(const std::filesystem::path& file, const std::filesystem::path& candidate) {
    // Compared in the platform's own encoding of names, which holds every name
    // the folder may have.
    using Name = std::filesystem::path::string_type;
    using Char = Name::value_type;
    const Name prefix = file.filename().native() + Char('.');
    const Name suffix = std::filesystem::path(".tmp").native();
    const Name name = candidate.filename().native();
    if (name.size() < prefix.size() + suffix.size() || !name.starts_with(prefix) ||
        !name.ends_with(suffix)) {
        return false;
    }
    const std::basic_string_view<Char> middle = std::basic_string_view<Char>(name).substr(
        prefix.size(), name.size() - prefix.size() - suffix.size());
    const size_t dash = middle.find(Char('-'));
    auto digits = [](std::basic_string_view<Char> s) {
        if (s.empty()) return false;
        for (Char c : s) {
            if (c < Char('0') || c > Char('9')) return false;
        }
        return true;
    };
    return dash != middle.npos && digits(middle.substr(0, dash)) && digits(middle.substr(dash + 1));
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
