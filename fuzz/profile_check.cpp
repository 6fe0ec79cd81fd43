#include "fuzz/profile_check.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include "store/gbk_codec.h"
#include "store/profile.h"

namespace quillory::fuzz {
namespace {

using profile::Document;
using profile::Encoding;

// At most this many lookups of the original file are compared after an edit,
// so that a large input stays quick to check.
constexpr size_t maxLookups = 64;
// Longest edited value taken from the input.
constexpr size_t maxValue = 48;

// The reading rules below are the check's own, written apart from the
// engine's on purpose: an oracle that shared the engine's helpers would share
// their mistakes too.
bool isLead(char c) {
    auto b = static_cast<unsigned char>(c);
    return b >= 0x81 && b <= 0xFE;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\x1A';
}

// Length of the GBK character at i: a lead byte and the byte after it, unless
// that byte ends the line.
size_t unitAt(std::string_view s, size_t i) {
    if (isLead(s[i]) && i + 1 < s.size() && s[i + 1] != '\r' && s[i + 1] != '\n') return 2;
    return 1;
}

std::string_view trimmed(std::string_view s) {
    size_t first = s.size();
    size_t end = 0;
    for (size_t i = 0; i < s.size(); i += unitAt(s, i)) {
        if (unitAt(s, i) == 2 || !isBlank(s[i])) {
            if (first == s.size()) first = i;
            end = i + unitAt(s, i);
        }
    }
    return first == s.size() ? std::string_view() : s.substr(first, end - first);
}

// A section or key name as look-ups compare it: trimmed, ASCII letters in
// lower case, double-byte characters untouched.
std::string normalised(std::string_view name) {
    std::string out(trimmed(name));
    for (size_t i = 0; i < out.size(); i += unitAt(out, i)) {
        if (out[i] >= 'A' && out[i] <= 'Z') out[i] = char(out[i] - 'A' + 'a');
    }
    return out;
}

bool endsInLoneLead(std::string_view s) {
    size_t last = s.size();
    for (size_t i = 0; i < s.size(); i += unitAt(s, i)) last = i;
    return last + 1 == s.size() && isLead(s[last]);
}

// The value as a write stores it: up to a NUL, each line break one space.
std::string asStored(std::string_view v) {
    v = v.substr(0, std::min(v.size(), v.find('\0')));
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\r' || v[i] == '\n') {
            if (v[i] == '\r' && i + 1 < v.size() && v[i + 1] == '\n') ++i;
            out += ' ';
        } else {
            out += v[i];
        }
    }
    return out;
}

// A section or key name that a header or key line can hold unambiguously:
// no line break, NUL, '=', '[' or ']', no edge blanks, and no lead byte at
// the end that would swallow the ']' or '=' after it.
std::string cleanName(std::string_view raw) {
    std::string s;
    for (char c : raw) {
        if (c != '\r' && c != '\n' && c != '\0' && c != '=' && c != '[' && c != ']') s += c;
    }
    for (;;) {
        std::string t(trimmed(s));
        while (endsInLoneLead(t)) t.pop_back();
        if (t == s) return s;
        s = std::move(t);
    }
}

// GBK text as it comes back from a file in the document's encoding.
std::string throughEncoding(Encoding e, std::string_view gbk) {
    switch (e) {
        case Encoding::utf8Bom:
            return codec::utf8ToGbk(codec::gbkToUtf8(gbk));
        case Encoding::utf16leBom:
            return codec::utf16leToGbk(codec::gbkToUtf16le(gbk));
        case Encoding::gbk:
            break;
    }
    return std::string(gbk);
}

// Replaces text by what the document's encoding can hold; false when even
// that does not come back unchanged.
bool fitEncoding(Encoding e, std::string& text) {
    std::string once = throughEncoding(e, text);
    if (throughEncoding(e, once) != once) return false;
    text = std::move(once);
    return true;
}

