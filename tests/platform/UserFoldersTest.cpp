// Where the handset's picture folder and the user's other folders land on
// the host, and the way back from a host folder to a handset path.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/fs/DeviceRoot.h"
#include "platform/fs/FileSystem.h"
#include "testkit/TempDeviceRoot.h"

using namespace platform;
using testsupport::TempDeviceRoot;

namespace {

const std::u16string kPictures(kPicturesFolder);

struct UserDirsCase {
    const char* name;
    const char* text;
    const char* expected;
};

class UserDirsTest : public ::testing::TestWithParam<UserDirsCase> {};

TEST_P(UserDirsTest, PicturesEntryIsReadAsXdgUserDirsWritesIt) {
    EXPECT_EQ(PicturesFolderFromUserDirs(GetParam().text, "/home/ann"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, UserDirsTest,
    ::testing::Values(
        UserDirsCase{"NoFile", "", "/home/ann/Pictures"},
        UserDirsCase{"BelowHome",
                     "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                     "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n",
                     "/home/ann/Bilder"},
        UserDirsCase{"Absolute", "XDG_PICTURES_DIR=\"/srv/photos/\"\n", "/srv/photos"},
        UserDirsCase{"CommentedOut", "#XDG_PICTURES_DIR=\"$HOME/Old\"\n", "/home/ann/Pictures"},
        UserDirsCase{"DisabledAsHome", "XDG_PICTURES_DIR=\"$HOME/\"\n", "/home/ann/Pictures"},
        UserDirsCase{"Relative", "XDG_PICTURES_DIR=\"photos\"\n", "/home/ann/Pictures"},
        UserDirsCase{"NotBelowHome", "XDG_PICTURES_DIR=\"$HOMEWORK\"\n", "/home/ann/Pictures"},
        UserDirsCase{"CrLfAndUnquoted", "XDG_PICTURES_DIR=$HOME/Fotos\r\n", "/home/ann/Fotos"},
        UserDirsCase{"FirstOfTwo", "XDG_PICTURES_DIR=\"$HOME/A\"\nXDG_PICTURES_DIR=\"$HOME/B\"\n",
                     "/home/ann/A"}),
    [](const ::testing::TestParamInfo<UserDirsCase>& row) { return row.param.name; });

class PicturesMappingTest : public ::testing::Test {
protected:
    TempDeviceRoot root_;
};

TEST_F(PicturesMappingTest, PictureFolderIsTheUsersPicturesFolder) {
    const std::string pictures = root_.Host(TempDeviceRoot::kPicturesRelative);
    ASSERT_EQ(PicturesFolder(), pictures);
    EXPECT_EQ(HostPathFor(kPictures + u"J090615001.jpg"), pictures + "/J090615001.jpg");
    // Folder names match without regard to case, as on the handset.
    EXPECT_EQ(HostPathFor(u"\\MY DOCUMENTS\\\u30DE\u30A4 \u30D4\u30AF\u30C1\u30E3\\x.jpg"),
              pictures + "/x.jpg");
    // Its neighbours stay in the device root.
    EXPECT_EQ(HostPathFor(u"\\My Documents\\notes.txt"), root_.Host("My Documents/notes.txt"));

    // Files made through the handset path are in the user's folder.
    ASSERT_TRUE(CreateFolder(kPictures + u"Trip"));
    auto file = File::Open(kPictures + u"Trip\\J090615001.jpg", FileAccess::Write,
                           FileDisposition::CreateNew);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->Close());
    EXPECT_TRUE(std::filesystem::exists(pictures + "/Trip/J090615001.jpg"));
    EXPECT_EQ(FindFiles(kPictures + u"Trip\\*.jpg"),
              (std::vector<std::u16string>{u"J090615001.jpg"}));
}

TEST_F(PicturesMappingTest, OtherHostFoldersAppearBelowLinux) {
    EXPECT_EQ(HostPathFor(u"\\Linux\\tmp\\x.jpg"), "/tmp/x.jpg");
    EXPECT_EQ(HostPathFor(u"\\Linux"), "/");
    const std::string outside = std::filesystem::temp_directory_path().string() +
                                "/camora-outside-" +
                                std::filesystem::path(root_.path()).filename().string();
    std::filesystem::create_directories(outside);
    const std::u16string handset = HandsetPathFor(outside);
    EXPECT_EQ(handset.substr(0, 7), u"\\Linux\\");
    EXPECT_EQ(HostPathFor(handset + u"\\a.jpg"), outside + "/a.jpg");
    std::filesystem::remove_all(outside);
}

struct BackCase {
    const char* name;
    const char* hostBelowRoot;  // relative to the device root; "@" starts the pictures folder
    std::u16string handset;
};

TEST_F(PicturesMappingTest, HostFoldersMapBackToHandsetPaths) {
    const std::string pictures = root_.Host(TempDeviceRoot::kPicturesRelative);
    const BackCase cases[] = {
        {"PicturesItself", "@", u"\\My Documents\\\u30DE\u30A4 \u30D4\u30AF\u30C1\u30E3"},
        {"BelowPictures", "@/2009/June/",
         u"\\My Documents\\\u30DE\u30A4 \u30D4\u30AF\u30C1\u30E3\\2009\\June"},
        {"DeviceRootItself", "", u"\\"},
        {"InsideDeviceRoot", "My Documents/x", u"\\My Documents\\x"},
    };
    for (const BackCase& c : cases) {
        const std::string rel = c.hostBelowRoot;
        const std::string host =
            rel.rfind('@', 0) == 0 ? pictures + rel.substr(1) : root_.path() + "/" + rel;
        EXPECT_EQ(HandsetPathFor(host), c.handset) << c.name;
        std::string expected = host;
        while (expected.back() == '/') {
            expected.pop_back();
        }
        EXPECT_EQ(HostPathFor(c.handset), expected) << c.name << ": there and back";
    }
    // A folder that only starts like the pictures folder is not inside it.
    EXPECT_EQ(HandsetPathFor(pictures + "-old/a"), u"\\host-pictures-old\\a");
}

}  // namespace
