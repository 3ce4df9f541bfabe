// Where an image or a recording may be written: pipes with and without a reader, a reader that goes
// away, disks, and links planted in shared directories.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "OutputTestUtil.h"
#include "output/OutputFile.h"

namespace zelvik::test {
namespace {

namespace fs = std::filesystem;

std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool SigpipePending() {
    sigset_t pending;
    sigemptyset(&pending);
    return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

// A FIFO without a reader is refused at once; one with a reader is written as a stream. If the open
// waited for a reader, the watchdog becomes one after a few seconds and the check of the result fails
// (guard time only).
TEST(OutputFile, AFifoIsOpenedOnlyWithAReaderAndNeverWaitsForOne) {
    TempDir dir;
    const fs::path fifo = dir.path() / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 500 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!done) ::close(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK));
    });
    OutputFile file;
    const bool opened = file.Create(fifo.c_str());
    done = true;
    watchdog.join();
    EXPECT_FALSE(opened);
    EXPECT_EQ(file.Error(), ENXIO);
    EXPECT_TRUE(fs::is_fifo(fifo)) << "the FIFO stays";

    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_TRUE(file.Create(fifo.c_str()));
    EXPECT_FALSE(file.IsRegular());
    EXPECT_EQ(::fcntl(file.Descriptor(), F_GETFL) & O_NONBLOCK, 0)
        << "writes block as a pipe's writer expects";
    ASSERT_TRUE(file.Write("frame", 5));
    char got[8] = {};
    EXPECT_EQ(::read(reader, got, sizeof got), 5);
    EXPECT_STREQ(got, "frame");
    ::close(reader);
}

// With SIGPIPE at its default action (the process ends), a write into a pipe whose reader went away
// fails with EPIPE, and no SIGPIPE is left pending for the thread either.
TEST(OutputFile, APipeWhoseReaderWentAwayFailsWithEpipeAndRaisesNoSignal) {
    ASSERT_EQ(::signal(SIGPIPE, SIG_DFL), SIG_DFL);
    TempDir dir;
    const fs::path fifo = dir.path() / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    OutputFile file;
    ASSERT_TRUE(file.Create(fifo.c_str()));
    ::close(reader);
    const std::vector<uint8_t> frame(100000, 7);
    EXPECT_FALSE(file.Write(frame.data(), frame.size()));
    EXPECT_EQ(file.Error(), EPIPE);
    EXPECT_FALSE(SigpipePending());

    // A SIGPIPE of the host's own, pending before the write, is left to the host.
    sigset_t pipe, previous;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &pipe, &previous), 0);
    ASSERT_EQ(pthread_kill(pthread_self(), SIGPIPE), 0);
    EXPECT_FALSE(file.Write(frame.data(), frame.size()));
    EXPECT_TRUE(SigpipePending());
    const timespec now{};
    EXPECT_EQ(sigtimedwait(&pipe, nullptr, &now), SIGPIPE);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

// Any block device stands for a disk. Opening it for writing changes nothing: the test never writes.
TEST(OutputFile, ADiskIsNeverOpened) {
    TempDir dir;
    const fs::path node = dir.path() / "disk";
    dev_t disk = 0;
    for (const auto& entry : fs::directory_iterator("/dev")) {
        struct stat st {};
        if (::stat(entry.path().c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
            disk = st.st_rdev;
            if (entry.path().filename().string().starts_with("loop")) break;  // rather an idle loop device
        }
    }
    if (disk == 0) GTEST_SKIP() << "no block device in /dev to make a node of";
    if (::mknod(node.c_str(), S_IFBLK | 0600, disk) != 0)
        GTEST_SKIP() << "cannot make a block device node here: " << std::strerror(errno);
    OutputFile file;
    EXPECT_FALSE(file.Create(node.c_str()));
    EXPECT_EQ(file.Error(), EINVAL);
    EXPECT_FALSE(file.IsOpen());

    // A character device (the null device) is a stream like a pipe.
    ASSERT_TRUE(file.Create("/dev/null"));
    EXPECT_TRUE(file.Write("x", 1));
}

// Links planted in a shared (sticky, world-writable) directory are followed only when they belong to
// the caller or the directory's owner; elsewhere links are followed as ever. Needs root to give links
// and directories other owners; the kernel's protected_symlinks, when on, would refuse the same links.
TEST(OutputFile, LinksInSharedDirectoriesAreFollowedOnlyWhenTheCallerOrTheOwnerMadeThem) {
    if (::geteuid() != 0) GTEST_SKIP() << "giving a link another owner needs root";
    constexpr uid_t kOwner = 4242, kOther = 4343;
    const uid_t self = ::geteuid();
    const struct {
        const char* what;
        mode_t directoryMode;
        uid_t directoryOwner, linkOwner;
        bool followed;
    } cases[] = {
        {"another user's link in a shared directory", 01777, self, kOther, false},
        {"another user's link in someone's shared directory", 01777, kOwner, kOther, false},
        {"the caller's own link", 01777, kOwner, self, true},
        {"the directory owner's link", 01777, kOwner, kOwner, true},
        {"a shared directory without the sticky bit", 0777, self, kOther, true},
        {"a sticky directory only its owner writes", 01755, kOwner, kOther, true},
    };
    TempDir dir;
    const PatternImage image = MakePattern(24, 4, 3);
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path shared = dir.path() / ("shared" + std::to_string(n));
        const fs::path target = dir.path() / ("victim" + std::to_string(n++));
        std::ofstream(target) << "someone's file";
        ASSERT_EQ(::mkdir(shared.c_str(), 0700), 0);
        ASSERT_EQ(::chown(shared.c_str(), c.directoryOwner, 0), 0);
        ASSERT_EQ(::chmod(shared.c_str(), c.directoryMode), 0);
        const fs::path link = shared / "picture.bmp";
        ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
        ASSERT_EQ(::lchown(link.c_str(), c.linkOwner, 0), 0);

        EXPECT_EQ(SaveImageFile(link.c_str(), image.view, kFormatBitmap), c.followed ? 1 : 0);
        OutputFile file;
        EXPECT_EQ(file.Create(link.c_str()), c.followed);
        if (!c.followed) {
            EXPECT_EQ(file.Error(), EACCES);
            EXPECT_EQ(Contents(target), "someone's file");
            EXPECT_TRUE(fs::is_symlink(link)) << "the link stays";
        }

        // The same link to a folder, on the way to the file: nothing is made in the folder it names.
        const fs::path folder = dir.path() / ("folder" + std::to_string(n));
        const fs::path folderLink = shared / "pictures";
        ASSERT_TRUE(fs::create_directory(folder));
        ASSERT_EQ(::symlink(folder.c_str(), folderLink.c_str()), 0);
        ASSERT_EQ(::lchown(folderLink.c_str(), c.linkOwner, 0), 0);
        EXPECT_EQ(SaveImageFile((folderLink / "a.bmp").c_str(), image.view, kFormatBitmap),
                  c.followed ? 1 : 0);
        EXPECT_EQ(fs::exists(folder / "a.bmp"), c.followed);
    }
}

}  // namespace
}  // namespace zelvik::test
