#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

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
    // A name ending in "/" with nothing there is told as such, not as a directory.
    const std::error_code slash = writeFileSafely(dir.path().string() + "/y.png/", std::string_view("x"));
    EXPECT_EQ(slash, OutputError::trailingSlash);
    EXPECT_EQ(writeErrorReason(slash), "a name ending in '/' can only be a directory's");
}

// A path of 4084 bytes is legal (the limit is 4096): its temporary file is made relative to the
// directory, so its longer name never has to fit the limit.
TEST(SafeWrite, APathNearTheLengthLimitIsWritten) {
    TempDir dir;
    std::filesystem::path deep = dir.path();
    while (deep.string().size() < 4084 - 210) deep /= std::string(200, 'd');
    std::filesystem::create_directories(deep);
    const std::filesystem::path target = deep / std::string(4084 - deep.string().size() - 1, 'm');
    ASSERT_EQ(target.string().size(), 4084u);
    EXPECT_FALSE(writeFileSafely(target, std::string_view("deep")));
    EXPECT_EQ(readBytes(target), "deep");
}

// The temporary file is removed from its directory even when the directory was moved away in
// the meantime (through the directory held open, not its old name).
TEST(SafeWrite, ADirectoryMovedAwayKeepsNoTemporaryFile) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "maps");
    {
        SafeFile file(dir.path() / "maps" / "a.png");
        ASSERT_TRUE(file.write("half", 4));
        std::filesystem::rename(dir.path() / "maps", dir.path() / "moved");
    }
    EXPECT_TRUE(fileNames(dir.path() / "moved").empty());
    SyncBatch batch;
    std::filesystem::rename(dir.path() / "moved", dir.path() / "maps");
    SafeFile held(dir.path() / "maps" / "b.png");
    ASSERT_TRUE(held.write("b", 1) && held.commit(batch));
    std::filesystem::rename(dir.path() / "maps", dir.path() / "moved");
    EXPECT_FALSE(batch.flush());  // put in place where the directory now is
    EXPECT_EQ(fileNames(dir.path() / "moved"), std::set<std::string>{"b.png"});
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

