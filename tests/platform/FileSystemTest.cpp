#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/fs/FileSystem.h"
#include "testkit/ChildProcess.h"
#include "testkit/PumpUntil.h"
#include "testkit/TempDeviceRoot.h"

using namespace platform;
using testsupport::TempDeviceRoot;

namespace {

class FileSystemTest : public ::testing::Test {
protected:
    void TearDown() override { ClearFileFaults(); }
    TempDeviceRoot root_;
};

std::string ReadAll(std::u16string_view path) {
    auto file = File::Open(path, FileAccess::Read, FileDisposition::OpenExisting);
    if (!file) {
        return "<missing>";
    }
    std::string out(4096, '\0');
    uint32_t got = 0;
    file->Read(out.data(), static_cast<uint32_t>(out.size()), &got);
    out.resize(got);
    return out;
}

}  // namespace

TEST_F(FileSystemTest, HandsetPathsResolveInsideTheDeviceRoot) {
    root_.WriteFile("Program Files/CamoraController/a.ini", "x=1\r\n");
    EXPECT_EQ(HostPathFor(u"\\Program Files\\CamoraController\\a.ini"),
              root_.Host("Program Files/CamoraController/a.ini"));
    EXPECT_EQ(ReadAll(u"\\Program Files\\CamoraController\\a.ini"), "x=1\r\n");
    // The handset's file system ignores letter case in folder and file names.
    EXPECT_EQ(ReadAll(u"\\PROGRAM FILES\\camoracontroller\\A.INI"), "x=1\r\n");
}

TEST_F(FileSystemTest, NonAsciiNamesAreUtf8OnTheHost) {
    const std::u16string folder = u"\\My Documents\\\u5199\u771F \u30A2\u30EB\u30D0\u30E0";
    ASSERT_TRUE(CreateFolder(folder));
    EXPECT_TRUE(std::filesystem::is_directory(root_.Host(
        "My Documents/\xE5\x86\x99\xE7\x9C\x9F \xE3\x82\xA2\xE3\x83\xAB\xE3\x83\x90\xE3\x83\xA0")));
    auto file = File::Open(folder + u"\\J.jpg", FileAccess::Write, FileDisposition::CreateNew);
    ASSERT_NE(file, nullptr);
    uint32_t written = 0;
    ASSERT_TRUE(file->Write("\xFF\xD8", 2, &written));
    EXPECT_EQ(written, 2u);
    EXPECT_TRUE(file->Close());
    EXPECT_EQ(ReadAll(folder + u"\\J.jpg"), "\xFF\xD8");
}

TEST_F(FileSystemTest, OpenAndCreateReportWhatWentWrong) {
    FileError error = FileError::None;
    EXPECT_EQ(File::Open(u"\\nothing.txt", FileAccess::Read, FileDisposition::OpenExisting, &error),
              nullptr);
    EXPECT_EQ(error, FileError::NotFound);

    root_.WriteFile("there.txt", "old");
    EXPECT_EQ(File::Open(u"\\there.txt", FileAccess::Write, FileDisposition::CreateNew, &error),
              nullptr);
    EXPECT_EQ(error, FileError::Exists);
    EXPECT_EQ(ReadAll(u"\\there.txt"), "old") << "a refused create-new touched the file";

    auto replaced =
        File::Open(u"\\there.txt", FileAccess::Write, FileDisposition::CreateAlways, &error);
    ASSERT_NE(replaced, nullptr);
    EXPECT_EQ(error, FileError::None);
    replaced->Close();
    EXPECT_EQ(ReadAll(u"\\there.txt"), "");
}

TEST_F(FileSystemTest, DiskFullIsToldApartOnARealDevice) {
    // /dev/full answers every write with "no space left".
    std::filesystem::create_symlink("/dev/full", root_.Host("full"));
    auto file = File::Open(u"\\full", FileAccess::Write, FileDisposition::OpenExisting);
    ASSERT_NE(file, nullptr);
    uint32_t written = 0;
    EXPECT_FALSE(file->Write("abc", 3, &written));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(file->LastError(), FileError::DiskFull);
}

