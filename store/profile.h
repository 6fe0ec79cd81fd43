// An INI document held as the lines of the file, exactly as read.
//
// Look-ups read the file the way the Win32 profile functions do: lines split
// on CR or LF, blanks trimmed, one outer pair of quotes removed, ASCII letters
// folded, double-byte characters compared whole, first section and first key
// win. Edits replace the one line they change or add lines; every other byte
// is kept. Files with a UTF-8 or UTF-16LE byte-order mark are read as GBK and
// written back in their own encoding.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quillory::profile {

enum class Encoding { gbk, utf8Bom, utf16leBom };

class Document {
  public:
    Document();
    static Document parse(std::string bytes);

    Document(Document&&) noexcept;
    Document& operator=(Document&&) noexcept;
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;
    ~Document();

    // The value under key, or nothing when the section or the key is absent.
    std::optional<std::string> get(std::string_view section, std::string_view key) const;
    // The same into value, reusing its storage; false when absent.
    bool get(std::string_view section, std::string_view key, std::string& value) const;

    // Stores value under key, adding the section and the key as needed. A
    // line break (CR LF, CR or LF) in the value becomes one space, and the
    // value ends at a NUL byte, so a value can never add lines of its own.
    // Writing the value a key already holds changes nothing.
    void set(std::string_view section, std::string_view key, std::string_view value);

    bool sectionHasKeys(std::string_view section) const;

    // The highest index whose decimal key ("1", "2", … as %d prints it) is
    // present in the section; 0 when there is none.
    std::int32_t highestIndex(std::string_view section) const;
    // The lowest such index whose value is value; 0 when there is none.
    std::int32_t firstIndexHolding(std::string_view section, std::string_view value) const;

    std::string serialise() const;
    bool modified() const { return modified_; }
    Encoding encoding() const { return encoding_; }

  private:
    struct Line;
    struct Section;
    struct KeyRef;

    void split();
    void classify();
    Section* findSection(std::string_view name) const;
    const std::unordered_map<std::string_view, KeyRef>& keysOf(const Section& s) const;
    std::string_view lineText(const KeyRef& ref) const;
    std::string_view originalText(std::uint32_t line) const;
    const std::string& text() const { return text_ ? *text_ : *raw_; }
    std::string_view replacedText(std::int32_t i) const {
        return std::string_view(edits_).substr(replaced_[size_t(i)].first,
                                               replaced_[size_t(i)].second);
    }

    Encoding encoding_ = Encoding::gbk;
    bool modified_ = false;
    // Heap-held so that the views into them survive a move of the document.
    std::unique_ptr<std::string> raw_;   // the file's bytes
    std::unique_ptr<std::string> text_;  // the lines as GBK (raw_ itself for GBK files)
    std::vector<Line> lines_;
    std::string edits_;  // new contents of changed lines, one after another
    std::vector<std::pair<std::uint32_t, std::uint32_t>> replaced_;  // spans of edits_
    std::string scratch_;
    std::vector<std::uint32_t> rawEnds_;  // converted files: where each line's raw bytes end
    std::vector<std::unique_ptr<Section>> sections_;
    mutable std::unordered_map<std::string, Section*> sectionByName_;
    mutable std::deque<std::string> folded_;  // stable storage for folded names
    mutable std::array<std::pair<std::string, Section*>, 4> recentSections_{};
    mutable unsigned recentNext_ = 0;
};

}  // namespace quillory::profile
