// The settings file's text: sections of named values, parsed and written in time linear in its size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zelvik::settings {

// The largest settings file that is read. The library writes a few kilobytes at most (100 stored sizes
// and the analog keys of 100 cameras stay below 40 KiB); anything larger is not ours and counts as damaged.
constexpr size_t kMaxFileSize = 1024 * 1024;

// Names compare without regard to ASCII case; the spelling first seen is kept.
std::string LowerAscii(std::string_view text);

// One key: its path as first spelled and its values in file order, each name once.
class Section {
public:
    using Values = std::vector<std::pair<std::string, std::string>>;

    explicit Section(std::string name) : name_(std::move(name)) {}
    const std::string& Name() const { return name_; }
    const Values& ValuesInOrder() const { return values_; }
    // The value text of a name, or null when the name is not there.
    const std::string* Find(std::string_view valueName) const;
    // Sets a value; a name already present keeps its place and first spelling.
    void Set(std::string_view valueName, std::string text);

private:
    std::string name_;
    Values values_;
    std::unordered_map<std::string, size_t> index_;  // lower-case value name -> position in values_
};

// The file's content: sections in file order, each key path once.
class Document {
public:
    const std::vector<Section>& Sections() const { return sections_; }
    Section* Find(std::string_view path);
    const Section* Find(std::string_view path) const;
    // The section of a key, added at the end when missing (the order a file is read in).
    Section& Append(std::string_view path);
    // The section of a key; a new one goes before the first key below it, so a file reads parent first.
    Section& Ensure(std::string_view path);
    // A key exists when its own section or the section of a key below it is present.
    bool HasKey(std::string_view path) const;

private:
    Section& InsertAt(size_t position, std::string_view path);

    std::vector<Section> sections_;
    // Lower-case key path -> position in sections_. Sorted, so the keys below a path ("path\...") are
    // one contiguous range.
    std::map<std::string, size_t> positions_;
};

// Parses the whole file in one pass. Empty when the text is damaged: a control character other than tab
// and carriage return (a binary or overwritten file), a last line without its newline (a cut file), or a
// line that is neither blank, a comment, a "[section]" nor a "name=value" inside a section. A section
// given twice is one key (later values win); a name given twice in a key keeps its last value.
std::optional<Document> ParseDocument(std::string_view text);

// The file text of a document: one "name=value" line per value, sections separated by a blank line
// unless separated is false (the same document to ParseDocument, a line per section shorter).
std::string SerializeDocument(const Document& doc, bool separated = true);

// The text of a stored value as a 32-bit number: optional sign and decimal digits, surrounding blanks
// ignored, any value from -2^31 to 2^32-1 (negative numbers and numbers above 2^31-1 name the same 32
// bits). Anything else is not a number.
std::optional<int32_t> ParseValueText(std::string_view text);

// Names the file can hold and read back unchanged: not empty, no control characters, no blanks at either
// end; a value name besides holds no '=' and does not start like a section or a comment.
bool IsStorableKeyName(std::string_view name);
bool IsStorableValueName(std::string_view name);

}  // namespace zelvik::settings
