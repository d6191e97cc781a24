#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/ExportSupport.hpp"
#include "tests/Session.hpp"

namespace orv::test {
namespace {

TEST(SafeWrite, WritesTheWholeTextAndReplacesTheOldFile) {
    TempDir dir;
    const auto path = dir.path() / "result.json";
    EXPECT_FALSE(writeFileSafely(path, std::string_view("{\"first\": 1}\n")));
    EXPECT_EQ(readBytes(path), "{\"first\": 1}\n");
    EXPECT_FALSE(writeFileSafely(path, std::string_view("{}")));
    EXPECT_EQ(readBytes(path), "{}");
    EXPECT_FALSE(writeFileSafely(path, std::string_view("")));
    EXPECT_EQ(readBytes(path), "");
    EXPECT_EQ(fileNames(dir.path()), std::set<std::string>{"result.json"});
}

TEST(SafeWrite, NewFileGetsTheUsualPermissionsNotThePrivateOnesOfATemporaryFile) {
    TempDir dir;
    const mode_t old = ::umask(022);
    const std::error_code error = writeFileSafely(dir.path() / "shared.png", std::string_view("x"));
    ::umask(old);
    ASSERT_FALSE(error);
    struct stat info {};
    ASSERT_EQ(::stat((dir.path() / "shared.png").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST(SafeWrite, NamesThatAreNoFileAreRefusedAndDirectoriesKept) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "maps");
    writeBytes(dir.path() / "maps" / "inside", "kept");
    EXPECT_EQ(writeFileSafely(dir.path() / "maps", std::string_view("x")), std::errc::is_a_directory);
    EXPECT_EQ(writeFileSafely(dir.path() / "maps" / "", std::string_view("x")), std::errc::is_a_directory);
    EXPECT_EQ(writeFileSafely(dir.path() / "maps" / ".", std::string_view("x")), std::errc::is_a_directory);
    EXPECT_EQ(readBytes(dir.path() / "maps" / "inside"), "kept");
    EXPECT_EQ(fileNames(dir.path()), std::set<std::string>{"maps"});
    EXPECT_EQ(fileNames(dir.path() / "maps"), std::set<std::string>{"inside"});
    // A file in the way of a directory of the path.
    EXPECT_EQ(writeFileSafely(dir.path() / "maps" / "inside" / "x.png", std::string_view("x")),
              std::errc::not_a_directory);
}

TEST(SafeWrite, ANameAtTheLengthLimitStillFitsItsTemporaryName) {
    TempDir dir;
    const std::string name = std::string(251, 'm') + ".png";  // 255 bytes, the usual limit
    EXPECT_FALSE(writeFileSafely(dir.path() / name, std::string_view("long")));
    EXPECT_EQ(readBytes(dir.path() / name), "long");
    EXPECT_EQ(writeFileSafely(dir.path() / (name + "x"), std::string_view("x")), std::errc::filename_too_long);
    EXPECT_EQ(fileNames(dir.path()), std::set<std::string>{name});
}

TEST(SafeWrite, AnotherFileWithTheTemporaryNameIsLeftAlone) {
    TempDir dir;
    const std::string taken = ".map.png." + std::to_string(::getpid()) + "-0.tmp";
    writeBytes(dir.path() / taken, "someone else's");
    EXPECT_FALSE(writeFileSafely(dir.path() / "map.png", std::string_view("mine")));
    EXPECT_EQ(readBytes(dir.path() / "map.png"), "mine");
    EXPECT_EQ(readBytes(dir.path() / taken), "someone else's");
    EXPECT_EQ(fileNames(dir.path()), (std::set<std::string>{"map.png", taken}));
}

TEST(SafeWrite, AnAbandonedOrFailedWriteLeavesNothingAndTakesNoMoreBytes) {
    TempDir dir;
    const auto path = dir.path() / "out.bin";
    writeBytes(path, "old");
    {
        SafeFile file(path);
        ASSERT_TRUE(file.write("new", 3));
        EXPECT_TRUE(std::filesystem::exists(file.temporaryPath()));
        EXPECT_EQ(readBytes(path), "old");  // nothing shows before the commit
    }                                       // destroyed without a commit
    EXPECT_EQ(fileNames(dir.path()), std::set<std::string>{"out.bin"});

    FaultyFileSystem files;
    files.bytesBeforeFull = 2;
    SafeFile file(path, files);
    EXPECT_FALSE(file.write("abcd", 4));
    EXPECT_EQ(file.error(), std::errc::no_space_on_device);
    files.bytesBeforeFull = -1;  // room again: the failed write stays failed
    EXPECT_FALSE(file.write("ef", 2));
    EXPECT_FALSE(file.commit());
    EXPECT_EQ(file.error(), std::errc::no_space_on_device);
    EXPECT_EQ(readBytes(path), "old");
    EXPECT_EQ(fileNames(dir.path()), std::set<std::string>{"out.bin"});
}

TEST(SafeWrite, ReasonsAreShortAndSayWhatHappened) {
    EXPECT_EQ(writeErrorReason(std::make_error_code(std::errc::no_such_file_or_directory)), "no such directory");
    EXPECT_EQ(writeErrorReason(std::make_error_code(std::errc::permission_denied)), "permission denied");
    EXPECT_EQ(writeErrorReason(std::make_error_code(std::errc::no_space_on_device)), "disk full");
    EXPECT_EQ(writeErrorReason(std::make_error_code(std::errc::read_only_file_system)), "read-only file system");
    EXPECT_EQ(writeErrorReason(std::make_error_code(std::errc::is_a_directory)), "a directory has that name");
    // Anything else: the system's own words, starting in lower case.
    EXPECT_EQ(writeErrorReason(std::make_error_code(std::errc::too_many_files_open)), "too many open files");
}

}  // namespace
}  // namespace orv::test
