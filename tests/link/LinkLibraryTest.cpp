// CamoraConnect loaded at run time, as the program loads it, over the
// simulated stack.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "link/DeviceRecord.h"
#include "platform/text/Text.h"
#include "tests/link/LinkTestSupport.h"

using namespace linktest;
using platform::Library;

namespace {

std::u16string Text(const char16_t* field, size_t capacity) {
    size_t n = 0;
    while (n < capacity && field[n] != 0) {
        ++n;
    }
    return std::u16string(field, n);
}

std::u16string NameOf(const DeviceRecord& r) {
    return Text(r.name, DeviceRecord::kNameLength);
}

std::vector<uint8_t> AddressBytes(int n) {
    return {0x00,
            0x11,
            0x22,
            0x33,
            static_cast<uint8_t>((n >> 8) & 0xFF),
            static_cast<uint8_t>(n & 0xFF)};
}

class LinkLibraryTest : public StackTest {
protected:
    void SetUp() override {
        StackTest::SetUp();
        library_ = Library::Load(u"CamoraConnect.dll");
        ASSERT_NE(library_, nullptr) << "libCamoraConnect.so must sit beside the test";
        start_ = library_->Find<StartLibraryFn>("StartLibrary");
        end_ = library_->Find<EndLibraryFn>("EndLibrary");
        first_ = library_->Find<GetDeviceFirstFn>("GetDeviceFirst");
        next_ = library_->Find<GetDeviceNextFn>("GetDeviceNext");
        connect_ = library_->Find<ConnectSppFn>("ConnectSpp");
        disconnect_ = library_->Find<DisconnectSppFn>("DisconnectSpp");
        ASSERT_TRUE(start_ && end_ && first_ && next_ && connect_ && disconnect_);
    }
    void TearDown() override {
        if (end_ != nullptr) {
            end_();
            disconnect_();
        }
        StackTest::TearDown();
    }

    // Paired names in the order GetDeviceFirst / GetDeviceNext give them.
    std::vector<std::u16string> Walk() {
        std::vector<std::u16string> names;
        DeviceRecord record{};
        for (int more = first_(&record); more != 0; more = next_(&record)) {
            names.push_back(NameOf(record));
        }
        return names;
    }

    int Connect(int device) {
        const auto address = AddressBytes(device);
        return connect_(address.data());
    }

    std::unique_ptr<Library> library_;
    StartLibraryFn start_ = nullptr;
    EndLibraryFn end_ = nullptr;
    GetDeviceFirstFn first_ = nullptr;
    GetDeviceNextFn next_ = nullptr;
    ConnectSppFn connect_ = nullptr;
    DisconnectSppFn disconnect_ = nullptr;
};

struct WalkCase {
    const char* label;
    std::vector<bool> paired;  // one device per flag, named D0, D1, ...
    std::vector<std::u16string> expected;
    friend void PrintTo(const WalkCase& c, std::ostream* os) { *os << c.label; }
};

class LinkLibraryWalkTest : public LinkLibraryTest,
                            public ::testing::WithParamInterface<WalkCase> {};

}  // namespace

