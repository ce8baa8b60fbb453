// The stream wrappers and the file hub on real files of a scratch directory.
#include <gtest/gtest.h>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>
#include "E2eHarness.h"
#include "EmuEsp.h"
#include "HuxCoreHooks.h"
#include "NewFileOpen.h"
#include "TKXFile.h"
#include "UnitMachine.h"

namespace {

// Removed when the test process ends.
std::string ScratchDir() { return e2e::TempDir("hub"); }

void Put(const std::string& path, const std::string& data) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fwrite(data.data(), 1, data.size(), f), data.size());
    fclose(f);
}

struct FileHub : ::testing::Test {
    std::string dir = ScratchDir();
    std::string oldCwd;
    void SetUp() override {
        InitializeFileHub();
        char buf[4096];
        ASSERT_NE(getcwd(buf, sizeof(buf)), nullptr);
        oldCwd = buf;
    }
    void TearDown() override {
        CleanUpFileHub();
        ASSERT_EQ(chdir(oldCwd.c_str()), 0);
    }
};

TEST_F(FileHub, InitPublishesCleanUpHookAndCleanUpEmpties) {
    CleanUpFileHubHook = nullptr;
    InitializeFileHub();
    EXPECT_EQ(CleanUpFileHubHook, &CleanUpFileHub);
    Put(dir + "/a", "abc");
    UINT8* data = nullptr;
    UINT32 size = 0;
    ASSERT_EQ(QueryFileHub((dir + "/a").c_str(), &data, size), eEID_NO_ERROR);
    EXPECT_EQ(FileHubList.size(), 1u);
    CleanUpFileHubHook();
    EXPECT_EQ(FileHubList.size(), 0u);
}

TEST_F(FileHub, LaterQueriesGetTheSameBufferWithoutReadingAgain) {
    std::string path = dir + "/rom.bin";
    Put(path, std::string("\x01\x02\x00\x03", 4));
    UINT8* first = nullptr;
    UINT32 size = 0;
    ASSERT_EQ(QueryFileHub(path.c_str(), &first, size), eEID_NO_ERROR);
    ASSERT_EQ(size, 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(first), 4), std::string("\x01\x02\x00\x03", 4));
    EXPECT_EQ(first[4], 0) << "a zero byte follows the data";

    // The file changes on disk and vanishes: the hub keeps what it read.
    Put(path, "changed and longer");
    ASSERT_EQ(unlink(path.c_str()), 0);
    UINT8* again = nullptr;
    UINT32 size2 = 0;
    ASSERT_EQ(QueryFileHub(path.c_str(), &again, size2), eEID_NO_ERROR);
    EXPECT_EQ(again, first);
    EXPECT_EQ(size2, 4u);
    EXPECT_EQ(FileHubList.size(), 1u);
}

TEST_F(FileHub, DotSlashAndPlainNameAreTwoItems) {
    ASSERT_EQ(chdir(dir.c_str()), 0);
    Put("x", "text");
    UINT8* plain = nullptr;
    UINT8* dotted = nullptr;
    UINT32 s1 = 0, s2 = 0;
    ASSERT_EQ(QueryFileHub("x", &plain, s1), eEID_NO_ERROR);
    ASSERT_EQ(QueryFileHub("./x", &dotted, s2), eEID_NO_ERROR);
    EXPECT_NE(plain, dotted);
    EXPECT_STREQ(reinterpret_cast<char*>(plain), "text");
    EXPECT_STREQ(reinterpret_cast<char*>(dotted), "text");
    ASSERT_EQ(FileHubList.size(), 2u);
    EXPECT_STREQ(FileHubList[0]->name, "x");
    EXPECT_STREQ(FileHubList[1]->name, "./x");
}

TEST_F(FileHub, EmptyFileGivesOneZeroByte) {
    Put(dir + "/empty", "");
    UINT8* data = nullptr;
    UINT32 size = 99;
    ASSERT_EQ(QueryFileHub((dir + "/empty").c_str(), &data, size), eEID_NO_ERROR);
    EXPECT_EQ(size, 0u);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data[0], 0);
}

TEST_F(FileHub, MissingFileDirectoryAndDeviceAre30AndAddNothing) {
    UINT8* data = nullptr;
    UINT32 size = 0;
    EXPECT_EQ(QueryFileHub((dir + "/missing").c_str(), &data, size), eEID_OPEN_IN_FILE);
    EXPECT_EQ(QueryFileHub(dir.c_str(), &data, size), eEID_OPEN_IN_FILE);
    EXPECT_EQ(QueryFileHub("/dev/zero", &data, size), eEID_OPEN_IN_FILE);
    EXPECT_EQ(QueryFileHub(nullptr, &data, size), eEID_OPEN_IN_FILE);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(FileHubList.size(), 0u);
}