// The file's lines as GBK, the form in which the document parses them.
std::string gbkText(std::string_view input, Encoding e) {
    switch (e) {
        case Encoding::utf8Bom:
            return codec::utf8ToGbk(input.substr(3));
        case Encoding::utf16leBom:
            return codec::utf16leToGbk(input.substr(2, (input.size() - 2) & ~size_t(1)));
        case Encoding::gbk:
            break;
    }
    return std::string(input);
}

struct Lookup {
    std::string section;
    std::string key;
};

// Section and key names found with a rough scan of the lines, plus a fixed
// set of the catalogue's own names. Rough is enough: each is only a lookup
// whose answer must not change.
std::vector<Lookup> lookupsOf(std::string_view text) {
    std::vector<Lookup> found = {
        {"a", "1"},
        {"", "1"},
        {"\xCF\xEE\xC4\xBF\xC3\xFB", "1"},          // project names
        {"\xCF\xEE\xC4\xBF\xC3\xFB", "2"},          //
        {"\xCF\xEE\xC4\xBF\xBC\xF2\xBD\xE9", "1"},  // descriptions
        {"\xCF\xEE\xC4\xBF\xC2\xB7\xBE\xB6", "1"},  // paths
    };
    std::string section;
    size_t begin = 0;
    while (begin < text.size() && found.size() < maxLookups) {
        size_t end = std::min(text.size(), text.find_first_of("\r\n", begin));
        std::string_view line = text.substr(begin, end - begin);
        begin = end + 1;
        std::string_view t = trimmed(line);
        if (!t.empty() && t[0] == '[' && t.rfind(']') != std::string_view::npos &&
            t.rfind(']') > 0) {
            section = std::string(t.substr(1, t.rfind(']') - 1));
            found.push_back({section, "1"});
        } else if (size_t eq = line.find('='); eq != std::string_view::npos) {
            found.push_back({section, std::string(line.substr(0, eq))});
        }
    }
    return found;
}

struct Edit {
    std::string section;
    std::string key;
    std::string value;  // as handed to set(), line breaks and NULs included
};

// The edit drawn from the input's last bytes: the very last byte chooses
// lengths, whether the section and the key are ones the file already has (so
// that existing lines get replaced and sections get new keys) and whether the
// value is the one already held; the bytes before it give the names and the
// value.
Edit editOf(std::string_view input, const std::vector<Lookup>& lookups, const Document& doc) {
    if (input.empty()) return {"a", "1", "x"};
    const auto control = static_cast<unsigned char>(input.back());
    std::string_view rest = input.substr(0, input.size() - 1);
    auto takeBack = [&](size_t n) {
        n = std::min(n, rest.size());
        std::string_view taken = rest.substr(rest.size() - n);
        rest.remove_suffix(n);
        return taken;
    };
    const size_t valueLength =
        rest.empty() ? 0 : static_cast<unsigned char>(rest.back()) % (maxValue + 1);
    Edit edit;
    edit.value = std::string(takeBack(valueLength));
    edit.key = cleanName(takeBack(control & 7));
    edit.section = cleanName(takeBack((control >> 3) & 7));
    const size_t pick = input.size() % lookups.size();
    if (control & 0x40) edit.section = cleanName(lookups[pick].section);
    if (control & 0x80) {
        // A key of the chosen section when the scan met one, else any key.
        const Lookup* chosen = &lookups[pick];
        for (size_t i = 0; i < lookups.size(); ++i) {
            const Lookup& l = lookups[(pick + i) % lookups.size()];
            if (normalised(l.section) == normalised(edit.section)) {
                chosen = &l;
                break;
            }
        }
        edit.key = cleanName(chosen->key);
    }
    if (control & 0x20) {
        if (auto held = doc.get(edit.section, edit.key)) edit.value = std::move(*held);
    }
    return edit;
}