TEST_F(FileSystemTest, InjectedFaultsReachEachOperationOnce) {
    FileError error = FileError::None;
    InjectFileFault(FileOp::Open, FileError::WriteProtected);
    EXPECT_EQ(File::Open(u"\\a.jpg", FileAccess::Write, FileDisposition::CreateNew, &error),
              nullptr);
    EXPECT_EQ(error, FileError::WriteProtected);
    EXPECT_FALSE(root_.Exists("a.jpg"));

    auto file = File::Open(u"\\a.jpg", FileAccess::Write, FileDisposition::CreateNew, &error);
    ASSERT_NE(file, nullptr) << "the fault should have been used up";
    InjectFileFault(FileOp::Write, FileError::DiskFull);
    uint32_t written = 7;
    EXPECT_FALSE(file->Write("abc", 3, &written));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(file->LastError(), FileError::DiskFull);
    EXPECT_TRUE(file->Write("abc", 3, &written));
    InjectFileFault(FileOp::Close, FileError::DiskFull);
    EXPECT_FALSE(file->Close());
    EXPECT_EQ(file->LastError(), FileError::DiskFull);
}

TEST_F(FileSystemTest, SearchMatchesWildcardsWithoutRegardToCase) {
    root_.WriteFile("My Documents/X.JPG", "");
    root_.WriteFile("My Documents/y.jpg", "");
    root_.WriteFile("My Documents/z.jpeg", "");
    root_.WriteFile("My Documents/J20261208001.jpg", "");
    root_.WriteFile("Windows/BtSdkCE50.dll", "");
    EXPECT_EQ(FindFiles(u"\\My Documents\\*.jpg"),
              (std::vector<std::u16string>{u"J20261208001.jpg", u"X.JPG", u"y.jpg"}));
    EXPECT_EQ(FindFiles(u"\\my documents\\J20261208???.jpg"),
              (std::vector<std::u16string>{u"J20261208001.jpg"}));
    EXPECT_EQ(FindFiles(u"\\Windows\\BtSdkCE50*"), (std::vector<std::u16string>{u"BtSdkCE50.dll"}));
    EXPECT_TRUE(FindFiles(u"\\Windows\\BtSdkCE40*").empty());
    EXPECT_TRUE(FindFiles(u"\\No Such Folder\\*").empty());
}

TEST(PatternTest, StarAndQuestionMark) {
    EXPECT_TRUE(MatchesPattern(u"abc", u"*"));
    EXPECT_TRUE(MatchesPattern(u"abc", u"a*c"));
    EXPECT_TRUE(MatchesPattern(u"aXbXc", u"a*b*c"));
    EXPECT_TRUE(MatchesPattern(u"ABC", u"a?c"));
    EXPECT_FALSE(MatchesPattern(u"ac", u"a?c"));
    EXPECT_FALSE(MatchesPattern(u"abcd", u"a*c"));
    EXPECT_TRUE(MatchesPattern(u"", u"*"));
    EXPECT_FALSE(MatchesPattern(u"", u"?"));
}

TEST_F(FileSystemTest, ReplaceSwapsTheNewFileInWhole) {
    root_.WriteFile("cfg.ini", "old");
    root_.WriteFile("cfg.tmp", "new");
    ASSERT_TRUE(ReplaceFile(u"\\cfg.tmp", u"\\cfg.ini"));
    EXPECT_EQ(ReadAll(u"\\cfg.ini"), "new");
    EXPECT_FALSE(root_.Exists("cfg.tmp"));
    FileError error = FileError::None;
    EXPECT_FALSE(ReplaceFile(u"\\gone.tmp", u"\\cfg.ini", &error));
    EXPECT_EQ(error, FileError::NotFound);
    EXPECT_EQ(ReadAll(u"\\cfg.ini"), "new");
    EXPECT_TRUE(DeleteFile(u"\\cfg.ini"));
    EXPECT_FALSE(root_.Exists("cfg.ini"));
}

namespace {

// A writer killed midway: the child process starts the file and is killed
// by SIGKILL after its first 4 KiB piece, as a kill of the program would.
void KillSelf(uint64_t) {
    ::kill(::getpid(), SIGKILL);
}

// Runs a replacing write of `bytes` in a child process; true when the child
// was killed by the hook (so the write was cut), false when it finished.
bool WriteInChild(std::u16string_view path, const std::string& bytes, bool replace, bool kill) {
    testsupport::ChildProcess child = testsupport::ChildProcess::Fork([&] {
        if (kill) {
            SetReplacingWriteHook(&KillSelf);
        }
        auto file = ReplacingFile::Create(path, replace);
        uint32_t written = 0;
        const bool ok = file != nullptr &&
                        file->Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &written) &&
                        file->Commit();
        return ok ? 0 : 1;
    });
    const auto status = child.Wait(testsupport::kPatience);
    return status && status->KilledBy(SIGKILL);
}

}  // namespace

