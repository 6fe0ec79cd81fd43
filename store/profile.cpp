#include "store/profile.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "store/gbk_codec.h"

namespace quillory::profile {
namespace {

constexpr std::string_view utf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view utf16leBom = "\xFF\xFE";

enum Eol : std::uint8_t { eolNone, eolCr, eolLf, eolCrLf };
enum Kind : std::uint8_t { kindBlank, kindHeader, kindKey, kindOther };

bool isLead(char c) {
    auto b = static_cast<unsigned char>(c);
    return b >= 0x81 && b <= 0xFE;
}

// The blanks that the profile functions trim: space, tab, VT, FF, CR, 0x1A.
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\x1A';
}

// Length of the GBK character at i: a lead byte takes the byte after it,
// whatever it is, except a line end, which always ends the line.
size_t unitAt(std::string_view s, size_t i) {
    if (isLead(s[i]) && i + 1 < s.size() && s[i + 1] != '\r' && s[i + 1] != '\n') return 2;
    return 1;
}

// Whether the byte at i is the second byte of a double-byte character,
// without walking the text from its start: a character boundary follows every
// byte that is not a lead byte, so the lead bytes right before i pair up from
// the left, and i is a second byte when their number is odd.
bool isTrail(std::string_view s, size_t i) {
    if (s[i] == '\r' || s[i] == '\n') return false;
    size_t leads = 0;
    while (leads < i && isLead(s[i - 1 - leads])) ++leads;
    return leads % 2 == 1;
}

// Blanks are never lead bytes, so the leading ones are single characters; a
// trailing blank goes unless it is the second byte of a character.
std::string_view trim(std::string_view s) {
    size_t first = 0;
    while (first < s.size() && isBlank(s[first])) ++first;
    if (first == s.size()) return {};
    size_t end = s.size();
    while (end > first && isBlank(s[end - 1]) && !isTrail(s, end - 1)) --end;
    return s.substr(first, end - first);
}

size_t lastUnitStart(std::string_view s) {
    if (s.size() < 2) return 0;
    return isTrail(s, s.size() - 1) ? s.size() - 2 : s.size() - 1;
}

// A value as the profile functions return it: up to a NUL, trimmed, and one
// matching outer pair of double or single quotes removed.
std::string_view valueOf(std::string_view raw) {
    // A NUL that is the second byte of a character ends nothing.
    if (raw.find('\0') != std::string_view::npos) {
        for (size_t i = 0; i < raw.size(); i += unitAt(raw, i)) {
            if (raw[i] == '\0') {
                raw = raw.substr(0, i);
                break;
            }
        }
    }
    std::string_view v = trim(raw);
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'')) {
        size_t last = lastUnitStart(v);
        if (last > 0 && last == v.size() - 1 && v[last] == v[0]) return v.substr(1, v.size() - 2);
    }
    return v;
}

bool needsFold(std::string_view s) {
    if (std::none_of(s.begin(), s.end(), [](char c) { return c >= 'A' && c <= 'Z'; })) {
        return false;
    }
    for (size_t i = 0; i < s.size(); i += unitAt(s, i)) {
        if (s[i] >= 'A' && s[i] <= 'Z') return true;
    }
    return false;
}

// ASCII letters fold to lower case; both bytes of a double-byte character
// stay as they are.
std::string fold(std::string_view s) {
    std::string out(s);
    for (size_t i = 0; i < out.size(); i += unitAt(out, i)) {
        if (out[i] >= 'A' && out[i] <= 'Z') out[i] = char(out[i] - 'A' + 'a');
    }
    return out;
}

// Text for the file: ends at a NUL, and each line break becomes one space.
// Returns s itself when it needs neither, else the text made in out.
std::string_view sanitise(std::string_view s, std::string& out) {
    auto holds = [&](char c) { return std::memchr(s.data(), c, s.size()) != nullptr; };
    if (s.empty() || (!holds('\r') && !holds('\n') && !holds('\0'))) return s;
    s = s.substr(0, std::min(s.size(), s.find('\0')));
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r') {
            if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
            out += ' ';
        } else if (s[i] == '\n') {
            out += ' ';
        } else {
            out += s[i];
        }
    }
    return out;
}

