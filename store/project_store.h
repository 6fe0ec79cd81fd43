// The catalogue of projects in the file beside the executable.
//
// Each operation works on one fresh reading of the file and keeps nothing of
// it afterwards. A change runs as one transaction: under the lock the file is
// read, every write of the operation is applied to it, and the new version is
// committed in one atomic replacement, or not at all.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>

#include "app/texts.h"
#include "store/result.h"

namespace quillory {

struct Failure {
    // file: the file could not be read or written; refused: the texts cannot
    // be stored; noProject: the index names no listed project.
    enum class Kind { file, refused, noProject };
    Kind kind;
    int code;      // the errno of a file failure; 0 for a refusal
    Text message;  // for the user, in Chinese
};

template <class T = void>
using StoreResult = Result<T, Failure>;

namespace ProjectStore {

std::filesystem::path filePath();

// The stored value, or fallback when the file, the section or the key is absent.
StoreResult<Text> readField(std::string_view section, std::int32_t index,
                            std::string_view fallback);
StoreResult<> writeField(std::string_view section, std::int32_t index, std::string_view value);

// Creates the empty catalogue on a first run (the file hidden). A file in
// which any of the three sections holds a key is never written.
StoreResult<> ensureInitialised();

// Hands each project's name and index to receiver in index order, and leaves
// endIndex at the index where the catalogue ends.
StoreResult<> scan(const std::function<void(const Text& name, std::int32_t index)>& receiver);

// Adds a project at the catalogue's real end, whatever endIndex says.
StoreResult<> appendProject(std::string_view name, std::string_view brief, std::string_view path);
StoreResult<> updateProject(std::int32_t index, std::string_view name, std::string_view brief,
                            std::string_view path);
// Removes the project at selectedIndex, moving every later one down by one.
StoreResult<> removeProject();

// Removes a half-written new version of the file left by a crash.
void removeLeftovers();

}  // namespace ProjectStore

}  // namespace quillory
