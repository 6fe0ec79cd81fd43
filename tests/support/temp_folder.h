// A fresh folder for one test, set as runDirectory, removed afterwards: no
// test ever touches a real catalogue.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

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
