// The link loader over the real CamoraConnect library and the simulated stack.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "link/LinkLoader.h"
#include "testkit/PtyPair.h"
#include "tests/link/LinkTestSupport.h"

using namespace linktest;
using testsupport::PtyPair;

namespace {

class LinkLoaderTest : public StackTest {
protected:
    std::u16string Name(const CLinkLoader& loader, int index) {
        std::u16string name, port;
        loader.GetDevice(index, name, port);
        return name;
    }
    std::u16string Selected(const CLinkLoader& loader) {
        std::u16string name;
        loader.GetSelectedName(name);
        return name;
    }
    // Writes one byte through the loader's port and reads it at the peer.
    static bool ByteReachesPeer(const CLinkLoader& loader, const PtyPair& pty) {
        const auto port = loader.GetPortHandle();
        if (!port) {
            return false;
        }
        const uint8_t byte = 0xA5;
        uint32_t written = 0;
        if (!port->Write(&byte, 1, &written) || written != 1) {
            return false;
        }
        return pty.PeerRead(1, 5000) == std::vector<uint8_t>{0xA5};
    }
};

struct InstalledCase {
    const char* file;
    int expected;
    friend void PrintTo(const InstalledCase& c, std::ostream* os) { *os << '"' << c.file << '"'; }
};

class SdkProbeTest : public ::testing::TestWithParam<InstalledCase> {};

struct PortCase {
    int number;
    const char* name;
    friend void PrintTo(const PortCase& c, std::ostream* os) { *os << c.number << " " << c.name; }
};

class LoaderPortTest : public LinkLoaderTest, public ::testing::WithParamInterface<PortCase> {};

}  // namespace