// A value the readers would change (edge blanks trimmed, an outer pair of
// quotes removed) goes inside one pair of double quotes, so that every reader
// trims, unquotes and gets the value back. Appends the value to out.
void appendValue(std::string& out, std::string_view v) {
    if (v.empty()) return;
    size_t last = lastUnitStart(v);
    bool lastSingle = last == v.size() - 1;
    bool edgeBlank = isBlank(v[0]) || (lastSingle && isBlank(v[last]));
    bool looksQuoted = last > 0 && lastSingle && (v[0] == '"' || v[0] == '\'') && v[last] == v[0];
    if (edgeBlank || looksQuoted) {
        out += '"';
        out += v;
        out += '"';
    } else {
        out += v;
    }
}

// A key as %d prints a positive index: digits without a leading zero, at
// most INT32_MAX.
bool parseIndex(std::string_view key, std::int32_t& out) {
    if (key.empty() || key.size() > 10 || key[0] < '1' || key[0] > '9') return false;
    std::int64_t value = 0;
    for (char c : key) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value > std::numeric_limits<std::int32_t>::max()) return false;
    out = std::int32_t(value);
    return true;
}

}  // namespace

struct Document::Line {
    std::uint32_t begin = 0;  // content in text()
    std::uint32_t length = 0;
    std::uint32_t keyLength = 0;   // trimmed key, from keyBegin
    std::uint32_t keyBegin = 0;    // relative to the content
    std::uint32_t valueBegin = 0;  // just after the '=', relative to the content
    std::int32_t replaced = -1;    // index into replaced_
    std::uint8_t eol = eolNone;
    std::uint8_t kind = kindBlank;
};

struct Document::KeyRef {
    static constexpr std::uint32_t none = 0xFFFFFFFF;  // an empty slot of Section::byIndex
    bool added = false;
    std::uint32_t at = 0;  // line index, or index into Section::added
};

struct Document::Section {
    struct Added {
        std::string content;
        std::uint32_t valueBegin;
    };
    std::string name;  // as spelled in the file, or as first written
    bool isNew = false;
    std::uint32_t firstLine = 0;  // lines [firstLine, endLine) of its first occurrence
    std::uint32_t endLine = 0;
    std::uint32_t anchor = 0;  // last non-blank line: new keys follow it
    std::vector<Added> added;
    mutable bool indexed = false;
    // The keys, folded. A decimal key ("1", "2", … as %d prints it) that is
    // not far beyond those already held sits in byIndex at its index instead
    // of in the hash table, so that the catalogue's runs over consecutive
    // indexes read an array. A key is in one of the two, never in both.
    mutable std::unordered_map<std::string_view, KeyRef> keys;
    mutable std::vector<KeyRef> byIndex;
    mutable std::uint32_t indexedCount = 0;

    bool empty() const { return keys.empty() && indexedCount == 0; }
    // The text after the '=' of an added key's line.
    std::string_view addedValue(std::uint32_t at) const {
        return std::string_view(added[at].content).substr(added[at].valueBegin);
    }
    // The key's entry, or nothing; key is trimmed.
    const KeyRef* find(std::string_view key) const;
    // Adds a key that find does not know; key is trimmed and folded, and
    // stays valid as long as the document.
    void insert(std::string_view key, KeyRef ref) const;
};

const Document::KeyRef* Document::Section::find(std::string_view key) const {
    std::int32_t index;
    if (parseIndex(key, index)) {
        if (size_t(index) < byIndex.size() && byIndex[size_t(index)].at != KeyRef::none) {
            return &byIndex[size_t(index)];
        }
        if (keys.empty()) return nullptr;
    }
    auto it = needsFold(key) ? keys.find(fold(key)) : keys.find(key);
    return it == keys.end() ? nullptr : &it->second;
}

