#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/fs/FileSystem.h"
#include "tests/support/TempDeviceRoot.h"

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