TEST_F(FileSystemTest, AReplacingWriteKilledMidwayLeavesTheOldFileOrNone) {
    const std::string picture(64 * 1024, 'N');
    struct Case {
        const char* what;
        const char* old;  // null: no file before
        bool kill;
        std::string expected;
    };
    const Case cases[] = {
        {"killed, no old file", nullptr, true, "<missing>"},
        {"killed over an old picture", "old picture", true, "old picture"},
        {"whole, over an old picture", "old picture", false, picture},
        {"whole, no old file", nullptr, false, picture},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(root_.Host("J090615001.jpg"));
        if (c.old != nullptr) {
            root_.WriteFile("J090615001.jpg", c.old);
        }
        EXPECT_EQ(WriteInChild(u"\\J090615001.jpg", picture, true, c.kill), c.kill);
        const std::string found = root_.Exists("J090615001.jpg") ? root_.ReadFile("J090615001.jpg")
                                                                 : std::string("<missing>");
        EXPECT_TRUE(found == c.expected)
            << found.size() << " bytes under the final name: " << found.substr(0, 16) << "...";
        // What the killed writer left is not a picture and is used again by the next.
        for (const auto& entry : std::filesystem::directory_iterator(root_.path())) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name == "J090615001.jpg" || name.ends_with(".part") ||
                        !name.starts_with("J"))
                << name;
        }
    }
    EXPECT_FALSE(WriteInChild(u"\\J090615001.jpg", "again", true, false));
    EXPECT_EQ(ReadAll(u"\\J090615001.jpg"), "again");
    EXPECT_FALSE(root_.Exists("J090615001.jpg.part")) << "a finished write leaves no temporary";
}

TEST_F(FileSystemTest, AReplacingWriteThatFailsLeavesNothingBehind) {
    struct Case {
        const char* what;
        FileOp op;
        FileError error;
    };
    const Case cases[] = {
        {"no space while writing", FileOp::Write, FileError::DiskFull},
        {"no space while flushing", FileOp::Close, FileError::DiskFull},
        {"rename refused", FileOp::Replace, FileError::Other},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        root_.WriteFile("shot.jpg", "old");
        InjectFileFault(c.op, c.error, 1, u"shot.jpg");
        auto file = ReplacingFile::Create(u"\\shot.jpg", true);
        ASSERT_NE(file, nullptr);
        uint32_t written = 0;
        const bool ok = file->Write("new picture", 11, &written) && file->Commit();
        EXPECT_FALSE(ok);
        EXPECT_EQ(file->LastError(), c.error);
        file.reset();
        EXPECT_EQ(ReadAll(u"\\shot.jpg"), "old");
        EXPECT_FALSE(root_.Exists("shot.jpg.part"));
        ClearFileFaults();
    }
}

TEST_F(FileSystemTest, AReplacingWriteWithoutReplaceKeepsAFileThatTookTheName) {
    root_.WriteFile("shot.jpg", "theirs");
    FileError error = FileError::None;
    EXPECT_EQ(ReplacingFile::Create(u"\\shot.jpg", false, &error), nullptr);
    EXPECT_EQ(error, FileError::Exists);
    std::filesystem::remove(root_.Host("shot.jpg"));
    auto file = ReplacingFile::Create(u"\\shot.jpg", false, &error);
    ASSERT_NE(file, nullptr);
    root_.WriteFile("shot.jpg", "theirs");  // made by someone else meanwhile
    uint32_t written = 0;
    ASSERT_TRUE(file->Write("mine", 4, &written));
    EXPECT_FALSE(file->Commit());
    EXPECT_EQ(file->LastError(), FileError::Exists);
    EXPECT_EQ(ReadAll(u"\\shot.jpg"), "theirs");
    EXPECT_FALSE(root_.Exists("shot.jpg.part"));
}
