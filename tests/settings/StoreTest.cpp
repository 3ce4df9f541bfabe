// The settings store: file location and format, value parsing, merging, damage and concurrent writers.
#include "settings/Store.h"

#include <climits>
#include <cstdint>
#include <fcntl.h>
#include <functional>
#include <future>
#include <random>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/ConfigHome.h"

namespace zelvik {
namespace {

constexpr char kRoot[] = "Software\\Movane\\ZelvikQ77RX3Sdk";
constexpr char kSize00[] = "Software\\Movane\\ZelvikQ77RX3Sdk\\Size_00";

class StoreTest : public ::testing::Test {
protected:
    test::ConfigHome home;
};

// Writes one key's values through the store.
bool WriteKey(const std::string& path, const std::vector<std::pair<std::string, int32_t>>& values) {
    SettingsKey key;
    if (!key.Create(path)) return false;
    for (const auto& [name, value] : values)
        if (!key.Set(name, value)) return false;
    return key.Close();
}

std::optional<int32_t> ReadValue(const std::string& path, const std::string& name) {
    SettingsKey key;
    int32_t value = 0;
    if (!key.Open(path) || !key.Query(name, value)) return std::nullopt;
    return value;
}

TEST(SettingsFilePath, FollowsXdgConfigHomeElseHome) {
    test::ConfigHome home;  // restores XDG_CONFIG_HOME afterwards
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    ::setenv("HOME", "/home/someone", 1);
    struct Case {
        const char* xdg;  // null: unset
        const char* expected;
    } cases[] = {
        {"/cfg", "/cfg/Movane/ZelvikQ77RX3Sdk.conf"},
        {nullptr, "/home/someone/.config/Movane/ZelvikQ77RX3Sdk.conf"},
        {"", "/home/someone/.config/Movane/ZelvikQ77RX3Sdk.conf"},
        {"relative/cfg", "/home/someone/.config/Movane/ZelvikQ77RX3Sdk.conf"},
    };
    for (const Case& c : cases) {
        if (c.xdg) ::setenv("XDG_CONFIG_HOME", c.xdg, 1);
        else ::unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(SettingsFilePath(), c.expected) << (c.xdg ? c.xdg : "(unset)");
    }
    if (oldHome) ::setenv("HOME", savedHome.c_str(), 1);
    else ::unsetenv("HOME");
}

TEST_F(StoreTest, ValuesSurviveWriteAndReadAsDecimalLines) {
    const std::vector<std::pair<std::string, int32_t>> values = {
        {"TH", 2592}, {"Zero", 0}, {"Minus", -255}, {"Min", INT32_MIN}, {"Max", INT32_MAX}, {"AllBits", -1},
    };
    ASSERT_TRUE(WriteKey(kSize00, values));

    for (const auto& [name, value] : values) EXPECT_EQ(ReadValue(kSize00, name), value) << name;
    EXPECT_EQ(ReadValue(kSize00, "th"), 2592) << "value names ignore case";
    EXPECT_EQ(ReadValue("software\\movane\\zelvikq77rx3sdk\\SIZE_00", "TH"), 2592) << "key names ignore case";

    EXPECT_EQ(home.ReadFile(),
              "[Software\\Movane\\ZelvikQ77RX3Sdk\\Size_00]\n"
              "TH=2592\nZero=0\nMinus=-255\nMin=-2147483648\nMax=2147483647\nAllBits=-1\n");
    struct stat st {};
    ASSERT_EQ(::stat(home.Directory().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u) << "the directory the store creates is private";
}

TEST_F(StoreTest, KeysExistOnceCreatedAndReadKeysRefuseChanges) {
    SettingsKey key;
    EXPECT_FALSE(key.Open(kRoot)) << "no file yet";
    EXPECT_FALSE(std::filesystem::exists(home.Directory())) << "reading creates nothing";

    // Creating a subkey creates its parents, even without values.
    ASSERT_TRUE(key.Create(kSize00));
    EXPECT_FALSE(SettingsKey().Open(kRoot)) << "nothing is written before the key closes";
    ASSERT_TRUE(key.Close());
    ASSERT_TRUE(key.Open(kRoot));
    SettingsKey sub;
    EXPECT_TRUE(sub.Open(key, "Size_00"));
    EXPECT_FALSE(SettingsKey().Open(key, "Size_01"));
    EXPECT_FALSE(SettingsKey().Open("Software\\Movane\\ZelvikQ77RX3Sd")) << "a prefix is not a parent";

    int32_t value = 77;
    EXPECT_FALSE(sub.Query("TH", value));
    EXPECT_EQ(value, 77) << "a missing value leaves the variable alone";
    EXPECT_FALSE(sub.Set("TH", 1)) << "a key opened for reading takes no changes";

    // A key opened for writing answers from its own changes before they are written.
    SettingsKey writer;
    ASSERT_TRUE(writer.Create(kRoot));
    ASSERT_TRUE(writer.Set("Size", 4));
    EXPECT_TRUE(writer.Query("Size", value));
    EXPECT_EQ(value, 4);
    EXPECT_FALSE(writer.Set("Bad=Name", 1));
    EXPECT_FALSE(writer.Set("", 1));
}

// Stored text that does not look like a 32-bit number reads as a missing value; numbers of either sign
// convention name the same 32 bits.
TEST_F(StoreTest, ValueTextOutside32BitDecimalReadsAsMissing) {
    struct Case {
        const char* lines;
        std::optional<int32_t> expected;
    } cases[] = {
        {"V=42\n", 42},
        {"V = 42 \n", 42},
        {"V=+7\n", 7},
        {"V=007\n", 7},
        {"V=-255\n", -255},
        {"V=4294967041\n", -255},
        {"V=4294967295\n", -1},
        {"V=-2147483648\n", INT32_MIN},
        {"V=2147483648\n", INT32_MIN},
        {"V=1\nV=2\n", 2},  // a name given twice: the last line wins
        {"v=9\n", 9},
        {"V=abc\n", std::nullopt},
        {"V=12x\n", std::nullopt},
        {"V=1 2\n", std::nullopt},
        {"V=0x10\n", std::nullopt},
        {"V=\n", std::nullopt},
        {"V=-\n", std::nullopt},
        {"V=1.5\n", std::nullopt},
        {"V=4294967296\n", std::nullopt},
        {"V=-2147483649\n", std::nullopt},
        {"V=99999999999999999999999\n", std::nullopt},
        {"Other=1\n", std::nullopt},
    };
    for (const Case& c : cases) {
        home.WriteFile(std::string("[") + kRoot + "]\n" + c.lines);
        SettingsKey key;
        ASSERT_TRUE(key.Open(kRoot)) << c.lines;
        int32_t value = 12345;
        const bool found = key.Query("V", value);
        EXPECT_EQ(found, c.expected.has_value()) << c.lines;
        EXPECT_EQ(value, c.expected.value_or(12345)) << c.lines;
    }
}

TEST_F(StoreTest, ClosingMergesIntoWhatOthersWroteMeanwhile) {
    home.WriteFile("; written by hand\n"
                   "[Other\\Program]\nName=not a number\n\n"
                   "[Software\\Movane\\ZelvikQ77RX3Sdk\\Gain_00]\nGlobal=20\nExposure=900\n");
    SettingsKey mine;
    ASSERT_TRUE(mine.Create("Software\\Movane\\ZelvikQ77RX3Sdk\\Gain_00"));
    ASSERT_TRUE(mine.Set("Global", 30));

    // Another writer changes the same key and adds one while this key is open.
    ASSERT_TRUE(WriteKey("Software\\Movane\\ZelvikQ77RX3Sdk\\Gain_00", {{"ColorR", 5}, {"Global", 25}}));
    ASSERT_TRUE(WriteKey("Software\\Movane\\ZelvikQ77RX3Sdk\\Filter", {{"Gamma", 120}}));
    ASSERT_TRUE(mine.Close());

    EXPECT_EQ(ReadValue("Software\\Movane\\ZelvikQ77RX3Sdk\\Gain_00", "Global"), 30) << "the last close wins";
    EXPECT_EQ(ReadValue("Software\\Movane\\ZelvikQ77RX3Sdk\\Gain_00", "ColorR"), 5);
    EXPECT_EQ(ReadValue("Software\\Movane\\ZelvikQ77RX3Sdk\\Gain_00", "Exposure"), 900);
    EXPECT_EQ(ReadValue("Software\\Movane\\ZelvikQ77RX3Sdk\\Filter", "Gamma"), 120);
    const std::string text = home.ReadFile();
    EXPECT_NE(text.find("[Other\\Program]\nName=not a number\n"), std::string::npos)
        << "values the store cannot read are kept as they were:\n" << text;
    EXPECT_FALSE(std::filesystem::exists(home.File().string() + ".tmp"));
}

TEST_F(StoreTest, NewKeysAreWrittenBeforeTheKeysBelowThem) {
    ASSERT_TRUE(WriteKey(kSize00, {{"TH", 1}}));
    ASSERT_TRUE(WriteKey(kRoot, {{"Size", 0}}));
    EXPECT_EQ(home.ReadFile(),
              "[Software\\Movane\\ZelvikQ77RX3Sdk]\nSize=0\n\n"
              "[Software\\Movane\\ZelvikQ77RX3Sdk\\Size_00]\nTH=1\n");
}

// A good file of several keys, as the library writes it.
std::string WriteGoodFile() {
    for (int i = 0; i < 6; ++i)
        WriteKey(std::string(kRoot) + "\\Size_0" + std::to_string(i), {{"TH", 2592}, {"TV", 1944}, {"EH", 1000 + i}});
    WriteKey(kRoot, {{"Size", 0}, {"Color", 2}});
    return test::ConfigHome::ReadBytes(SettingsFilePath());
}

TEST_F(StoreTest, DamagedFileReadsEmptyAndIsKeptAsBackupByTheNextWrite) {
    const std::string good = WriteGoodFile();
    ASSERT_FALSE(good.empty());
    size_t cut = good.size() / 2;
    if (good[cut - 1] == '\n') ++cut;  // cut inside a line, as a lost block would
    std::string garbage(3000, '\0');
    std::mt19937 random(5);
    for (char& c : garbage) c = static_cast<char>(random());
    std::string zeroed = good;
    std::fill(zeroed.begin() + 40, zeroed.begin() + 80, '\0');

    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"cut in half", good.substr(0, cut)},
        {"random bytes", garbage},
        {"a zeroed block", zeroed},
        {"prose", "This is not a settings file.\nIt has no sections.\n"},
        {"value before any section", "Size=0\n[Software\\Movane\\ZelvikQ77RX3Sdk]\nColor=2\n"},
        {"unclosed section", "[Software\\Movane\\ZelvikQ77RX3Sdk\nSize=0\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(home.Backup());
        home.WriteFile(c.bytes);
        EXPECT_FALSE(SettingsKey().Open(kRoot));
        EXPECT_FALSE(SettingsKey().Open(kSize00));

        ASSERT_TRUE(WriteKey(std::string(kRoot) + "\\Gain_00", {{"Global", 16}}));
        EXPECT_EQ(test::ConfigHome::ReadBytes(home.Backup()), c.bytes);
        EXPECT_EQ(home.ReadFile(), "[Software\\Movane\\ZelvikQ77RX3Sdk\\Gain_00]\nGlobal=16\n");
        EXPECT_EQ(ReadValue(std::string(kRoot) + "\\Gain_00", "Global"), 16);
    }
}

// A file just under the size limit with many sections (another program's among them) must not grow
// past the limit by a save: the next load would take it as damaged and set it aside with every key in
// it. The save keeps every section and writes a file the store still reads; one that cannot fit at all
// is not written.
TEST_F(StoreTest, ASaveNeverWritesAFileTheStoreWouldRefuse) {
    std::string text = "[Other\\Program]\nKeep=7\n[Software\\Movane\\ZelvikQ77RX3Sdk]\nSize=0\nColor=4\n";
    for (int i = 0; text.size() < 996000; ++i) text += "[O\\K" + std::to_string(100000 + i) + "]\nv=1\n";
    home.WriteFile(text);
    ASSERT_EQ(ReadValue(kRoot, "Color"), 4);

    ASSERT_TRUE(WriteKey(std::string(kRoot) + "\\Gain_00", {{"Global", 20}}));
    EXPECT_LE(home.ReadFile().size(), 1024u * 1024u);
    EXPECT_FALSE(std::filesystem::exists(home.Backup()));
    EXPECT_EQ(ReadValue("Other\\Program", "Keep"), 7);
    EXPECT_EQ(ReadValue(kRoot, "Color"), 4);
    EXPECT_EQ(ReadValue(std::string(kRoot) + "\\Gain_00", "Global"), 20);
    EXPECT_EQ(ReadValue("O\\K100000", "v"), 1);

    // Growing it past the limit even without blank lines: refused, the file as it was.
    const std::string before = home.ReadFile();
    SettingsKey big;
    ASSERT_TRUE(big.Create("Other\\Big"));
    for (int i = 0; i < 600; ++i) ASSERT_TRUE(big.Set(std::string(100, 'v') + std::to_string(i), i));
    EXPECT_FALSE(big.Close());
    EXPECT_EQ(home.ReadFile(), before);
}

TEST_F(StoreTest, SettingsPathThatIsNotADirectoryIsNeverRead) {
    std::filesystem::create_directories(home.File());  // a directory where the file belongs
    EXPECT_FALSE(SettingsKey().Open(kRoot));
    ASSERT_TRUE(WriteKey(kRoot, {{"Size", 1}})) << "kept aside as the backup, then replaced";
    EXPECT_TRUE(std::filesystem::is_directory(home.Backup()));
    EXPECT_EQ(ReadValue(kRoot, "Size"), 1);
}

// Runs a store call that must not wait on a FIFO. Should it block anyway, the FIFO gets a peer so the
// call can return, and the result says it blocked.
bool FinishesWithoutFifoPeer(const std::function<void()>& call, const std::filesystem::path& fifo) {
    auto done = std::async(std::launch::async, call);
    if (done.wait_for(std::chrono::seconds(20)) == std::future_status::ready) return true;
    const int peer = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    done.wait();
    if (peer >= 0) ::close(peer);
    return false;
}

// Whatever lies in the place of the file, its lock or its temporary file, the store neither blocks on it
// nor writes through it: the settings file counts as damaged (set aside, defaults), and a link in the
// place of the lock or the temporary file is never followed.
TEST_F(StoreTest, HostileFilesInTheStorePlaceNeitherBlockNorRedirectWrites) {
    namespace fs = std::filesystem;
    const fs::path victim = home.Root() / "victim";
    const std::string goodLine = std::string("[") + kRoot + "]\nSize=1\n";
    std::string oversized = goodLine;
    while (oversized.size() <= 1024 * 1024) oversized += "[Software\\Other\\K" + std::to_string(oversized.size()) + "]\nV=1\n";
    const struct Case {
        const char* what;
        std::function<void()> plant;
        bool fileDamaged;  // the settings file reads as damaged and is set aside by the save
        bool saves;        // the save succeeds
    } cases[] = {
        {"the file is a FIFO", [&] { ASSERT_EQ(::mkfifo(home.File().c_str(), 0600), 0); }, true, true},
        {"the file links to a character device",
         [&] { fs::create_symlink("/dev/zero", home.File()); }, true, true},
        {"the file is larger than any settings file", [&] { home.WriteFile(oversized); }, true, true},
        {"the lock is a dangling link", [&] { fs::create_symlink(victim, home.File().string() + ".lock"); },
         false, false},
        {"the lock is a FIFO", [&] { ASSERT_EQ(::mkfifo((home.File().string() + ".lock").c_str(), 0600), 0); },
         false, false},
        {"the temporary file is a dangling link",
         [&] { fs::create_symlink(victim, home.File().string() + ".tmp"); }, false, true},
        {"the temporary file is a FIFO",
         [&] { ASSERT_EQ(::mkfifo((home.File().string() + ".tmp").c_str(), 0600), 0); }, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(home.Directory());
        fs::remove(victim);
        fs::create_directories(home.Directory());
        if (!c.fileDamaged) home.WriteFile(goodLine);
        c.plant();

        bool opened = true;
        EXPECT_TRUE(FinishesWithoutFifoPeer([&] { opened = SettingsKey().Open(kRoot); }, home.File()));
        EXPECT_EQ(opened, !c.fileDamaged);
        bool saved = false;
        fs::path fifo = home.File();
        for (const char* suffix : {".lock", ".tmp"})
            if (fs::is_fifo(home.File().string() + suffix)) fifo = home.File().string() + suffix;
        EXPECT_TRUE(FinishesWithoutFifoPeer([&] { saved = WriteKey(kRoot, {{"Size", 2}}); }, fifo));
        EXPECT_EQ(saved, c.saves);
        EXPECT_FALSE(fs::exists(fs::symlink_status(victim))) << "nothing is created through a link";
        EXPECT_EQ(ReadValue(kRoot, "Size"), c.saves ? 2 : 1);
        if (c.fileDamaged) {
            EXPECT_TRUE(fs::exists(fs::symlink_status(home.Backup()))) << "set aside";
        }
        if (c.saves) {
            EXPECT_EQ(fs::status(home.File()).type(), fs::file_type::regular);
        }
    }
}

// Writes fail without harm where the directory cannot take files. A path below a regular file fails for
// every user, root included; a read-only directory holding a good file fails only for other users, so
// that case runs only when the test is not run as root.
TEST_F(StoreTest, UnwritableLocationFailsQuietlyAndKeepsTheFile) {
    // The store lies below a regular file.
    std::ofstream(home.Root() / "plain-file") << "x";
    home.UseConfigHome(home.Root() / "plain-file" / "config");
    SettingsKey key;
    EXPECT_FALSE(key.Create(kRoot));
    EXPECT_FALSE(key.Set("Size", 1));
    EXPECT_TRUE(key.Close()) << "a key that never opened has nothing to write";
    EXPECT_FALSE(key.Open(kRoot));

    if (::geteuid() != 0) {
        home.UseConfigHome(home.Root());
        ASSERT_TRUE(WriteKey(kRoot, {{"Size", 1}}));
        const std::string before = home.ReadFile();
        ASSERT_EQ(::chmod(home.Directory().c_str(), 0500), 0);
        SettingsKey writer;
        if (writer.Create(kRoot)) {  // the lock file exists already, so opening may succeed
            ASSERT_TRUE(writer.Set("Size", 2));
            EXPECT_FALSE(writer.Close()) << "the new file cannot be made";
        }
        EXPECT_EQ(home.ReadFile(), before);
        EXPECT_EQ(ReadValue(kRoot, "Size"), 1);
        ::chmod(home.Directory().c_str(), 0700);
    }
}

// Two processes saving different keys and values at once: every save is in the file afterwards.
TEST_F(StoreTest, ConcurrentWritersLoseNothing) {
    constexpr int kWriters = 2;
    constexpr int kSaves = 100;
    auto ownKey = [](int writer) { return std::string(kRoot) + "\\Writer_" + std::to_string(writer); };
    auto sharedName = [](int writer, int i) { return "W" + std::to_string(writer) + "_" + std::to_string(i); };
    // Formatted into a buffer: joining a literal and a number here draws a false -Wrestrict from GCC 12 at -O3.
    auto ownName = [](int i) {
        char name[16];
        std::snprintf(name, sizeof name, "V%d", i);
        return std::string(name);
    };

    pid_t children[kWriters];
    for (int w = 0; w < kWriters; ++w) {
        children[w] = ::fork();
        ASSERT_GE(children[w], 0);
        if (children[w] == 0) {
            int failures = 0;
            for (int i = 0; i < kSaves; ++i) {
                // One value in a key of its own, one in the key both writers share.
                failures += !WriteKey(ownKey(w), {{ownName(i), i}});
                failures += !WriteKey(kRoot, {{sharedName(w, i), i}});
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer's save failed";
    }

    SettingsKey shared;
    ASSERT_TRUE(shared.Open(kRoot));
    for (int w = 0; w < kWriters; ++w) {
        SettingsKey own;
        ASSERT_TRUE(own.Open(ownKey(w)));
        for (int i = 0; i < kSaves; ++i) {
            int32_t a = -1, b = -1;
            EXPECT_TRUE(own.Query(ownName(i), a) && a == i) << ownKey(w) << " " << ownName(i);
            EXPECT_TRUE(shared.Query(sharedName(w, i), b) && b == i) << sharedName(w, i);
        }
    }
    EXPECT_FALSE(std::filesystem::exists(home.Backup())) << "no writer ever saw a damaged file";
}

}  // namespace
}  // namespace zelvik