TEST_P(LinkLibraryWalkTest, YieldsOnlyThePairedDevicesInTheStacksOrder) {
    std::string stack;
    for (size_t i = 0; i < GetParam().paired.size(); ++i) {
        const std::string name = std::string("D").append(std::to_string(i));
        stack += Device(static_cast<int>(i), name,
                        GetParam().paired[i] ? "paired = yes\n" : "paired = no\n");
    }
    WriteStack(stack);
    ASSERT_EQ(start_(), 1);
    EXPECT_EQ(Walk(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Walks, LinkLibraryWalkTest,
    ::testing::Values(WalkCase{"AllPaired", {true, true, true}, {u"D0", u"D1", u"D2"}},
                      WalkCase{"FirstUnpaired", {false, true, false, true}, {u"D1", u"D3"}},
                      WalkCase{"SeveralUnpairedFirst", {false, false, true}, {u"D2"}},
                      WalkCase{"LastUnpaired", {true, false}, {u"D0"}},
                      WalkCase{"NonePaired", {false, false}, {}}, WalkCase{"NoDevices", {}, {}}),
    [](const auto& p) { return std::string(p.param.label); });

TEST_F(LinkLibraryTest, RecordCarriesAddressNameAndFixedTexts) {
    WriteStack(Device(0x1A2, "CAMORA HD"));
    ASSERT_EQ(start_(), 1);
    DeviceRecord record;
    std::memset(&record, 0x5A, sizeof record);
    ASSERT_EQ(first_(&record), 1);
    EXPECT_EQ(NameOf(record), u"CAMORA HD");
    EXPECT_EQ(Text(record.portText, DeviceRecord::kPortTextLength), u"COM0");
    EXPECT_EQ(Text(record.addressText, DeviceRecord::kAddressTextLength), u"00:00:00:00:00:00");
    EXPECT_EQ(std::vector<uint8_t>(record.address, record.address + 6), AddressBytes(0x1A2));
}

TEST_F(LinkLibraryTest, EmptyNameGivesAnEmptyRecordName) {
    WriteStack(Device(1, ""));
    ASSERT_EQ(start_(), 1);
    DeviceRecord record;
    std::memset(&record, 0x5A, sizeof record);
    ASSERT_EQ(first_(&record), 1);
    EXPECT_EQ(record.name[0], u'\0');
}

TEST_F(LinkLibraryTest, NamesAreConvertedFromTheAnsiCodePageAndStayInsideTheRecord) {
    // 300 characters: the stack's field keeps 248 bytes, without a terminator.
    const std::string longAscii(300, 'N');
    // 130 double-byte characters: 260 bytes, cut to 124 whole characters.
    std::string longKana;
    for (int i = 0; i < 130; ++i) {
        longKana += "\xE3\x82\xAB";  // KATAKANA KA, two bytes in the code page
    }
    WriteStack(Device(1, longAscii) + Device(2, longKana) +
               Device(3,
                      "\xE3\x82\xAB"
                      "ME"));
    ASSERT_EQ(start_(), 1);

    // Guard bytes right behind the record show any write past it.
    struct Guarded {
        DeviceRecord record;
        uint8_t guard[64];
    } g;
    std::memset(&g, 0x5A, sizeof g);
    ASSERT_EQ(first_(&g.record), 1);
    EXPECT_EQ(NameOf(g.record), std::u16string(248, u'N'));
    ASSERT_EQ(next_(&g.record), 1);
    EXPECT_EQ(NameOf(g.record), std::u16string(124, u'\u30AB'));
    ASSERT_EQ(next_(&g.record), 1);
    EXPECT_EQ(NameOf(g.record),
              u"\u30AB"
              u"ME");
    for (uint8_t b : g.guard) {
        ASSERT_EQ(b, 0x5A);
    }
    EXPECT_EQ(Text(g.record.portText, DeviceRecord::kPortTextLength), u"COM0");
}

TEST_F(LinkLibraryTest, EveryExportAnswersZeroWhenNotStartedOrGivenNull) {
    WriteStack(Device(1, "CAM", "com-port = 4\n"));
    DeviceRecord record{};
    const auto address = AddressBytes(1);
    EXPECT_EQ(first_(&record), 0);
    EXPECT_EQ(next_(&record), 0);
    EXPECT_EQ(connect_(address.data()), 0);
    EXPECT_EQ(end_(), 0);
    EXPECT_EQ(disconnect_(), 0);
    ASSERT_EQ(start_(), 1);
    EXPECT_EQ(first_(nullptr), 0);
    EXPECT_EQ(next_(nullptr), 0);
    EXPECT_TRUE(LogOf("CreateConnection").empty());
}

TEST_F(LinkLibraryTest, ConnectWithNullAddressSendsNothingToTheStack) {
    WriteStack(Device(1, "CAM", "com-port = 4\n"));
    ASSERT_EQ(start_(), 1);
    const auto before = Stack().Log();
    EXPECT_EQ(connect_(nullptr), 0);
    EXPECT_EQ(Stack().Log(), before);
}

TEST_F(LinkLibraryTest, ConnectDiscoversThenConnectsAndReportsThePort) {
    WriteStack("[stack]\ndiscovery-delay-ms = 30\n" +
               Device(7, "CAM", "com-port = 4\nconnect-delay-ms = 30\n"));
    ASSERT_EQ(start_(), 1);
    EXPECT_EQ(Connect(7), 4);
    const std::string address = Address(7);
    // The discovery's end is awaited before the records are read.
    const std::vector<std::string> expected = {
        "StartDiscovery " + address,       "DiscoveryComplete",
        "ReadDiscoveryRecords " + address, "CreateConnection " + address + " Serial Port",
        "ClientStateChange 0 4",
    };
    std::vector<std::string> calls;
    for (const auto& line : Stack().Log()) {
        if (line != "OpenInterface" && line != "KnownDevices") {
            calls.push_back(line);
        }
    }
    EXPECT_EQ(calls, expected);
}

TEST_F(LinkLibraryTest, AlreadyConnectedTakesTheLastReportedPortWithoutWaiting) {
    WriteStack(Device(3, "CAM", "com-port = 6\n"));
    ASSERT_EQ(start_(), 1);
    ASSERT_EQ(Connect(3), 6);
    // The connection outlives EndLibrary; the stack now answers "already
    // connected" and sends no notification, which a wait would sit out.
    ASSERT_EQ(end_(), 1);
    WriteStack(Device(3, "CAM", "com-port = 9\nconnect-delay-ms = 60000\n"));
    ASSERT_EQ(start_(), 1);
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(Connect(3), 6);
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(10));
    EXPECT_EQ(LogOf("ClientStateChange").size(), 1u);
}

TEST_F(LinkLibraryTest, ForcedAlreadyConnectedAnswerAlsoTakesTheLastPort) {
    WriteStack(Device(3, "CAM", "com-port = 5\n"));
    ASSERT_EQ(start_(), 1);
    ASSERT_EQ(Connect(3), 5);
    disconnect_();
    WriteStack(Device(3, "CAM", "com-port = 8\nconnect-result = 2\n"));
    ASSERT_EQ(end_(), 1);
    ASSERT_EQ(start_(), 1);
    EXPECT_EQ(Connect(3), 5);
}

TEST_F(LinkLibraryTest, NegativePortGivesZero) {
    WriteStack(Device(2, "CAM", "com-port = -3\n"));
    ASSERT_EQ(start_(), 1);
    EXPECT_EQ(Connect(2), 0);
    EXPECT_EQ(LogOf("ClientStateChange"), std::vector<std::string>{"ClientStateChange 0 -3"});
}

TEST_F(LinkLibraryTest, FailedAttemptDoesNotReturnAnEarlierConnectionsPort) {
    WriteStack(Device(2, "CAM", "com-port = 5\n"));
    ASSERT_EQ(start_(), 1);
    ASSERT_EQ(Connect(2), 5);
    disconnect_();
    WriteStack(Device(2, "CAM", "com-port = 5\nconnect-state = 2\n"));
    ASSERT_EQ(end_(), 1);
    ASSERT_EQ(start_(), 1);
    EXPECT_EQ(Connect(2), 0);
}

TEST_F(LinkLibraryTest, RefusedOrMissingServiceGivesZero) {
    WriteStack(Device(1, "NOSPP", "serial-port = no\ncom-port = 4\n") +
               Device(2, "REFUSES", "connect-result = 3\ncom-port = 4\n"));
    ASSERT_EQ(start_(), 1);
    EXPECT_EQ(Connect(1), 0);
    EXPECT_TRUE(LogOf("CreateConnection").empty()) << "no service record, no connection attempt";
    EXPECT_EQ(Connect(2), 0);
    EXPECT_EQ(Connect(99), 0);  // a device the stack does not know
}

TEST_F(LinkLibraryTest, EndLibraryTwiceAnswersZeroTheSecondTime) {
    ASSERT_EQ(start_(), 1);
    EXPECT_EQ(end_(), 1);
    EXPECT_EQ(end_(), 0);
    EXPECT_EQ(LogOf("ShutDown").size(), 1u);
    EXPECT_EQ(Stack().OpenInterfaces(), 0);
}

TEST_F(LinkLibraryTest, StartLibraryTwiceKeepsOneInterfaceObject) {
    EXPECT_EQ(start_(), 1);
    EXPECT_EQ(start_(), 1);
    EXPECT_EQ(Stack().OpenInterfaces(), 1);
    EXPECT_EQ(LogOf("OpenInterface").size(), 1u);
}

TEST_F(LinkLibraryTest, DiscoveryThatNeverEndsIsGivenUpAfterTheLimit) {
    platform::SetTimeScale(1000.0);  // the 30 s limit passes in 30 ms
    WriteStack("[stack]\ndiscovery = never\n" + Device(1, "CAM", "com-port = 4\n"));
    ASSERT_EQ(start_(), 1);
    EXPECT_EQ(Connect(1), 4);
    EXPECT_EQ(LogOf("CreateConnection").size(), 1u);
}

TEST_F(LinkLibraryTest, ConnectionNotificationThatNeverComesGivesZeroAfterTheLimit) {
    platform::SetTimeScale(1000.0);
    WriteStack(Device(1, "CAM", "com-port = 4\nconnect-notifies = no\n"));
    ASSERT_EQ(start_(), 1);
    EXPECT_EQ(Connect(1), 0);
}

TEST_F(LinkLibraryTest, RefusedDiscoveryIsNotAwaited) {
    WriteStack("[stack]\ndiscovery = refused\n" + Device(1, "CAM", "com-port = 4\n"));
    ASSERT_EQ(start_(), 1);
    EXPECT_EQ(Connect(1), 4);
    EXPECT_TRUE(LogOf("DiscoveryComplete").empty());
}

TEST_F(LinkLibraryTest, WithoutADiscoveryEventTheDiscoveryIsSkipped) {
    WriteStack(Device(1, "CAM", "com-port = 4\n"));
    platform::FailNextCreations(1);  // the interface object's event
    ASSERT_EQ(start_(), 1);
    platform::FailNextCreations(0);
    EXPECT_EQ(Connect(1), 4);
    EXPECT_TRUE(LogOf("StartDiscovery").empty());
}