TEST_F(FileHub, FilesThatDoNotFitIn32BitsAre31) {
    // Sparse files: 4 GiB + 16 bytes (would read as 16 bytes modulo 2^32) and
    // exactly 0xFFFFFFFF bytes (one more byte for the terminator would wrap).
    for (UINT64 length : {0x100000010ULL, 0xFFFFFFFFULL}) {
        std::string path = dir + "/big";
        FILE* f = fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(ftruncate(fileno(f), static_cast<off_t>(length)), 0);
        fclose(f);
        UINT8* data = nullptr;
        UINT32 size = 0;
        EXPECT_EQ(QueryFileHub(path.c_str(), &data, size), eEID_READ_FILE) << length;
        EXPECT_EQ(FileHubList.size(), 0u);
        unlink(path.c_str());
    }
}

TEST(FileStreams, ModesOffsetsAndSizes) {
    std::string dir = ScratchDir();
    std::string path = dir + "/out.bin";
    FILE* f = TKX_CreateNewFile(path.c_str());
    ASSERT_NE(f, nullptr);
    UINT8 block[4] = {'A', 'B', 'C', 'D'};
    EXPECT_EQ(TKX_WriteFile(f, 8, 4, block), 4u);
    EXPECT_EQ(TKX_GetFileSize(f), 12u);
    UINT8 back[16] = {0};
    EXPECT_EQ(TKX_ReadFile(f, 6, 16, back), 6u) << "reads up to the end";
    EXPECT_EQ(back[0], 0);
    EXPECT_EQ(back[2], 'A');
    EXPECT_EQ(TKX_CommitNewFile(f), eEID_NO_ERROR);

    f = TKX_OpenFile(path.c_str(), 2);  // r+b keeps the contents
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(TKX_WriteFile(f, 0, 2, block), 2u);
    EXPECT_EQ(TKX_CloseFile(f), eEID_NO_ERROR);
    FILE* r = TKX_OpenFile(path.c_str(), 7);  // any other mode reads
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(TKX_WriteFile(r, 0, 2, block), 0u);
    EXPECT_EQ(TKX_ReadFile(r, 0, 16, back), 12u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back), 12), std::string("AB\0\0\0\0\0\0ABCD", 12));
    EXPECT_EQ(TKX_CloseFile(r), eEID_NO_ERROR);

    f = TKX_OpenFile(path.c_str(), 1);  // wb truncates
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(TKX_GetFileSize(f), 0u);
    EXPECT_EQ(TKX_CloseFile(f), eEID_NO_ERROR);
    EXPECT_EQ(TKX_OpenFile((dir + "/none/x").c_str(), 1), nullptr);
    EXPECT_EQ(TKX_OpenFile((dir + "/none").c_str(), 0), nullptr);
}

// A file the program writes is made new, owner-only, and takes its name only
// when committed; what is not a regular file is never written through.
TEST(FileStreams, NewFilesTakeTheirNameOnlyWhenWhole) {
    std::string dir = ScratchDir();
    std::string path = dir + "/saved.bin";
    std::string other = dir + "/elsewhere";
    auto contents = [](const std::string& p) { return access(p.c_str(), F_OK) == 0 ? e2e::ReadFile(p) : "-"; };
    struct Row {
        // "-" nothing, "old" a file, "link" a dangling link, "linked" a link to a file, "dir"; "taken": the
        // names ".<name>.<pid>.<0..99>" beside it are links another user planted to a file of theirs
        const char* held;
        bool commit;
        std::string after;  // the name's contents afterwards; "refused" when nothing is made
    } rows[] = {
        {"-", true, "new"},     {"-", false, "-"},         {"old", true, "new"},       {"old", false, "old"},
        {"link", true, "refused"}, {"linked", true, "refused"}, {"dir", true, "refused"}, {"taken", true, "new"},
    };
    for (const Row& row : rows) {
        std::string held = row.held;
        ASSERT_EQ(system(("rm -rf '" + path + "' '" + other + "'").c_str()), 0);
        if (held == "old") e2e::WriteFile(path, "old");
        if (held == "linked") e2e::WriteFile(other, "other");
        if (held == "link" || held == "linked") {
            ASSERT_EQ(symlink(other.c_str(), path.c_str()), 0);
        }
        if (held == "dir") {
            ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
        }
        if (held == "taken") {
            e2e::WriteFile(other, "other");
            for (int n = 0; n < 100; ++n) {
                std::string name = dir + "/.saved.bin." + std::to_string(getpid()) + "." + std::to_string(n);
                ASSERT_EQ(symlink(other.c_str(), name.c_str()), 0);
            }
        }
        struct stat before = {};
        lstat(path.c_str(), &before);
        FILE* f = TKX_CreateNewFile(path.c_str());
        if (row.after == "refused") {
            EXPECT_EQ(f, nullptr) << held;
            EXPECT_EQ(contents(other), held == "linked" ? "other" : "-") << held << ": nothing written through";
            continue;
        }
        ASSERT_NE(f, nullptr) << held;
        UINT8 bytes[3] = {'n', 'e', 'w'};
        EXPECT_EQ(TKX_WriteFile(f, 0, 3, bytes), 3u);
        EXPECT_EQ(contents(path), held == "taken" ? "-" : held) << "the name keeps what it held until the commit";
        if (row.commit) {
            EXPECT_EQ(TKX_CommitNewFile(f), eEID_NO_ERROR) << held;
        } else {
            TKX_DiscardNewFile(f);
        }
        EXPECT_EQ(contents(path), row.after) << held << " " << row.commit;
        struct stat st = {};
        if (row.after == "new" && lstat(path.c_str(), &st) == 0) {
            EXPECT_EQ(st.st_mode & 07777, 0600u) << held;
            EXPECT_NE(st.st_ino, before.st_ino) << held;
        }
        EXPECT_EQ(contents(other), held == "taken" ? "other" : "-") << held << ": nothing written through";
        auto entries = std::filesystem::directory_iterator(dir);
        EXPECT_EQ(std::distance(begin(entries), end(entries)), (row.after == "-" ? 0 : 1) + (held == "taken" ? 101 : 0))
            << held << ": no file left behind";
    }
    EXPECT_EQ(TKX_CommitNewFile(nullptr), eEID_WRITE_FILE);
}

