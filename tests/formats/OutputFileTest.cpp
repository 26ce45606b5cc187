// A file's stream: small pieces gathered and large blocks written straight through reach the
// file in the order written, and a file replaced keeps nothing of its old bytes.
#include "OutputFile.h"
#include "ScratchFiles.h"

#include <gtest/gtest.h>

#include <string>

using namespace formats;
using testing_support::readAll;
using testing_support::ScratchDir;

TEST(OutputFile, PiecesAndLargeBlocksKeepTheirOrder) {
    ScratchDir dir;
    const std::string path = (dir / "mixed").string();
    testing_support::writeBytes(path, std::string(1 << 20, 'o')); // longer than the new file
    OutputFile file(path);
    std::string error;
    ASSERT_TRUE(file.open(error)) << error;
    std::string expected;
    for (int i = 0; i < 20; ++i) {
        const std::string piece = "piece " + std::to_string(i) + "\n";
        // Blocks on either side of the size from which they go straight through.
        const std::string block((1 << 16) - 1 + 977 * (i % 3), static_cast<char>('a' + i));
        file.stream() << piece;
        file.stream().write(block.data(), static_cast<std::streamsize>(block.size()));
        expected += piece + block;
    }
    file.stream() << "end";
    expected += "end";
    ASSERT_TRUE(file.commit(error)) << error;
    EXPECT_EQ(readAll(path), expected);
}
