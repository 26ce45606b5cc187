// The file's write thread: blocks reach the file in the order handed over, a buffer handed back
// is never one still waiting, and the first failure is kept while the blocks after it go.
#include "WriteThread.h"
#include "OutputFile.h"
#include "ScratchFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace formats;
using testing_support::readAll;
using testing_support::ScratchDir;

namespace {

// Block i's bytes: its number repeated, of a length that varies from block to block.
std::string blockBytes(int i) {
    return std::string(1000 + 977 * static_cast<std::size_t>(i % 7),
                       static_cast<char>('a' + i % 26));
}

} // namespace

TEST(WriteThread, BlocksArriveInOrderAndReturnedBuffersAreFree) {
    ScratchDir dir;
    const std::string path = (dir / "blocks").string();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    std::string expected;
    {
        WriteThread thread(fd);
        std::vector<char> block(8192);
        for (int i = 0; i < 200; ++i) {
            const std::string bytes = blockBytes(i);
            // Filling the buffer handed back would corrupt a block still waiting, were it one.
            std::copy(bytes.begin(), bytes.end(), block.begin());
            expected += bytes;
            block = thread.hand(std::move(block), bytes.size());
            ASSERT_EQ(block.size(), 8192u);
        }
        EXPECT_EQ(thread.finish(), 0);
    }
    ::close(fd);
    EXPECT_EQ(readAll(path), expected);
}

TEST(WriteThread, FirstFailureIsKeptAndLaterBlocksDropped) {
    ScratchDir dir;
    const std::string path = (dir / "read-only").string();
    testing_support::writeBytes(path, "kept");
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    {
        WriteThread thread(fd);
        std::vector<char> block(100, 'x');
        block = thread.hand(std::move(block), 100);
        EXPECT_EQ(thread.finish(), EBADF);
        // Once failed, a block comes straight back as it was handed.
        std::vector<char> later(50, 'y');
        later = thread.hand(std::move(later), 50);
        EXPECT_EQ(later, std::vector<char>(50, 'y'));
        EXPECT_EQ(thread.finish(), EBADF);
    }
    ::close(fd);
    EXPECT_EQ(readAll(path), "kept");
}

TEST(WriteThread, StreamPiecesAndWritersBlocksKeepTheirOrder) {
    ScratchDir dir;
    const std::string path = (dir / "mixed").string();
    OutputFile file(path);
    std::string error;
    ASSERT_TRUE(file.open(error)) << error;
    auto* buffer = dynamic_cast<FileBuffer*>(file.stream().rdbuf());
    ASSERT_NE(buffer, nullptr);
    std::string expected;
    std::vector<char> block(4096);
    for (int i = 0; i < 20; ++i) {
        const std::string piece = "piece " + std::to_string(i) + "\n";
        file.stream() << piece;
        const std::string bytes = blockBytes(i);
        std::copy(bytes.begin(), bytes.end(), block.begin());
        block = buffer->exchange(std::move(block), bytes.size());
        expected += piece + bytes;
    }
    file.stream() << "end";
    expected += "end";
    ASSERT_TRUE(file.commit(error)) << error;
    EXPECT_EQ(readAll(path), expected);
}