TEST_P(SdkProbeTest, FindsTheSdkLibraryInTheWindowsFolder) {
    testsupport::TempDeviceRoot root;
    if (*GetParam().file != '\0') {
        root.WriteFile(GetParam().file, "");
    }
    EXPECT_EQ(CLinkLoader::IsSdkStackInstalled(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Files, SdkProbeTest,
                         ::testing::Values(InstalledCase{"", 0},
                                           InstalledCase{"Windows/BtSdkCE50.dll", 1},
                                           InstalledCase{"windows/btsdkce50.DLL", 1},
                                           InstalledCase{"Windows/BtSdkCE50", 1},
                                           InstalledCase{"Windows/BtSdkCE5.dll", 0},
                                           InstalledCase{"Windows/sdk/BtSdkCE50.dll", 0},
                                           InstalledCase{"BtSdkCE50.dll", 0}));

TEST(LinkLoaderNaming, PortNumbersBelowTenAreComPortsTheOthersBtcPorts) {
    EXPECT_EQ(CLinkLoader::PortName(0), u"COM0:");
    EXPECT_EQ(CLinkLoader::PortName(4), u"COM4:");
    EXPECT_EQ(CLinkLoader::PortName(9), u"COM9:");
    EXPECT_EQ(CLinkLoader::PortName(10), u"BTC0:");
    EXPECT_EQ(CLinkLoader::PortName(13), u"BTC3:");
    EXPECT_EQ(CLinkLoader::PortName(29), u"BTC19:");
}

TEST_F(LinkLoaderTest, WithoutTheLibraryTheListIsEmptyAndOpenPortFails) {
    std::filesystem::create_directories(root_.Host("no-libraries"));
    platform::OverrideLibraryFolder(root_.Host("no-libraries"));
    WriteStack(Device(1, "CAM", "com-port = 4\n"));
    CLinkLoader loader;
    EXPECT_EQ(loader.IsAvailable(), 1);
    loader.EnumerateDevices();
    for (int i = 0; i < CLinkLoader::kDeviceCount; ++i) {
        ASSERT_EQ(Name(loader, i), u"") << i;
    }
    loader.SelectDevice(u"");
    EXPECT_EQ(loader.OpenPort(), 0);
    EXPECT_EQ(loader.GetPortHandle(), nullptr);
    loader.Disconnect();
    EXPECT_TRUE(Stack().Log().empty());
}

TEST_F(LinkLoaderTest, MissingExportsDisableOnlyTheOperationsThatNeedThem) {
    const std::string partial = platform::LibraryFolder() + "/partial-link";
    ASSERT_TRUE(std::filesystem::exists(partial + "/libCamoraConnect.so"));
    platform::OverrideLibraryFolder(partial);
    CLinkLoader loader;
    auto probe = platform::Library::Load(u"CamoraConnect.dll");
    ASSERT_NE(probe, nullptr);
    auto starts = probe->Find<int (*)()>("PartialStarts");
    auto ends = probe->Find<int (*)()>("PartialEnds");
    ASSERT_TRUE(starts && ends);

    loader.EnumerateDevices();
    EXPECT_EQ(Name(loader, 0), u"PARTIAL");
    EXPECT_EQ(starts(), 1);
    EXPECT_EQ(ends(), 1);
    loader.SelectDevice(u"PARTIAL");
    EXPECT_EQ(loader.OpenPort(), 0);
    EXPECT_EQ(starts(), 1) << "OpenPort without ConnectSpp must not start the library";
    loader.Disconnect();
    EXPECT_EQ(starts(), 2);
    EXPECT_EQ(ends(), 2);
}

TEST_P(LoaderPortTest, OpensThePortNamedAfterTheConnectedNumber) {
    PtyPair pty;
    pty.LinkAs(root_.path(), GetParam().name);
    WriteStack(Device(1, "CAM", "com-port = " + std::to_string(GetParam().number) + "\n"));
    CLinkLoader loader;
    loader.EnumerateDevices();
    loader.SelectDevice(u"CAM");
    EXPECT_EQ(loader.OpenPort(), 1);
    EXPECT_TRUE(ByteReachesPeer(loader, pty)) << GetParam().name;
    loader.Disconnect();
    EXPECT_EQ(LogOf("RemoveConnection").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Numbers, LoaderPortTest,
                         ::testing::Values(PortCase{0, "COM0"}, PortCase{4, "COM4"},
                                           PortCase{9, "COM9"}, PortCase{12, "BTC2"},
                                           PortCase{13, "BTC3"}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(LinkLoaderTest, AFailedOpenKeepsTheEarlierPort) {
    PtyPair pty;
    pty.LinkAs(root_.path(), "COM4");
    WriteStack(Device(1, "CAM", "com-port = 4\n"));
    CLinkLoader loader;
    loader.EnumerateDevices();
    loader.SelectDevice(u"CAM");
    ASSERT_EQ(loader.OpenPort(), 1);
    const auto first = loader.GetPortHandle();
    ASSERT_NE(first, nullptr);
    loader.Disconnect();
    WriteStack(Device(1, "CAM", "com-port = 5\n"));  // nothing behind COM5:
    EXPECT_EQ(loader.OpenPort(), 1);
    EXPECT_EQ(loader.GetPortHandle(), first);
    loader.Disconnect();
}

TEST_F(LinkLoaderTest, TwoDevicesOfOneNameSelectTheFirst) {
    WriteStack(Device(1, "OTHER") + Device(2, "CAM", "com-port = 4\n") +
               Device(3, "CAM", "com-port = 4\n"));
    CLinkLoader loader;
    loader.EnumerateDevices();
    loader.SelectDevice(u"CAM");
    EXPECT_EQ(Selected(loader), u"CAM");
    loader.OpenPort();
    EXPECT_EQ(LogOf("CreateConnection"),
              std::vector<std::string>{"CreateConnection " + Address(2) + " Serial Port"});
    loader.Disconnect();
}

TEST_F(LinkLoaderTest, SelectionComparesNamesExactlyAndKeepsTheLastMatch) {
    WriteStack(Device(1, "CAM") + Device(2, "Other"));
    CLinkLoader loader;
    EXPECT_EQ(Selected(loader), u"");
    loader.EnumerateDevices();
    loader.SelectDevice(u"Other");
    loader.SelectDevice(u"cam");
    loader.SelectDevice(u"NONE");
    EXPECT_EQ(Selected(loader), u"Other");
}

TEST_F(LinkLoaderTest, ASecondEnumerationThatFindsFewerLeavesTheRestInPlace) {
    WriteStack(Device(1, "ONE") + Device(2, "TWO") + Device(3, "THREE"));
    CLinkLoader loader;
    loader.EnumerateDevices();
    WriteStack(Device(4, "FOUR") + Device(5, "FIVE"));
    loader.EnumerateDevices();
    EXPECT_EQ(Name(loader, 0), u"FOUR");
    EXPECT_EQ(Name(loader, 1), u"FIVE");
    EXPECT_EQ(Name(loader, 2), u"THREE");
    EXPECT_EQ(Name(loader, 3), u"");
    std::u16string name = u"x", port = u"x";
    loader.GetDevice(CLinkLoader::kDeviceCount, name, port);
    EXPECT_EQ(name, u"");
    EXPECT_EQ(port, u"");
    loader.GetDevice(-1, name, port);
    EXPECT_EQ(name, u"");
}

TEST_F(LinkLoaderTest, AHundredAndFirstDeviceIsNotWrittenPastTheTable) {
    WriteStack(Device(1000, "FIRST"));
    CLinkLoader loader;
    loader.EnumerateDevices();
    loader.SelectDevice(u"FIRST");
    std::string stack;
    for (int i = 0; i <= 100; ++i) {
        char name[16];  // room for any int, as the compiler cannot see i's bounds
        std::snprintf(name, sizeof name, "DEV%03d", i);
        stack += Device(i, name);
    }
    WriteStack(stack);
    loader.EnumerateDevices();
    EXPECT_EQ(Name(loader, 99), u"DEV099");
    // The selected record follows the table: a 101st record would land there.
    EXPECT_EQ(Selected(loader), u"FIRST");
    std::u16string name, port;
    loader.GetDevice(0, name, port);
    EXPECT_EQ(port, u"COM0");
}
