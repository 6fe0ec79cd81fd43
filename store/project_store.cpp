#include "store/project_store.h"

#include <cerrno>
#include <string>
#include <utility>

#include "app/state.h"
#include "store/gbk_codec.h"
#include "store/profile.h"
#include "store/profile_file.h"

namespace quillory {
namespace {

using profile::Document;
using namespace texts;

constexpr std::string_view sections[] = {nameSection, briefSection, pathSection};

std::string keyOf(std::int32_t index) {
    return std::to_string(index);
}

Text reasonFor(int code) {
    switch (code) {
        case EACCES:
        case EPERM:
            return "没有访问权限";
        case ENOSPC:
#ifdef EDQUOT  // Windows has no quotas in errno
        case EDQUOT:
#endif
            return "磁盘空间不足";
        case EROFS:
            return "磁盘或文件夹是只读的";
        case EIO:
            return "读写磁盘时出错";
        case EFBIG:
            return "文件太大";
        case ENOENT:
        case ENOTDIR:
            return "文件夹不存在";
        case EBUSY:
            return "文件正被另一个程序修改，请稍后再试";
        default:
            return "系统错误 " + std::to_string(code);
    }
}

Failure fileFailure(const files::FileError& e) {
    Text what = e.step == files::Step::read ? "无法读取项目文件“" : "无法保存项目文件“";
    what += codec::utf8ToGbk(
        reinterpret_cast<const char*>(ProjectStore::filePath().u8string().c_str()));
    what += "”：";
    what += reasonFor(e.code);
    what += "。";
    return Failure{Failure::Kind::file, e.code, std::move(what)};
}

Failure refusal(std::string_view message, Failure::Kind kind = Failure::Kind::refused) {
    return Failure{kind, 0, Text(message)};
}

const char endMarkerAsName[] = "项目名不能为“没了”。";
const char catalogueFull[] = "项目编号已用到最大，无法再添加项目。";

StoreResult<Document> load() {
    auto snapshot = files::readWhole(ProjectStore::filePath());
    if (!snapshot) return fileFailure(snapshot.error());
    return Document::parse(std::move(snapshot.value().bytes));
}

// The index at which a walk stops: the first name that is the end marker,
// or the one after the highest name key when no end marker follows.
std::int32_t realEnd(const Document& doc) {
    std::int32_t highest = doc.highestIndex(nameSection);
    if (highest == INT32_MAX) --highest;
    const std::int32_t marker = doc.firstIndexHolding(nameSection, endMarker);
    return marker != 0 && marker <= highest ? marker : highest + 1;
}

// One transaction: lock, read afresh, edit, commit once if anything changed.
template <class Edit>
StoreResult<> change(Edit&& edit, files::Hidden hidden = files::Hidden::keep) {
    const auto path = ProjectStore::filePath();
    auto held = files::lock(path);
    if (!held) return fileFailure(held.error());
    auto doc = load();
    if (!doc) return doc.error();
    StoreResult<> edited = edit(doc.value());
    if (!edited || !doc.value().modified()) return edited;
    auto committed = files::commit(path, doc.value().serialise(), hidden);
    if (!committed) return fileFailure(committed.error());
    return {};
}

bool needsInitialising(const Document& doc) {
    if (doc.get(briefSection, "1").value_or(Text(error)) != error) return false;
    for (auto section : sections) {
        if (doc.sectionHasKeys(section)) return false;
    }
    return true;
}

}  // namespace

namespace ProjectStore {

std::filesystem::path filePath() {
    return runDirectory / u8"配置信息.ini";
}

StoreResult<Text> readField(std::string_view section, std::int32_t index,
                            std::string_view fallback) {
    auto doc = load();
    if (!doc) return doc.error();
    return doc.value().get(section, keyOf(index)).value_or(Text(fallback));
}

StoreResult<> writeField(std::string_view section, std::int32_t index, std::string_view value) {
    return change([&](Document& doc) -> StoreResult<> {
        if (section == nameSection && value == endMarker && index >= 1 && index < realEnd(doc)) {
            return refusal(endMarkerAsName);
        }
        doc.set(section, keyOf(index), value);
        return {};
    });
}

StoreResult<> ensureInitialised() {
    auto doc = load();
    if (!doc) return doc.error();
    if (!needsInitialising(doc.value())) return {};
    return change(
        [](Document& fresh) -> StoreResult<> {
            if (!needsInitialising(fresh)) return {};
            for (auto section : sections) fresh.set(section, "1", endMarker);
            return {};
        },
        files::Hidden::set);
}

StoreResult<> scan(const std::function<void(const Text&, std::int32_t)>& receiver) {
    endIndex = 1;
    auto doc = load();
    if (!doc) {
        scanText = error;
        return doc.error();
    }
    const std::int32_t end = realEnd(doc.value());
    for (;; ++endIndex) {
        scanText = doc.value().get(nameSection, keyOf(endIndex)).value_or(Text(error));
        if (endIndex == end) break;
        receiver(scanText, endIndex);
    }
    return {};
}

StoreResult<> appendProject(std::string_view name, std::string_view brief, std::string_view path) {
    if (name == endMarker) return refusal(endMarkerAsName);
    return change([&](Document& doc) -> StoreResult<> {
        const std::int32_t k = realEnd(doc);
        if (k == INT32_MAX) return refusal(catalogueFull);
        // Projects hidden behind an end marker in the middle (files written
        // before such names were refused): everything above the end moves up
        // one, so the new end marker lands on none of them.
        auto behind = doc.get(nameSection, keyOf(k + 1));
        if (behind && *behind != endMarker) {
            for (auto section : sections) {
                const std::int32_t highest = doc.highestIndex(section);
                if (highest == INT32_MAX) return refusal(catalogueFull);
                for (std::int32_t j = highest; j > k; --j) {
                    if (auto moved = doc.get(section, keyOf(j))) {
                        doc.set(section, keyOf(j + 1), *moved);
                    } else if (doc.get(section, keyOf(j + 1))) {
                        doc.set(section, keyOf(j + 1), error);
                    }
                }
            }
        }
        const std::string_view values[] = {name, brief, path};
        for (size_t s = 0; s < 3; ++s) {
            doc.set(sections[s], keyOf(k), values[s]);
            doc.set(sections[s], keyOf(k + 1), endMarker);
        }
        return {};
    });
}

StoreResult<> updateProject(std::int32_t index, std::string_view name, std::string_view brief,
                            std::string_view path) {
    return change([&](Document& doc) -> StoreResult<> {
        if (index < 1 || index >= realEnd(doc))
            return refusal(selectToModify, Failure::Kind::noProject);
        if (name == endMarker) return refusal(endMarkerAsName);
        doc.set(nameSection, keyOf(index), name);
        doc.set(briefSection, keyOf(index), brief);
        doc.set(pathSection, keyOf(index), path);
        return {};
    });
}

StoreResult<> removeProject() {
    std::int32_t end = 0;
    auto removed = change([&](Document& doc) -> StoreResult<> {
        end = realEnd(doc);
        if (selectedIndex < 1 || selectedIndex >= end)
            return refusal(selectToDelete, Failure::Kind::noProject);
        Text* shifted[] = {&shiftName, &shiftBrief, &shiftPath};
        // Where the catalogue ends without an end marker, the last step
        // brings one down all the same, in every section.
        const bool noEndMarker = !doc.get(nameSection, keyOf(end));
        for (std::int32_t k = selectedIndex; k != end; ++k) {
            const std::string from = keyOf(k + 1), to = keyOf(k);
            for (size_t s = 0; s < 3; ++s) {
                if (!doc.get(sections[s], from, *shifted[s]))
                    *shifted[s] = k + 1 == end && noEndMarker ? endMarker : selectToDelete;
                doc.set(sections[s], to, *shifted[s]);
            }
        }
        return {};
    });
    if (removed) selectedIndex = end;
    return removed;
}

void removeLeftovers() {
    const auto path = filePath();
    auto held = files::lock(path, 200);
    if (held) files::removeLeftovers(path);
}

}  // namespace ProjectStore

}  // namespace quillory