void Document::Section::insert(std::string_view key, KeyRef ref) const {
    std::int32_t index;
    // The bound keeps the array within a small multiple of the keys it holds.
    if (parseIndex(key, index) && size_t(index) <= 2 * size_t(indexedCount) + 1024) {
        if (size_t(index) >= byIndex.size()) {
            // Grown geometrically: keys mostly come in ascending order.
            byIndex.resize(std::max(size_t(index) + 1, 2 * byIndex.size()),
                           KeyRef{false, KeyRef::none});
        }
        byIndex[size_t(index)] = ref;
        ++indexedCount;
    } else {
        keys.emplace(key, ref);
    }
}

Document::Document() : raw_(std::make_unique<std::string>()) {}
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;
Document::~Document() = default;

Document Document::parse(std::string bytes) {
    Document doc;
    *doc.raw_ = std::move(bytes);
    std::string_view raw = *doc.raw_;
    if (raw.starts_with(utf8Bom)) {
        doc.encoding_ = Encoding::utf8Bom;
    } else if (raw.starts_with(utf16leBom)) {
        doc.encoding_ = Encoding::utf16leBom;
    }
    doc.split();
    doc.classify();
    return doc;
}

void Document::split() {
    std::string_view raw = *raw_;
    if (encoding_ == Encoding::gbk) {
        // GBK trail bytes are never CR or LF, so the lines split on bytes.
        const char* p = raw.data();
        const char* end = p + raw.size();
        while (p < end) {
            const char* nl = p;
            while (nl < end && *nl != '\n' && *nl != '\r') ++nl;
            Line line;
            line.begin = std::uint32_t(p - raw.data());
            line.length = std::uint32_t(nl - p);
            if (nl == end) {
                line.eol = eolNone;
                p = end;
            } else if (*nl == '\r' && nl + 1 < end && nl[1] == '\n') {
                line.eol = eolCrLf;
                p = nl + 2;
            } else {
                line.eol = *nl == '\r' ? eolCr : eolLf;
                p = nl + 1;
            }
            lines_.push_back(line);
        }
        return;
    }
    // Unicode files: split in the file's own code units, keep the raw bytes
    // of each line for writing back, and parse a GBK copy.
    const bool wide = encoding_ == Encoding::utf16leBom;
    const size_t unit = wide ? 2 : 1;
    auto codeAt = [&](size_t i) -> unsigned {
        if (!wide) return static_cast<unsigned char>(raw[i]);
        return static_cast<unsigned char>(raw[i]) | (static_cast<unsigned char>(raw[i + 1]) << 8);
    };
    text_ = std::make_unique<std::string>();
    size_t i = wide ? utf16leBom.size() : utf8Bom.size();
    const size_t limit = raw.size() - (raw.size() - i) % unit;
    while (i < raw.size()) {
        size_t start = i;
        while (i < limit && codeAt(i) != '\n' && codeAt(i) != '\r') i += unit;
        if (i >= limit) i = raw.size();  // an odd trailing byte stays with the last line
        std::string_view body = raw.substr(start, i - start);
        Line line;
        if (i == raw.size()) {
            line.eol = eolNone;
        } else if (codeAt(i) == '\r' && i + unit < limit && codeAt(i + unit) == '\n') {
            line.eol = eolCrLf;
            i += 2 * unit;
        } else {
            line.eol = codeAt(i) == '\r' ? eolCr : eolLf;
            i += unit;
        }
        std::string gbk = wide ? codec::utf16leToGbk(body) : codec::utf8ToGbk(body);
        line.begin = std::uint32_t(text_->size());
        line.length = std::uint32_t(gbk.size());
        *text_ += gbk;
        lines_.push_back(line);
        rawEnds_.push_back(std::uint32_t(i));
    }
}

