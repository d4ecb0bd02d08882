#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cmath>
#include <filesystem>

#include "platform/library/Library.h"
#include "testkit/TempDeviceRoot.h"

using namespace platform;

namespace {

class LibraryTest : public ::testing::Test {
protected:
    void TearDown() override { OverrideLibraryFolder(""); }
};

}  // namespace

TEST_F(LibraryTest, HandsetNamesBecomeSharedObjectsInTheExecutablesFolder) {
    const std::string folder = LibraryFolder();
    EXPECT_TRUE(std::filesystem::exists(folder + "/platform_library_test"));
    EXPECT_EQ(HostLibraryPathFor(u"CamoraConnect.dll"), folder + "/libCamoraConnect.so");
    EXPECT_EQ(HostLibraryPathFor(u"CamoraConnect.DLL"), folder + "/libCamoraConnect.so");
    EXPECT_EQ(HostLibraryPathFor(u"\\Windows\\Other.dll"), folder + "/libOther.so");
    EXPECT_EQ(HostLibraryPathFor(u"plain"), folder + "/libplain.so");
}

TEST_F(LibraryTest, MissingLibraryGivesNull) {
    testsupport::TempDeviceRoot empty;
    OverrideLibraryFolder(empty.path());
    EXPECT_EQ(Library::Load(u"CamoraConnect.dll"), nullptr);
}

TEST_F(LibraryTest, ExportsAreFoundByNameAndMissingOnesAreNull) {
    // The C maths library stands in for any library: linked beside as libmaths.so.
    Dl_info info{};
    double (*cosine)(double) = &::cos;
    ASSERT_NE(dladdr(reinterpret_cast<void*>(cosine), &info), 0);
    testsupport::TempDeviceRoot folder;
    std::filesystem::create_symlink(info.dli_fname, folder.Host("libmaths.so"));
    OverrideLibraryFolder(folder.path());

    auto library = Library::Load(u"maths.dll");
    ASSERT_NE(library, nullptr);
    auto found = library->Find<double (*)(double)>("cos");
    ASSERT_NE(found, nullptr);
    EXPECT_DOUBLE_EQ(found(0.0), 1.0);
    EXPECT_EQ(library->FindExport("NoSuchExport"), nullptr);
    EXPECT_EQ(library->FindExport(nullptr), nullptr);
}
