// Frame buffers mapped ahead of their first transfer.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "platform/AlignedBuffer.h"

namespace zelvik {
namespace {

// How many of the buffer's pages are in memory now.
size_t ResidentPages(AlignedBuffer& buffer) {
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> resident((buffer.size() + page - 1) / page);
    if (::mincore(buffer.data(), buffer.size(), resident.data()) != 0) return 0;
    return static_cast<size_t>(std::count_if(resident.begin(), resident.end(), [](unsigned char r) { return r & 1; }));
}

TEST(AlignedBuffer, PopulateMapsEveryPageAndKeepsItZero) {
    // A full-resolution frame (huge-page aligned) and a small one (page aligned), both with a partial last page.
    for (size_t size : {size_t{2592} * 1944, size_t{5000}}) {
        AlignedBuffer buffer(size);
        ASSERT_FALSE(buffer.empty());
        const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
        const size_t pages = (size + page - 1) / page;
        ASSERT_LT(ResidentPages(buffer), pages) << "a fresh mapping is not in memory yet";
        buffer.Populate();
        EXPECT_EQ(ResidentPages(buffer), pages) << size;
        EXPECT_TRUE(std::all_of(buffer.data(), buffer.data() + size, [](uint8_t b) { return b == 0; })) << size;
    }
    AlignedBuffer empty;
    empty.Populate();  // nothing to map
    EXPECT_TRUE(empty.empty());
}

}  // namespace
}  // namespace zelvik