void Document::classify() {
    const std::string& all = text();
    Section* current = nullptr;
    bool anyHeader = false;
    for (std::uint32_t n = 0; n < lines_.size(); ++n) {
        Line& line = lines_[n];
        std::string_view s(all.data() + line.begin, line.length);
        size_t firstSolid = std::string_view::npos;
        size_t firstEquals = std::string_view::npos;
        size_t lastBracket = std::string_view::npos;
        for (size_t i = 0; i < s.size();) {
            size_t u = unitAt(s, i);
            if (u == 1) {
                if (firstSolid == std::string_view::npos && !isBlank(s[i])) firstSolid = i;
                if (s[i] == '=' && firstEquals == std::string_view::npos) firstEquals = i;
                if (s[i] == ']') lastBracket = i;
            } else if (firstSolid == std::string_view::npos) {
                firstSolid = i;
            }
            i += u;
        }
        if (firstSolid == std::string_view::npos) {
            line.kind = kindBlank;
        } else if (s[firstSolid] == '[' && lastBracket != std::string_view::npos &&
                   lastBracket > firstSolid) {
            line.kind = kindHeader;
            anyHeader = true;
            std::string_view name = trim(s.substr(firstSolid + 1, lastBracket - firstSolid - 1));
            std::string key = fold(name);
            if (sectionByName_.contains(key)) {
                current = nullptr;  // a later duplicate: the first one wins
            } else {
                auto& added = sections_.emplace_back(std::make_unique<Section>());
                current = added.get();
                current->name = std::string(name);
                current->firstLine = n;
                current->anchor = n;
                sectionByName_.emplace(std::move(key), current);
            }
        } else {
            if (firstEquals != std::string_view::npos) {
                line.kind = kindKey;
                std::string_view key = trim(s.substr(0, firstEquals));
                line.keyBegin = std::uint32_t(key.empty() ? 0 : key.data() - s.data());
                line.keyLength = std::uint32_t(key.size());
                line.valueBegin = std::uint32_t(firstEquals + 1);
            } else {
                line.kind = kindOther;
            }
            // Lines before the first header form the section with the empty name.
            if (!anyHeader && current == nullptr) {
                auto& added = sections_.emplace_back(std::make_unique<Section>());
                current = added.get();
                current->firstLine = 0;
                sectionByName_.emplace(std::string(), current);
            }
        }
        if (current != nullptr) {
            current->endLine = n + 1;
            if (line.kind != kindBlank) current->anchor = n;
        }
    }
}

std::string_view Document::originalText(std::uint32_t line) const {
    const Line& l = lines_[line];
    return {text().data() + l.begin, l.length};
}

std::string_view Document::lineText(const KeyRef& ref) const {
    if (ref.added) return {};
    const Line& l = lines_[ref.at];
    if (l.replaced >= 0) return replacedText(l.replaced);
    return originalText(ref.at);
}

Document::Section* Document::findSection(std::string_view name) const {
    // The catalogue's operations alternate between three sections; the last
    // found of each query spelling answers again without hashing.
    for (const auto& [query, section] : recentSections_)
        if (section != nullptr && query == name) return section;
    std::string_view trimmed = trim(name);
    auto it = needsFold(trimmed) ? sectionByName_.find(fold(trimmed))
                                 : sectionByName_.find(std::string(trimmed));
    if (it == sectionByName_.end()) return nullptr;
    auto& slot = recentSections_[recentNext_++ % recentSections_.size()];
    slot = {std::string(name), it->second};
    return it->second;
}

const std::unordered_map<std::string_view, Document::KeyRef>& Document::keysOf(
    const Section& s) const {
    if (s.indexed) return s.keys;
    s.indexed = true;
    for (std::uint32_t n = s.firstLine; n < s.endLine; ++n) {
        const Line& l = lines_[n];
        if (l.kind != kindKey) continue;
        std::string_view key = originalText(n).substr(l.keyBegin, l.keyLength);
        if (needsFold(key)) key = folded_.emplace_back(fold(key));
        if (s.find(key) == nullptr) s.insert(key, KeyRef{false, n});  // the first one wins
    }
    return s.keys;
}

std::optional<std::string> Document::get(std::string_view section, std::string_view key) const {
    std::string value;
    if (!get(section, key, value)) return std::nullopt;
    return value;
}

