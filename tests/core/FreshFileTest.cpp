#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "FreshFile.h"
#include "TestSupport.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(FreshFile, ReplacesWhateverStoodAtThePathWithoutWritingThroughIt) {
    TempDir dir;
    const std::string target = dir / "out.json";
    const std::string victim = dir / "victim";
    WriteFile(victim, "precious");

    EXPECT_TRUE(WriteFreshFile(target, "first"));
    EXPECT_EQ(ReadFile(target), "first");

    // An older, longer file is replaced whole, not overwritten in place.
    EXPECT_TRUE(WriteFreshFile(target, "2nd"));
    EXPECT_EQ(ReadFile(target), "2nd");

    ASSERT_EQ(unlink(target.c_str()), 0);
    ASSERT_EQ(symlink(victim.c_str(), target.c_str()), 0);
    EXPECT_TRUE(WriteFreshFile(target, "third"));
    EXPECT_EQ(ReadFile(victim), "precious");
    struct stat info;
    ASSERT_EQ(lstat(target.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(ReadFile(target), "third");

    // A dangling link is no way out either.
    ASSERT_EQ(unlink(target.c_str()), 0);
    ASSERT_EQ(symlink((dir / "created-through-link").c_str(), target.c_str()), 0);
    EXPECT_TRUE(WriteFreshFile(target, "fourth"));
    EXPECT_FALSE(testsupport::FileExists(dir / "created-through-link"));
}

TEST(FreshFile, ReportsFailureWithErrno) {
    TempDir dir;
    errno = 0;
    EXPECT_FALSE(WriteFreshFile(dir / "missing/out.json", "x"));
    EXPECT_EQ(errno, ENOENT);
    // A directory at the path cannot be unlinked and is left alone.
    ASSERT_EQ(mkdir((dir / "sub").c_str(), 0755), 0);
    EXPECT_FALSE(WriteFreshFile(dir / "sub", "x"));
    EXPECT_TRUE(testsupport::FileExists(dir / "sub"));
}

}  // namespace