mode_t modeOf(const std::filesystem::path& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

// One rule for every target: regular files and the files links lead to are replaced whole (the
// mode kept, the links left links); devices and FIFOs are written as they are; directories,
// block devices and missing directories are refused with nothing left behind.
TEST(SafeWrite, EachKindOfTargetIsWrittenByTheOneRule) {
    TempDir dir;
    const auto& d = dir.path();
    writeBytes(d / "private.json", "old");
    ::chmod((d / "private.json").c_str(), 0600);
    EXPECT_FALSE(writeFileSafely(d / "private.json", std::string_view("new")));
    EXPECT_EQ(readBytes(d / "private.json"), "new");
    EXPECT_EQ(modeOf(d / "private.json"), 0600u);

    std::filesystem::create_directory(d / "real");
    writeBytes(d / "real" / "map.png", "old");
    std::filesystem::create_symlink("real/map.png", d / "latest.png");
    std::filesystem::create_symlink(d / "latest.png", d / "chain.png");  // a link to a link
    FaultyFileSystem watched;
    EXPECT_FALSE(writeFileSafely(d / "chain.png", std::string_view("linked"), watched));
    EXPECT_EQ(readBytes(d / "real" / "map.png"), "linked");
    EXPECT_TRUE(isKind(d / "chain.png", S_IFLNK) && isKind(d / "latest.png", S_IFLNK));
    ASSERT_EQ(watched.created.size(), 1u);
    EXPECT_EQ(std::filesystem::path(watched.created[0]).parent_path(), d / "real");  // next to the file replaced

    std::filesystem::create_symlink("made.png", d / "dangling.png");
    EXPECT_FALSE(writeFileSafely(d / "dangling.png", std::string_view("made")));
    EXPECT_EQ(readBytes(d / "made.png"), "made");
    EXPECT_TRUE(isKind(d / "dangling.png", S_IFLNK));

    {
        FifoReader fifo(d / "pipe");
        EXPECT_FALSE(writeFileSafely(d / "pipe", std::string_view("through the pipe")));
        EXPECT_EQ(fifo.take(), "through the pipe");
    }
    EXPECT_TRUE(isKind(d / "pipe", S_IFIFO));

    std::filesystem::create_directory(d / "folder");
    EXPECT_EQ(writeFileSafely(d / "folder", std::string_view("x")), std::errc::is_a_directory);
    EXPECT_EQ(writeFileSafely(d / "nowhere" / "x", std::string_view("x")), std::errc::no_such_file_or_directory);
    std::filesystem::create_symlink("nowhere/x", d / "lost.png");
    EXPECT_EQ(writeFileSafely(d / "lost.png", std::string_view("x")), std::errc::no_such_file_or_directory);

    if (makeCharDevice(d / "null", 1, 3) && makeCharDevice(d / "full", 1, 7) &&
        ::mknod((d / "disk").c_str(), S_IFBLK | 0600, makedev(7, 0)) == 0) {
        EXPECT_FALSE(writeFileSafely(d / "null", std::string_view("gone")));
        EXPECT_EQ(writeFileSafely(d / "full", std::string_view("no room")), std::errc::no_space_on_device);
        EXPECT_EQ(writeFileSafely(d / "disk", std::string_view("x")), OutputError::blockDevice);
        EXPECT_TRUE(isKind(d / "null", S_IFCHR) && isKind(d / "full", S_IFCHR) && isKind(d / "disk", S_IFBLK));
    } else {
        ADD_FAILURE() << "no device nodes can be made here (the tests run as root)";
    }
    EXPECT_EQ(fileNames(d), (std::set<std::string>{"private.json", "real", "latest.png", "chain.png", "dangling.png",
                                                   "made.png", "pipe", "folder", "lost.png", "null", "full", "disk"}));
    EXPECT_EQ(fileNames(d / "real"), std::set<std::string>{"map.png"});
}

// "-" is standard output only where the caller says so; otherwise it is a file of that name.
TEST(SafeWrite, DashIsStandardOutputWhenAskedFor) {
    TempDir dir;
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        ::dup2(pipeEnds[1], STDOUT_FILENO);
        ::_exit(writeFileSafely("-", std::string_view("on stdout"), realFileSystem(), Dash::isStandardOutput) ? 1 : 0);
    }
    ::close(pipeEnds[1]);
    char buffer[64];
    const ssize_t n = ::read(pipeEnds[0], buffer, sizeof buffer);
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0), "on stdout");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(writeFileSafely(dir.path() / "-", std::string_view("a file")));
    EXPECT_EQ(readBytes(dir.path() / "-"), "a file");
}

// The rename is made durable: the directory of the file replaced is flushed right after it.
TEST(SafeWrite, TheDirectoryIsSyncedAfterTheRename) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "maps");
    std::filesystem::create_symlink("maps/a.png", dir.path() / "a.png");
    FaultyFileSystem files;
    ASSERT_FALSE(writeFileSafely(dir.path() / "a.png", std::string_view("x"), files));
    ASSERT_EQ(files.created.size(), 1u);
    EXPECT_EQ(files.events,
              (std::vector<std::string>{"rename " + files.created[0] + " " + (dir.path() / "maps/a.png").string(),
                                        "sync-directory " + (dir.path() / "maps").string()}));
    FaultyFileSystem failing;
    failing.renameError = EXDEV;
    EXPECT_TRUE(writeFileSafely(dir.path() / "b.png", std::string_view("x"), failing));
    EXPECT_EQ(failing.events.size(), 1u);  // no sync for a rename that failed
}