// The seams' file creation itself (the shipped executables' and the test
// build's): a name another user holds, by a link or a file, is never opened.
TEST(FileStreams, SeamCreatesOnlyANewOwnerOnlyFile) {
    std::string dir = ScratchDir();
    std::string path = dir + "/saved.bin";
    std::string other = dir + "/elsewhere";
    for (const char* held : {"dangling link", "link to a file", "another user's file", "-"}) {
        std::string what = held;
        ASSERT_EQ(system(("rm -rf '" + path + "' '" + other + "'").c_str()), 0);
        if (what == "link to a file") e2e::WriteFile(other, "other");
        if (what == "dangling link" || what == "link to a file") ASSERT_EQ(symlink(other.c_str(), path.c_str()), 0);
        if (what == "another user's file") {
            e2e::WriteFile(path, "theirs");
            ASSERT_EQ(chmod(path.c_str(), 0666), 0);
            if (geteuid() == 0) ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
        }
        errno = 0;
        FILE* f = NewFileOpen_Exclusive(path.c_str());
        struct stat st = {};
        if (what == "-") {
            ASSERT_NE(f, nullptr);
            fclose(f);
            ASSERT_EQ(lstat(path.c_str(), &st), 0);
            EXPECT_TRUE(S_ISREG(st.st_mode));
            EXPECT_EQ(st.st_mode & 07777, 0600u);
            EXPECT_EQ(st.st_uid, geteuid());
            continue;
        }
        EXPECT_EQ(f, nullptr) << what;
        if (f != nullptr) fclose(f);
        EXPECT_EQ(errno, EEXIST) << what;
        EXPECT_EQ(lstat(other.c_str(), &st) == 0 ? e2e::ReadFile(other) : "-", what == "link to a file" ? "other" : "-")
            << what << ": nothing made or written through the link";
        if (what == "another user's file") EXPECT_EQ(e2e::ReadFile(path), "theirs");
    }
}