bool Document::get(std::string_view section, std::string_view key, std::string& value) const {
    const Section* s = findSection(section);
    if (s == nullptr) return false;
    keysOf(*s);
    const KeyRef* found = s->find(trim(key));
    if (found == nullptr) return false;
    const std::string_view raw = found->added
                                     ? s->addedValue(found->at)
                                     : lineText(*found).substr(lines_[found->at].valueBegin);
    value.assign(valueOf(raw));
    return true;
}

void Document::set(std::string_view section, std::string_view key, std::string_view value) {
    std::string nameBuffer, keyBuffer, valueBuffer;
    const std::string_view name = sanitise(section, nameBuffer);
    const std::string_view trimmedKey = trim(sanitise(key, keyBuffer));
    const std::string_view v = sanitise(value, valueBuffer);

    Section* s = findSection(name);
    const KeyRef* found = nullptr;
    if (s != nullptr) {
        keysOf(*s);
        found = s->find(trimmedKey);
        // Writing the value the key already holds changes nothing.
        if (found != nullptr) {
            const std::string_view raw =
                found->added ? s->addedValue(found->at)
                             : lineText(*found).substr(lines_[found->at].valueBegin);
            if (valueOf(raw) == v) return;
        }
    } else {
        auto& added = sections_.emplace_back(std::make_unique<Section>());
        s = added.get();
        s->name = std::string(trim(name));
        s->isNew = true;
        s->indexed = true;
        sectionByName_.emplace(fold(trim(name)), s);
    }
    modified_ = true;
    if (found == nullptr) {
        std::string line(trimmedKey);
        line += '=';
        auto valueBegin = std::uint32_t(line.size());
        appendValue(line, v);
        s->added.push_back({std::move(line), valueBegin});
        s->insert(folded_.emplace_back(fold(trimmedKey)),
                  KeyRef{true, std::uint32_t(s->added.size() - 1)});
        return;
    }
    const KeyRef ref = *found;
    if (ref.added) {
        auto& a = s->added[ref.at];
        a.content.resize(a.valueBegin);
        appendValue(a.content, v);
        return;
    }
    // Keep the line's own spelling of the key and the blanks after the '='.
    Line& l = lines_[ref.at];
    std::string_view old = lineText(ref);
    size_t keep = l.valueBegin;
    while (keep < old.size() && isBlank(old[keep])) ++keep;
    // New contents go to one growing buffer: a change touching every line
    // then costs no allocation per line. The line is built aside first, as
    // its old contents may lie in that same buffer.
    std::string& line = scratch_;
    line.assign(old.substr(0, keep));
    appendValue(line, v);
    const std::pair<std::uint32_t, std::uint32_t> span{std::uint32_t(edits_.size()),
                                                       std::uint32_t(line.size())};
    edits_ += line;
    if (l.replaced >= 0) {
        replaced_[size_t(l.replaced)] = span;
    } else {
        l.replaced = std::int32_t(replaced_.size());
        replaced_.push_back(span);
    }
}

bool Document::sectionHasKeys(std::string_view section) const {
    const Section* s = findSection(section);
    if (s == nullptr) return false;
    keysOf(*s);
    return !s->empty();
}

std::int32_t Document::highestIndex(std::string_view section) const {
    const Section* s = findSection(section);
    if (s == nullptr) return 0;
    const auto& keys = keysOf(*s);
    std::int32_t highest = 0;
    for (size_t i = s->byIndex.size(); highest == 0 && i-- > 0;) {
        if (s->byIndex[i].at != KeyRef::none) highest = std::int32_t(i);
    }
    for (const auto& [key, ref] : keys) {
        std::int32_t index;
        if (parseIndex(key, index)) highest = std::max(highest, index);
    }
    return highest;
}