std::string shown(std::string_view bytes) {
    std::string out;
    for (char c : bytes.substr(0, 80)) {
        auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F && b != '\\') {
            out += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += hex;
        }
    }
    if (bytes.size() > 80) out += "...";
    return out;
}

std::string shownRead(const std::optional<std::string>& v) {
    return v ? '"' + shown(*v) + '"' : std::string("(absent)");
}

std::string where(const Lookup& l) {
    return "[" + shown(l.section) + "] " + shown(l.key);
}

}  // namespace

std::string checkProfile(std::string_view input) {
    Document doc = Document::parse(std::string(input));
    if (std::string out = doc.serialise(); out != input) {
        return "an untouched document writes " + shown(out) + " for " + shown(input);
    }
    const Encoding encoding = doc.encoding();
    const std::vector<Lookup> lookups = lookupsOf(gbkText(input, encoding));
    std::vector<std::optional<std::string>> before;
    for (const auto& l : lookups) before.push_back(doc.get(l.section, l.key));

    Edit edit = editOf(input, lookups, doc);
    std::string expected = asStored(edit.value);
    bool checkValue = true;
    if (encoding != Encoding::gbk) {
        // Text outside what the file's encoding holds comes back as '?';
        // write what the encoding can hold, so the reads must match exactly.
        const bool sectionFits = fitEncoding(encoding, edit.section);
        const bool keyFits = fitEncoding(encoding, edit.key);
        if (!sectionFits || !keyFits) {
            // Names the encoding cannot hold are only written, not compared.
            doc.set(edit.section, edit.key, edit.value);
            Document::parse(doc.serialise());
            return {};
        }
        edit.section = cleanName(edit.section);
        edit.key = cleanName(edit.key);
        checkValue = fitEncoding(encoding, expected);
        edit.value = expected;
    }
    // The one value the file cannot hold: a leading blank asks for quotes, and
    // a lone lead byte at the end swallows the closing quote.
    if (!expected.empty() && isBlank(expected[0]) && endsInLoneLead(expected)) checkValue = false;
    const Lookup edited{edit.section, edit.key};
    const bool alreadyHeld = doc.get(edit.section, edit.key) == expected;

    doc.set(edit.section, edit.key, edit.value);
    if (alreadyHeld && checkValue) {
        if (doc.modified()) return "writing the value already held marks " + where(edited);
        if (doc.serialise() != input) return "writing the value already held changes the file";
    }
    if (checkValue && doc.get(edit.section, edit.key) != expected) {
        return "after writing " + shown(edit.value) + " to " + where(edited) + " it reads " +
               shownRead(doc.get(edit.section, edit.key));
    }

    const std::string written = doc.serialise();
    Document again = Document::parse(written);
    if (again.serialise() != written) return "the written file does not write back unchanged";
    if (again.encoding() != encoding) return "the written file changed its encoding";
    if (checkValue && again.get(edit.section, edit.key) != expected) {
        return "the written file reads " + shownRead(again.get(edit.section, edit.key)) + " at " +
               where(edited) + " for " + shown(edit.value) + "; file " + shown(written);
    }
    const std::string editedSection = normalised(edit.section);
    const std::string editedKey = normalised(edit.key);
    for (size_t i = 0; i < lookups.size(); ++i) {
        const Lookup& l = lookups[i];
        if (normalised(l.section) == editedSection && normalised(l.key) == editedKey) continue;
        if (doc.get(l.section, l.key) != before[i]) {
            return "writing " + where(edited) + " changed " + where(l) + " from " +
                   shownRead(before[i]) + " to " + shownRead(doc.get(l.section, l.key));
        }
        if (again.get(l.section, l.key) != before[i]) {
            return "after writing " + where(edited) + " the file reads " + where(l) + " as " +
                   shownRead(again.get(l.section, l.key)) + " instead of " + shownRead(before[i]) +
                   "; file " + shown(written);
        }
    }
    return {};
}

}  // namespace quillory::fuzz
