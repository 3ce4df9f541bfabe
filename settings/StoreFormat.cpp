// The settings file's text: one pass to parse, one to write, hashed and sorted look-ups in between.
#include "settings/StoreFormat.h"

namespace zelvik::settings {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool IsControl(char c) {
    auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
}

}  // namespace

std::string LowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = Lower(c);
    return lower;
}

const std::string* Section::Find(std::string_view valueName) const {
    auto it = index_.find(LowerAscii(valueName));
    return it == index_.end() ? nullptr : &values_[it->second].second;
}

void Section::Set(std::string_view valueName, std::string text) {
    auto [it, added] = index_.try_emplace(LowerAscii(valueName), values_.size());
    if (added)
        values_.emplace_back(std::string(valueName), std::move(text));
    else
        values_[it->second].second = std::move(text);
}

Section* Document::Find(std::string_view path) {
    auto it = positions_.find(LowerAscii(path));
    return it == positions_.end() ? nullptr : &sections_[it->second];
}

const Section* Document::Find(std::string_view path) const {
    auto it = positions_.find(LowerAscii(path));
    return it == positions_.end() ? nullptr : &sections_[it->second];
}

Section& Document::Append(std::string_view path) {
    if (Section* s = Find(path)) return *s;
    return InsertAt(sections_.size(), path);
}

Section& Document::Ensure(std::string_view path) {
    if (Section* s = Find(path)) return *s;
    const std::string below = LowerAscii(path) + '\\';
    size_t position = sections_.size();
    for (auto it = positions_.lower_bound(below); it != positions_.end() && it->first.starts_with(below); ++it)
        position = std::min(position, it->second);
    return InsertAt(position, path);
}

Section& Document::InsertAt(size_t position, std::string_view path) {
    if (position < sections_.size())
        for (auto& [name, at] : positions_)
            if (at >= position) ++at;
    positions_.emplace(LowerAscii(path), position);
    return *sections_.insert(sections_.begin() + static_cast<std::ptrdiff_t>(position), Section(std::string(path)));
}

bool Document::HasKey(std::string_view path) const {
    const std::string lower = LowerAscii(path);
    if (positions_.count(lower) != 0) return true;
    const std::string below = lower + '\\';
    auto it = positions_.lower_bound(below);
    return it != positions_.end() && it->first.starts_with(below);
}

std::optional<Document> ParseDocument(std::string_view text) {
    Document doc;
    if (!text.empty() && text.back() != '\n') return std::nullopt;
    Section* current = nullptr;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view raw = text.substr(0, end);
        text.remove_prefix(end + 1);
        for (char c : raw)
            if (IsControl(c) && c != '\t' && c != '\r') return std::nullopt;
        const std::string_view line = Trim(raw);
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;
        if (line.front() == '[') {
            if (line.size() < 2 || line.back() != ']') return std::nullopt;
            const std::string_view name = Trim(line.substr(1, line.size() - 2));
            if (name.empty()) return std::nullopt;
            current = &doc.Append(name);
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos || current == nullptr) return std::nullopt;
        const std::string_view name = Trim(line.substr(0, eq));
        if (name.empty()) return std::nullopt;
        current->Set(name, std::string(Trim(line.substr(eq + 1))));
    }
    return doc;
}

std::string SerializeDocument(const Document& doc, bool separated) {
    size_t size = 0;
    for (const Section& s : doc.Sections()) {
        size += s.Name().size() + 4;
        for (const auto& [name, value] : s.ValuesInOrder()) size += name.size() + value.size() + 2;
    }
    std::string out;
    out.reserve(size);
    for (const Section& s : doc.Sections()) {
        if (separated && !out.empty()) out += '\n';
        out += '[';
        out += s.Name();
        out += "]\n";
        for (const auto& [name, value] : s.ValuesInOrder()) {
            out += name;
            out += '=';
            out += value;
            out += '\n';
        }
    }
    return out;
}

std::optional<int32_t> ParseValueText(std::string_view text) {
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    const uint64_t limit = negative ? (uint64_t{1} << 31) : 0xFFFFFFFFu;
    uint64_t magnitude = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        magnitude = magnitude * 10 + static_cast<uint64_t>(c - '0');
        if (magnitude > limit) return std::nullopt;
    }
    const auto bits = static_cast<uint32_t>(negative ? (uint64_t{0} - magnitude) : magnitude);
    return static_cast<int32_t>(bits);
}

bool IsStorableKeyName(std::string_view name) {
    if (name.empty() || IsBlank(name.front()) || IsBlank(name.back())) return false;
    for (char c : name)
        if (IsControl(c)) return false;
    return true;
}

bool IsStorableValueName(std::string_view name) {
    return IsStorableKeyName(name) && name.find('=') == std::string_view::npos && name.front() != '[' &&
           name.front() != ';' && name.front() != '#';
}

}  // namespace zelvik::settings
