// Array files on disk: writing that replaces the file whole, reading in
// chunks, and the failures that must leave the caller's array and the old file
// alone. The text itself is tested in test_arraytext.cpp.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <csignal>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <array>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/filestatus.h"
#include "runtime/runtime.h"

namespace {

class ArrayFile : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    std::string Path(const char* name) const { return (dir.path() + "/" + name).toStdString(); }
    std::string Write(const char* name, const std::string& text) const {
        const std::string path = Path(name);
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
};

TEST_F(ArrayFile, WritesTheTextAndReplacesTheFile) {
    const std::array<int32_t, 6> a{1, -2, 300, 4, 123456789, -99999};
    const std::string path = Path("rows.dat");
    ASSERT_EQ(0, ArrayToFile(path.c_str(), a.data(), TYPE_INT, 6, 2, 0, 0, 0, 4, FILE_ASCII, FILE_TRUNCATE));
    EXPECT_EQ("   1\t  -2\t 300\n   4\t123456789\t-99999\n", Read(path));

    const std::array<uint32_t, 3> u{0, 65535, 4294967295u};
    ASSERT_EQ(0, ArrayToFile(path.c_str(), u.data(), TYPE_UINT, 3, 1, 0, 0, 0, 6, FILE_ASCII, FILE_TRUNCATE));
    EXPECT_EQ("     0\t 65535\t4294967295\n", Read(path));  // replaced, not appended
    std::array<uint32_t, 3> back{};
    ASSERT_EQ(0, FileToArray(path.c_str(), back.data(), TYPE_UINT, 3, 1, 0, 0, FILE_ASCII));
    EXPECT_EQ(u, back);
}

TEST_F(ArrayFile, FailedReadsLeaveTheArrayAndTellWhere) {
    const std::array<uint32_t, 4> sentinel{11, 22, 33, 44};
    struct Case {
        const char* text;
        int code;
        int index;
    };
    for (const Case& c : {Case{"1 2 3", FILE_ERR_SHORT, 3}, Case{"1 2 x3 4", FILE_ERR_FORMAT, 2}}) {
        const std::string path = Write("bad.dat", c.text);
        auto got = sentinel;
        EXPECT_EQ(c.code, FileToArray(path.c_str(), got.data(), TYPE_UINT, 4, 1, 0, 0, FILE_ASCII)) << c.text;
        EXPECT_EQ(c.index, ArrayFileErrorIndex()) << c.text;
        EXPECT_EQ(sentinel, got) << c.text;
    }
    auto got = sentinel;
    EXPECT_EQ(FILE_ERR_OPEN,
              FileToArray(Path("missing.dat").c_str(), got.data(), TYPE_UINT, 4, 1, 0, 0, FILE_ASCII));
    EXPECT_EQ(sentinel, got);
}

TEST_F(ArrayFile, BadArgumentsAreRefused) {
    std::array<int32_t, 4> a{};
    const std::string path = Path("args.dat");
    EXPECT_EQ(FILE_ERR_ARGS, ArrayToFile(nullptr, a.data(), TYPE_INT, 4, 1, 0, 0, 0, 4, FILE_ASCII, 0));
    EXPECT_EQ(FILE_ERR_ARGS, ArrayToFile(path.c_str(), nullptr, TYPE_INT, 4, 1, 0, 0, 0, 4, FILE_ASCII, 0));
    EXPECT_EQ(FILE_ERR_ARGS,
              ArrayToFile(path.c_str(), a.data(), TYPE_DOUBLE, 4, 1, 0, 0, 0, 4, FILE_ASCII, 0));
    EXPECT_EQ(FILE_ERR_ARGS, ArrayToFile(path.c_str(), a.data(), TYPE_INT, 4, 3, 0, 0, 0, 4, FILE_ASCII, 0));
    EXPECT_EQ(FILE_ERR_ARGS, ArrayToFile(path.c_str(), a.data(), TYPE_INT, 0, 1, 0, 0, 0, 4, FILE_ASCII, 0));
    EXPECT_EQ(FILE_ERR_ARGS, FileToArray(path.c_str(), a.data(), TYPE_INT, -1, 1, 0, 0, FILE_ASCII));
    EXPECT_EQ(FILE_ERR_ARGS, FileToArray(path.c_str(), nullptr, TYPE_INT, 4, 1, 0, 0, FILE_ASCII));
    EXPECT_EQ(FILE_ERR_ARGS, FileToArray("", a.data(), TYPE_INT, 4, 1, 0, 0, FILE_ASCII));
    // The count is bounded before anything is allocated or read.
    EXPECT_EQ(FILE_ERR_ARGS,
              FileToArray(path.c_str(), a.data(), TYPE_INT, (1 << 20) + 1, 1, 0, 0, FILE_ASCII));
}

TEST_F(ArrayFile, NumbersStraddlingTheReadChunksParse) {
    // The reader takes the file in pieces of a few KiB: the numbers, the
    // longest accepted token among them, are cut at every place by the first
    // two edges of 4 or 8 KiB pieces; the file ends after them or goes on.
    const std::string longest = "00000000000000000000002147483647";  // 32 characters
    for (const std::size_t edge : {std::size_t{4096}, std::size_t{8192}}) {
        for (std::size_t pad = edge - 48; pad <= edge + 1; ++pad) {
            const std::string text = "\xEF\xBB\xBF" + std::string(pad, ' ') + "-2147483648,\n" + longest;
            const std::string path = Write("edge.dat", pad % 2 == 0 ? text : text + "\n7");
            std::array<int32_t, 2> got{};
            ASSERT_EQ(0, FileToArray(path.c_str(), got.data(), TYPE_INT, 2, 1, 0, 0, FILE_ASCII)) << pad;
            ASSERT_EQ((std::array<int32_t, 2>{INT32_MIN, INT32_MAX}), got) << pad;
        }
    }
}

TEST_F(ArrayFile, HugeFileIsReadOnlyAsFarAsNeeded) {
    // 64 GiB, nearly all of it a hole that reads as zero bytes: the fourth
    // token is a run of NULs, refused once it is longer than any number.
    const std::string path = Write("huge.dat", "1 2 3\n");
    if (truncate(path.c_str(), off_t{64} << 30) != 0) {
        GTEST_SKIP() << "the file system refuses a 64 GiB sparse file";
    }
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    std::array<uint32_t, 16> got{};
    EXPECT_EQ(FILE_ERR_FORMAT, FileToArray(path.c_str(), got.data(), TYPE_UINT, 16, 1, 0, 0, FILE_ASCII));
    EXPECT_EQ(3, ArrayFileErrorIndex());
    EXPECT_EQ(0, FileToArray(path.c_str(), got.data(), TYPE_UINT, 3, 1, 0, 0, FILE_ASCII));
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 4096) << "peak resident memory grew (KiB)";
}

