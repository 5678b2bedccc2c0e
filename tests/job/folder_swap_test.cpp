#include "job/folder_swap.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fstream>

namespace veltrana {
namespace {

namespace fs = std::filesystem;

// A batch reel's folder holds its report two folders deep; the old folder
// goes whole once the new one is in, and a link in it is removed, not followed.
TEST(FolderSwap, ReplacesAFolderWithFoldersInsideIt) {
    const test::TempDir dir;
    const fs::path reel = dir / "reel";
    fs::create_directories(reel / "report" / "report_files");
    std::ofstream(reel / "report" / "report_files" / "old.svg") << "old";
    fs::create_directories(dir / "elsewhere");
    std::ofstream(dir / "elsewhere" / "kept.txt") << "kept";
    fs::create_directory_symlink(dir / "elsewhere", reel / "link");

    Result<FolderSwap> swap = FolderSwap::create(reel, "the reel");
    ASSERT_TRUE(swap.ok()) << swap.message();
    fs::create_directories(swap->temporaryFolder() / "report" / "report_files");
    std::ofstream(swap->temporaryFolder() / "report" / "report_files" / "new.svg") << "new";
    ASSERT_TRUE(swap->write("reel.wav", "RIFF").ok());
    ASSERT_TRUE(swap->swapIn().ok());
    swap->removeOld();

    EXPECT_EQ(test::readFileText(reel / "reel.wav"), "RIFF");
    EXPECT_TRUE(fs::exists(reel / "report" / "report_files" / "new.svg"));
    EXPECT_FALSE(fs::exists(reel / "link"));
    EXPECT_EQ(test::readFileText(dir / "elsewhere" / "kept.txt"), "kept");
    // nothing but the reel and the other folder is left
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

} // namespace
} // namespace veltrana