// A batch flushes each file system once, however many files and directories it holds, and puts
// a group's files in place with the signals held: a signal that comes while one of a map's files
// is renamed ends the program only once the whole group is in place.
TEST(SafeWrite, ABatchFlushesEachFileSystemOnceAndRenamesAGroupWhole) {
    TempDir dir;
    std::filesystem::create_directory(dir.path() / "a");
    std::filesystem::create_directory(dir.path() / "b");
    FaultyFileSystem files;
    SyncBatch batch(files);
    for (const char* name : {"a/1.png", "b/1.json", "a/2.png", "b/2.json"}) {
        SafeFile file(dir.path() / name, files);
        ASSERT_TRUE(file.write("x", 1) && file.commit(batch));
    }
    EXPECT_FALSE(batch.flush());
    EXPECT_EQ(std::count_if(files.events.begin(), files.events.end(),
                            [](const std::string& e) { return e.starts_with("sync-file-system"); }),
              1);

    // A file system that raises SIGTERM when the first file of a group is renamed.
    class SignalAtRename : public FileSystem {
    public:
        int rename(const OpenDirectory& directory, const std::string& from, const std::string& to) override {
            if (to == "1.png") ::raise(SIGTERM);
            return FileSystem::rename(directory, from, to);
        }
    };
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        prepareSignalsForWriting();
        SignalAtRename signalling;
        SyncBatch group(signalling);
        for (const char* name : {"1.png", "1.json", "1.npy"}) {
            SafeFile file(dir.path() / name, signalling);
            if (!file.write("x", 1) || !file.commit(group)) ::_exit(2);
        }
        group.endGroup();
        SafeFile next(dir.path() / "2.png", signalling);
        if (!next.write("x", 1) || !next.commit(group)) ::_exit(2);
        (void)group.flush();
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(fileNames(dir.path()), (std::set<std::string>{"a", "b", "1.png", "1.json", "1.npy"}));
}

// An appended piece cut short by a full disk or the file-size limit is taken back, the reason
// told as it is; a file found not ending in a newline gets one before the first piece.
TEST(SafeWrite, AppendedPiecesAreWholeOrGone) {
    TempDir dir;
    const auto file = dir.path() / "m.jsonl";
    writeBytes(file, "{\"seed\": 1}\n{\"se");
    for (const int reason : {ENOSPC, EFBIG}) {
        FaultyFileSystem full;
        full.bytesBeforeFull = 5;
        full.writeError = reason;
        AppendedFile appended(file, full);
        EXPECT_FALSE(appended.append("{\"seed\": 2}\n"));
        EXPECT_EQ(appended.error(), std::error_code(reason, std::generic_category()));
        EXPECT_EQ(readBytes(file), "{\"seed\": 1}\n{\"se");
    }
    AppendedFile appended(file);
    EXPECT_TRUE(appended.append("{\"seed\": 2}\n") && appended.append("{\"seed\": 3}\n"));
    EXPECT_EQ(readBytes(file), "{\"seed\": 1}\n{\"se\n{\"seed\": 2}\n{\"seed\": 3}\n");
    EXPECT_EQ(writeErrorReason(std::error_code(EFBIG, std::generic_category())), "file too large");
}

// SIGINT, SIGTERM or SIGHUP in the middle of a write: the temporary file goes, the old file
// stays, and the program ends as the signal ends it.
TEST(SafeWrite, ASignalDuringAWriteRemovesTheTemporaryFile) {
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        TempDir dir;
        writeBytes(dir.path() / "map.png", "old");
        const pid_t child = ::fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            prepareSignalsForWriting();
            SafeFile file(dir.path() / "map.png");
            file.write("half of it", 10);
            ::raise(signalNumber);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signalNumber) << signalNumber;
        EXPECT_EQ(fileNames(dir.path()), std::set<std::string>{"map.png"}) << signalNumber;
        EXPECT_EQ(readBytes(dir.path() / "map.png"), "old");
    }
}

}  // namespace
}  // namespace orv::test