TEST_F(ArrayFile, OnlyRegularFilesAreReadAndReplaced) {
    // A FIFO without a writer would block a reader for good; devices read as
    // empty or without end.
    const std::string fifo = Path("fifo"), fifoLink = Path("fifo.lnk"), here = dir.path().toStdString();
    ASSERT_TRUE(mkfifo(fifo.c_str(), 0600) == 0 && symlink(fifo.c_str(), fifoLink.c_str()) == 0);
    for (const std::string& name :
         {fifo, fifoLink, std::string("/dev/null"), std::string("/dev/urandom"), here}) {
        std::array<uint32_t, 2> got{5, 6};
        EXPECT_EQ(FILE_ERR_NOT_FILE, FileToArray(name.c_str(), got.data(), TYPE_UINT, 2, 1, 0, 0, FILE_ASCII))
            << name;
        EXPECT_EQ((std::array<uint32_t, 2>{5, 6}), got) << name;
    }
    orv::ReportReadFailure(fifo.c_str(), FILE_ERR_NOT_FILE, 2, "is not a number");
    EXPECT_STREQ("fifo is not a regular file", orv::szStatus.data());

    // Writing would rename a regular file over them. The superuser may do so
    // over /dev/null: it gets a null device of its own, so a fault never
    // replaces the system's.
    std::vector<std::string> targets{fifoLink, here, "/dev/null"};
    if (geteuid() == 0) {
        targets.back() = Path("null");
        if (mknod(targets.back().c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
            targets.pop_back();
        }
    }
    const auto inode = [](const std::string& name) {
        struct stat st {};
        return stat(name.c_str(), &st) == 0 ? st.st_ino : 0;
    };
    const std::array<uint32_t, 2> u{1, 2};
    for (const std::string& name : targets) {
        const auto was = inode(name);
        EXPECT_EQ(FILE_ERR_NOT_FILE,
                  ArrayToFile(name.c_str(), u.data(), TYPE_UINT, 2, 1, 0, 0, 0, 4, FILE_ASCII, FILE_TRUNCATE))
            << name;
        EXPECT_EQ(was, inode(name)) << name;
    }

    // A link to a regular file is written through; the link stays.
    const std::string target = Write("target.dat", "9 8\n"), link = Path("link.dat");
    ASSERT_EQ(0, symlink("target.dat", link.c_str()));
    ASSERT_EQ(0, ArrayToFile(link.c_str(), u.data(), TYPE_UINT, 2, 1, 0, 0, 0, 4, FILE_ASCII, FILE_TRUNCATE));
    EXPECT_EQ("   1\t   2\n", Read(target));
    EXPECT_TRUE(QFileInfo(QString::fromStdString(link)).isSymLink());
}

TEST_F(ArrayFile, WriteFailingHalfwayKeepsTheOldFileWhole) {
    // The file size limit makes the write fail after the first bytes, as a
    // full disk would.
    const std::string path = Write("old.dat", "old content\n");
    std::array<int32_t, 64> big{};
    big.fill(-123456);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
    rlimit small = saved;
    small.rlim_cur = 40;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
    const int rc =
        ArrayToFile(path.c_str(), big.data(), TYPE_INT, 64, 1, 0, 0, 0, 8, FILE_ASCII, FILE_TRUNCATE);
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(FILE_ERR_WRITE, rc);
    EXPECT_EQ("old content\n", Read(path));
    EXPECT_EQ(1, QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size())
        << "temporary file left behind";

    EXPECT_EQ(FILE_ERR_WRITE, ArrayToFile(Path("no/such/dir.dat").c_str(), big.data(), TYPE_INT, 2, 1, 0, 0,
                                          0, 4, FILE_ASCII, FILE_TRUNCATE));
}

TEST_F(ArrayFile, WriteIntoReadOnlyDirectoryKeepsTheOldFile) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "directory permissions do not bind the superuser";
    }
    const std::string path = Write("old.dat", "old content\n");
    ASSERT_EQ(0, chmod(dir.path().toStdString().c_str(), 0555));
    const std::array<uint32_t, 2> u{1, 2};
    const int rc =
        ArrayToFile(path.c_str(), u.data(), TYPE_UINT, 2, 1, 0, 0, 0, 4, FILE_ASCII, FILE_TRUNCATE);
    chmod(dir.path().toStdString().c_str(), 0755);
    EXPECT_EQ(FILE_ERR_WRITE, rc);
    EXPECT_EQ("old content\n", Read(path));
}

}  // namespace
