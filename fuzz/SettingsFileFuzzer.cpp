// Fuzzes the settings file as a hostile or damaged file would read: the parser, the value reader, the
// writer, and the store's loads on the file as it lies on disk.
//
// Beyond the sanitizers, every input checks that a file the parser accepts is written back in a form that
// reads as the same document, that every value reads back as the number it parsed to, and that the loads
// of the settings groups agree with the parser on which keys exist.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <optional>
#include <string_view>

#include "settings/Store.h"
#include "settings/StoreFormat.h"

namespace {

using namespace zelvik;

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "settings fuzzer: %s\n", what);
        std::abort();
    }
}

// A private settings home, made once per process in memory where the system has it.
const std::filesystem::path& SettingsFile() {
    static const std::filesystem::path file = [] {
        char pattern[] = "/dev/shm/zelvik-fuzz-settings-XXXXXX";
        char fallback[] = "/tmp/zelvik-fuzz-settings-XXXXXX";
        const char* home = ::mkdtemp(pattern);
        if (home == nullptr) home = ::mkdtemp(fallback);
        Check(home != nullptr, "no temporary directory");
        ::setenv("XDG_CONFIG_HOME", home, 1);
        std::filesystem::create_directories(SettingsFilePath().parent_path());
        return SettingsFilePath();
    }();
    return file;
}

void CheckDocument(const settings::Document& doc) {
    const std::string written = settings::SerializeDocument(doc);
    const auto again = settings::ParseDocument(written);
    Check(again.has_value(), "a written document does not parse");
    Check(settings::SerializeDocument(*again) == written, "writing is not stable");
    Check(again->Sections().size() == doc.Sections().size(), "sections lost or gained");
    for (const settings::Section& section : doc.Sections()) {
        Check(doc.HasKey(section.Name()), "a section's key does not exist");
        const size_t slash = section.Name().rfind('\\');
        if (slash != std::string::npos && slash > 0) Check(doc.HasKey(section.Name().substr(0, slash)), "parent missing");
        const settings::Section* copy = again->Find(section.Name());
        Check(copy != nullptr, "section not found after writing");
        for (const auto& [name, text2] : section.ValuesInOrder()) {
            const std::string* value = copy->Find(name);
            Check(value != nullptr && *value == text2, "value changed by writing");
            if (const auto number = settings::ParseValueText(text2)) {
                Check(settings::ParseValueText(std::to_string(*number)) == number, "number does not read back");
            }
        }
    }
}

// The loads the library runs at start-up, on the file as it lies on disk.
void LoadFromDisk(std::string_view text, bool parsed, const settings::Document* doc) {
    if (std::FILE* f = std::fopen(SettingsFile().c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    static const char* const kRoot = "Software\\Movane\\ZelvikQ77RX3Sdk";
    const bool readable = parsed && text.size() <= settings::kMaxFileSize;
    // One family, as a load opens its keys: the root by path, the others through it, one reading.
    SettingsKey root;
    const bool opened = root.Open(kRoot);
    Check(opened == (readable && doc->HasKey(kRoot)), "the store and the parser disagree on the root key");
    if (!opened) return;
    auto checkQueries = [&](const SettingsKey& key) {
        const settings::Section* section = doc->Find(key.Path());
        for (const char* name : {"Size", "Color", "TH", "EH", "Global", "Exposure", "WaitTime"}) {
            int32_t value = 12345;
            const bool has = key.Query(name, value);
            const std::string* stored = section != nullptr ? section->Find(name) : nullptr;
            const auto number = stored != nullptr ? settings::ParseValueText(*stored) : std::nullopt;
            Check(has == number.has_value(), "query and parser disagree");
            Check(value == (has ? *number : 12345), "query result differs from the parsed value");
        }
    };
    checkQueries(root);
    for (const char* sub : {"Size_00", "Gain_00", "Size_01"}) {
        SettingsKey key;
        const bool found = key.Open(root, sub);
        Check(found == doc->HasKey(std::string(kRoot) + "\\" + sub), "the store and the parser disagree on a key");
        if (found) checkQueries(key);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto doc = settings::ParseDocument(text);
    if (doc) {
        CheckDocument(*doc);
        // A new key goes before the keys below it and is then found.
        settings::Document changed = *doc;
        changed.Ensure("Software\\Movane\\ZelvikQ77RX3Sdk").Set("Size", "0");
        Check(changed.HasKey("Software\\Movane\\ZelvikQ77RX3Sdk"), "ensured key missing");
        CheckDocument(changed);
    }
    // File I/O costs many times the parse: the loads from disk run for one input length in eight.
    if (size % 8 == 0) LoadFromDisk(text, doc.has_value(), doc ? &*doc : nullptr);
    return 0;
}
