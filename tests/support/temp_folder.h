// A fresh folder for one test, set as runDirectory, removed afterwards: no
// test ever touches a real catalogue.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quillory::testing {

class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path catalogue() const;
    // Names of the files in the folder other than the catalogue and its lock.
    std::string strayFiles() const;

  private:
    std::filesystem::path path_;
};

std::string readBytes(const std::filesystem::path& file);
void writeBytes(const std::filesystem::path& file, std::string_view bytes);

// Resets the program-wide state to how a fresh start leaves it.
void resetState();

}  // namespace quillory::testing

namespace quillory::testing {

struct Project {
    std::string name, brief, path;
    bool operator==(const Project&) const = default;
};

// A catalogue file as the program writes it: the three sections in order,
// keys 1 … N, and the end marker under N + 1, CR LF line ends.
std::string catalogueBytes(const std::vector<Project>& projects);

// The projects a walk lists, with the description and path of each.
std::vector<Project> listed();

}  // namespace quillory::testing
