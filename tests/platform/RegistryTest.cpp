#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/registry/Registry.h"
#include "testkit/TempDeviceRoot.h"

using namespace platform;
using testsupport::TempDeviceRoot;

namespace {

class RegistryTest : public ::testing::Test {
protected:
    void Key(const std::string& path) {
        std::filesystem::create_directories(root_.Host("registry/HKLM/" + path));
    }
    void Value(const std::string& path, const std::string& contents) {
        root_.WriteFile("registry/HKLM/" + path, contents);
    }
    static std::unique_ptr<RegistryKey> Open(std::u16string_view path) {
        return RegistryKey::Open(RegistryRoot::LocalMachine, path);
    }
    static std::vector<std::u16string> SubkeysOf(RegistryKey& key) {
        std::vector<std::u16string> names;
        for (uint32_t i = 0;; ++i) {
            char16_t buffer[256];
            uint32_t units = 256;
            const RegistryResult r = key.EnumSubkey(i, buffer, &units);
            if (r != RegistryResult::Ok) {
                EXPECT_EQ(r, RegistryResult::NoMoreItems);
                return names;
            }
            names.emplace_back(buffer, units);
        }
    }

    TempDeviceRoot root_;
};

}  // namespace

TEST_F(RegistryTest, KeysAreFoldersFoundWithoutRegardToCase) {
    EXPECT_EQ(Open(u"Software\\Microsoft\\Bluetooth"), nullptr);
    Key("Software/Microsoft/Bluetooth");
    Value("Software/Microsoft/Bluetooth/Version", "2");
    EXPECT_NE(Open(u"Software\\Microsoft\\Bluetooth"), nullptr);
    EXPECT_NE(Open(u"SOFTWARE\\microsoft\\bluetooth\\"), nullptr);
    EXPECT_EQ(Open(u"Software\\Microsoft\\Bluetooth\\Version"), nullptr) << "a value is no key";
}

TEST_F(RegistryTest, SubkeysComeInNameOrderIgnoringCaseWithoutValues) {
    Key("Dev/beta");
    Key("Dev/Alpha");
    Key("Dev/GAMMA");
    Key("Dev/alpha2");
    Value("Dev/name", "not a key");
    auto key = Open(u"Dev");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(SubkeysOf(*key),
              (std::vector<std::u16string>{u"Alpha", u"alpha2", u"beta", u"GAMMA"}));
}

TEST_F(RegistryTest, SubkeyNameThatDoesNotFitAsksForMore) {
    Key("Dev/000a1b2c3d4e");
    auto key = Open(u"Dev");
    ASSERT_NE(key, nullptr);
    char16_t small[12];
    uint32_t units = 12;  // twelve characters need thirteen units
    EXPECT_EQ(key->EnumSubkey(0, small, &units), RegistryResult::MoreData);
    EXPECT_EQ(units, 13u);
    char16_t exact[13];
    EXPECT_EQ(key->EnumSubkey(0, exact, &units), RegistryResult::Ok);
    EXPECT_EQ(std::u16string(exact), u"000a1b2c3d4e");
    EXPECT_EQ(units, 12u);
    EXPECT_EQ(key->EnumSubkey(1, exact, &units), RegistryResult::NoMoreItems);
}

TEST_F(RegistryTest, StringValuesAreReadSizeFirstThenData) {
    Key("Dev");
    Value("Dev/name", "CAMORA \xE3\x82\xAB\r\n");  // UTF-8 text, line break not part of it
    auto key = Open(u"Dev");
    ASSERT_NE(key, nullptr);
    uint32_t units = 0;
    ASSERT_EQ(key->QueryString(u"NAME", nullptr, &units), RegistryResult::Ok);
    EXPECT_EQ(units, 9u);
    std::vector<char16_t> small(8, u'x');
    uint32_t smallUnits = 8;
    EXPECT_EQ(key->QueryString(u"name", small.data(), &smallUnits), RegistryResult::MoreData);
    EXPECT_EQ(smallUnits, 9u);
    EXPECT_EQ(small[0], u'x') << "nothing is written when it does not fit";
    std::vector<char16_t> data(units);
    ASSERT_EQ(key->QueryString(u"name", data.data(), &units), RegistryResult::Ok);
    EXPECT_EQ(std::u16string(data.data()), u"CAMORA \u30AB");
    EXPECT_EQ(key->QueryString(u"Port", nullptr, &units), RegistryResult::NotFound);
    EXPECT_EQ(key->QueryString(u"..\\name", nullptr, &units), RegistryResult::NotFound);
}

TEST_F(RegistryTest, AnInstalledViewTakesThePlaceOfTheFolderTree) {
    class OneKey final : public RegistryView {
    public:
        bool HasKey(RegistryRoot, std::u16string_view path) override { return path == u"Bt"; }
        std::vector<std::u16string> Subkeys(RegistryRoot, std::u16string_view) override {
            return {u"dev1"};
        }
        std::optional<std::u16string> StringValue(RegistryRoot, std::u16string_view,
                                                  std::u16string_view name) override {
            if (name == u"Port") {
                return u"COM8";
            }
            return std::nullopt;
        }
    };
    Key("Tree");
    SetRegistryView(std::make_shared<OneKey>());
    auto key = Open(u"Bt");
    const bool treeHidden = Open(u"Tree") == nullptr;
    SetRegistryView(nullptr);
    ASSERT_NE(key, nullptr);
    EXPECT_TRUE(treeHidden);
    EXPECT_EQ(SubkeysOf(*key), std::vector<std::u16string>{u"dev1"});
    char16_t port[8];
    uint32_t units = 8;
    ASSERT_EQ(key->QueryString(u"Port", port, &units), RegistryResult::Ok);
    EXPECT_EQ(std::u16string(port), u"COM8");
    EXPECT_NE(Open(u"Tree"), nullptr);
}