std::int32_t Document::firstIndexHolding(std::string_view section, std::string_view value) const {
    const Section* s = findSection(section);
    if (s == nullptr) return 0;
    const auto& keys = keysOf(*s);
    auto holds = [&](const KeyRef& ref) {
        const std::string_view raw =
            ref.added ? s->addedValue(ref.at) : lineText(ref).substr(lines_[ref.at].valueBegin);
        return valueOf(raw) == value;
    };
    std::int32_t first = 0;
    for (size_t i = 1; i < s->byIndex.size(); ++i) {
        if (s->byIndex[i].at != KeyRef::none && holds(s->byIndex[i])) {
            first = std::int32_t(i);
            break;
        }
    }
    for (const auto& [key, ref] : keys) {
        std::int32_t index;
        if (parseIndex(key, index) && (first == 0 || index < first) && holds(ref)) first = index;
    }
    return first;
}

std::string Document::serialise() const {
    const std::string& raw = *raw_;
    const bool converted = encoding_ != Encoding::gbk;
    const bool wide = encoding_ == Encoding::utf16leBom;
    const std::string_view crlf = wide ? std::string_view("\r\0\n\0", 4) : "\r\n";

    std::string out;
    out.reserve(raw.size() + raw.size() / 8 + 64);
    auto emit = [&](std::string_view gbk) {
        if (!converted) {
            out += gbk;
        } else {
            out += wide ? codec::gbkToUtf16le(gbk) : codec::gbkToUtf8(gbk);
        }
    };
    bool atLineStart = true;
    // Ends the last line written before a new line follows it. In a UTF-16
    // file that ends in an odd byte, that byte is first completed to a high
    // surrogate, which the line end after it leaves alone, so it reads as the
    // same one '?' as the odd byte did (a low surrogate could pair with a
    // high one before it), and the new lines start on a whole code unit.
    auto endLastLine = [&] {
        if (atLineStart) return;
        if (wide && out.size() % 2 != 0) out += '\xD8';
        out += crlf;
    };

    // Sections that receive new keys, in the order of their anchor lines.
    std::vector<const Section*> anchored;
    for (const auto& s : sections_) {
        if (!s->isNew && !s->added.empty()) anchored.push_back(s.get());
    }
    std::sort(anchored.begin(), anchored.end(),
              [](const Section* a, const Section* b) { return a->anchor < b->anchor; });
    auto next = anchored.begin();

    if (converted) out += raw.substr(0, wide ? utf16leBom.size() : utf8Bom.size());
    size_t rawBegin = out.size();
    for (std::uint32_t n = 0; n < lines_.size(); ++n) {
        const Line& l = lines_[n];
        if (l.replaced < 0 && !converted) {
            size_t eolLength = l.eol == eolCrLf ? 2 : l.eol == eolNone ? 0 : 1;
            out.append(raw, l.begin, l.length + eolLength);
        } else if (l.replaced < 0) {
            out.append(raw, rawBegin, rawEnds_[n] - rawBegin);
        } else {
            emit(replacedText(l.replaced));
            if (!converted) {
                out += l.eol == eolCrLf ? "\r\n"
                       : l.eol == eolCr ? "\r"
                       : l.eol == eolLf ? "\n"
                                        : "";
            } else {
                // The original line end, in the file's own code units.
                size_t eolUnits = l.eol == eolCrLf ? 2 : l.eol == eolNone ? 0 : 1;
                size_t eolBytes = eolUnits * (wide ? 2 : 1);
                out.append(raw, rawEnds_[n] - eolBytes, eolBytes);
            }
        }
        atLineStart = l.eol != eolNone;
        if (converted) rawBegin = rawEnds_[n];
        for (; next != anchored.end() && (*next)->anchor == n; ++next) {
            for (const auto& a : (*next)->added) {
                endLastLine();
                emit(a.content);
                out += crlf;
                atLineStart = true;
            }
        }
    }
    for (const auto& s : sections_) {
        if (!s->isNew) continue;
        endLastLine();
        emit("[" + s->name + "]");
        out += crlf;
        for (const auto& a : s->added) {
            emit(a.content);
            out += crlf;
        }
        atLineStart = true;
    }
    return out;
}

}  // namespace quillory::profile