// An undoable commit gives the name the new file at once; the replaced file
// waits beside it until it is forgotten or restored.
TEST(FileStreams, UndoableCommitKeepsTheReplacedFileAside) {
    std::string dir = ScratchDir();
    std::string path = dir + "/RECOVERY.CAP";
    auto contents = [](const std::string& p) { return access(p.c_str(), F_OK) == 0 ? e2e::ReadFile(p) : "-"; };
    const struct {
        const char* held;
        bool restore;
        const char* after;
    } rows[] = {{"old", true, "old"}, {"old", false, "new"}, {"-", true, "-"}, {"-", false, "new"}};
    for (const auto& row : rows) {
        ASSERT_EQ(system(("rm -f '" + dir + "'/* '" + dir + "'/.[!.]*").c_str()), 0);
        if (std::string(row.held) == "old") e2e::WriteFile(path, "old");
        FILE* f = TKX_CreateNewFile(path.c_str());
        ASSERT_NE(f, nullptr);
        UINT8 bytes[3] = {'n', 'e', 'w'};
        EXPECT_EQ(TKX_WriteFile(f, 0, 3, bytes), 3u);
        TKX_REPLACED_FILE replaced;
        ASSERT_EQ(TKX_CommitNewFileKeepingOld(f, &replaced), eEID_NO_ERROR);
        EXPECT_EQ(contents(path), "new") << row.held;
        auto entries = std::filesystem::directory_iterator(dir);
        EXPECT_EQ(std::distance(begin(entries), end(entries)), row.held[0] == '-' ? 1 : 2) << row.held;
        if (row.restore) TKX_RestoreReplaced(&replaced);
        else TKX_ForgetReplaced(&replaced);
        EXPECT_EQ(contents(path), row.after) << row.held << " " << row.restore;
        entries = std::filesystem::directory_iterator(dir);
        EXPECT_EQ(std::distance(begin(entries), end(entries)), row.after[0] == '-' ? 0 : 1) << row.held;
    }

    // What a run that died before the answer left: the file kept aside is
    // named and stays, a new file never committed goes; a link, another
    // name, or another file of that pattern stay.
    ASSERT_EQ(system(("rm -f '" + dir + "'/* '" + dir + "'/.[!.]*").c_str()), 0);
    e2e::WriteFile(path, "old");
    FILE* f = TKX_CreateNewFile(path.c_str());
    ASSERT_NE(f, nullptr);
    TKX_REPLACED_FILE replaced;
    ASSERT_EQ(TKX_CommitNewFileKeepingOld(f, &replaced), eEID_NO_ERROR);
    const std::string half = dir + "/.RECOVERY.CAP.0123456789ab.incomplete";
    e2e::WriteFile(half, "half");
    for (const char* other : {"/.RECOVERY.CAP.0123456789a.incomplete", "/.saved.bin.0123456789ab", "/RECOVERY.CAP.x"})
        e2e::WriteFile(dir + other, "keep");
    ASSERT_EQ(symlink(path.c_str(), (dir + "/.RECOVERY.CAP.abcdefghijkl.incomplete").c_str()), 0);
    static std::vector<std::string> s_Named;
    s_Named.clear();
    EXPECT_EQ(TKX_SweepDirectory(dir.c_str(), "RECOVERY.CAP",
                                 [](const char* p, UINT64 size) { s_Named.push_back(p + std::to_string(size)); }),
              1u);
    EXPECT_EQ(s_Named, std::vector<std::string>{std::string(replaced.Aside) + "3"});
    EXPECT_EQ(contents(replaced.Aside), "old");
    EXPECT_EQ(contents(half), "-");
    auto left = std::filesystem::directory_iterator(dir);
    EXPECT_EQ(std::distance(begin(left), end(left)), 6);
}

TEST(FileStreams, AFullDiskIsReportedWhenClosing) {
    // /dev/full takes writes into the stream's buffer and fails them when
    // flushed: the failure must not be lost.
    FILE* f = TKX_OpenFile("/dev/full", 1);
    ASSERT_NE(f, nullptr);
    UINT8 block[512] = {0};
    EXPECT_EQ(TKX_WriteFile(f, 0, sizeof(block), block), sizeof(block));
    EXPECT_EQ(TKX_CloseFile(f), eEID_WRITE_FILE);
    EXPECT_EQ(TKX_CloseFile(nullptr), eEID_WRITE_FILE);

    // A new file on a full partition, failing in its writes or only in its
    // close: the commit fails, the old file stays and the new one is removed.
    ASSERT_TRUE(unitmachine::Reset({"esp=full"}));
    std::string dir = unitmachine::Root("/boot/efi");
    ASSERT_EQ(system(("mkdir -p '" + dir + "'").c_str()), 0);
    std::string path = dir + "/saved.bin";
    std::vector<UINT8> bytes(EMU_ESP_FULL_SPACE * 2, 0x5A);
    for (UINT32 size : {EMU_ESP_FULL_SPACE * 2, EMU_ESP_FULL_SPACE + 0x58}) {
        e2e::WriteFile(path, "old");
        f = TKX_CreateNewFile(path.c_str());
        ASSERT_NE(f, nullptr);
        bool written = TKX_WriteFile(f, 0, size, bytes.data()) == size;
        EXPECT_EQ(written ? TKX_CommitNewFile(f) : (TKX_DiscardNewFile(f), eEID_WRITE_FILE), eEID_WRITE_FILE) << size;
        EXPECT_EQ(e2e::ReadFile(path), "old") << size;
        auto entries = std::filesystem::directory_iterator(dir);
        EXPECT_EQ(std::distance(begin(entries), end(entries)), 1) << size << ": the new file is removed";
    }
}

}  // namespace
