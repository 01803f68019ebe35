#include "shell/settings_store.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace chwr {
namespace {

constexpr std::string_view kTestKey = "Software\\Test";

// A scripted registry with one key whose values the test sets byte for byte.
class SettingsStoreTest : public ::testing::Test {
protected:
    void put(std::string_view name, RegistryValueType type, Bytes data)
    {
        auto key = registry.createKey(RegistryRoot::CurrentUser, kTestKey);
        ASSERT_TRUE(key);
        ASSERT_TRUE((*key)->setValue(name, {type, std::move(data)}));
    }
    RegistryValue stored(std::string_view root, std::string_view name) const
    {
        const RegistryFileKey* key = registry.contents().findKey(root);
        if (key)
            for (const RegistryFileValue& value : key->values)
                if (value.name == name)
                    return value.value;
        ADD_FAILURE() << "no value " << name;
        return {};
    }
    // What ReadRegValue leaves in a text that starts as "unchanged".
    std::pair<bool, std::string> read(std::string_view name) const
    {
        std::string text = "unchanged";
        bool ok = store.ReadRegValue(RegistryRoot::CurrentUser, kTestKey, name, text);
        return {ok, text};
    }

    MemoryRegistry registry;
    SettingsStore store{registry};
};

using Read = std::pair<bool, std::string>;

TEST_F(SettingsStoreTest, AValueNeverWrittenReadsAsAbsent)
{
    EXPECT_EQ(read("CHWR-DBPath"), Read(false, "unchanged")); // no key at all
    put("Other", RegistryValueType::String, {'x'});
    EXPECT_EQ(read("CHWR-DBPath"), Read(false, "unchanged")); // key, no value
    EXPECT_EQ(store.readSetting(kDbPathSetting), "");
}

TEST_F(SettingsStoreTest, StringsReadTheSameWithAndWithoutTheirTerminatingZero)
{
    put("With", RegistryValueType::String, {'u', 's', 'e', 'r', '1', 0});
    put("Without", RegistryValueType::String, {'u', 's', 'e', 'r', '1'});
    put("Two zeros", RegistryValueType::String, {'a', 0, 0});
    put("Empty", RegistryValueType::String, {});
    put("Only zero", RegistryValueType::String, {0});

    EXPECT_EQ(read("With"), Read(true, "user1"));
    EXPECT_EQ(read("Without"), Read(true, "user1"));
    EXPECT_EQ(read("Two zeros"), Read(true, std::string("a\0", 2))); // only the last byte goes
    EXPECT_EQ(read("Empty"), Read(true, ""));
    EXPECT_EQ(read("Only zero"), Read(true, ""));
}

TEST_F(SettingsStoreTest, NumbersReadAsAmpersandHWithTheirOwnDigitRule)
{
    put("One", RegistryValueType::Number32, {0x01, 0x00, 0x00, 0x00});
    put("Small bytes", RegistryValueType::Number32, {0x0D, 0x0C, 0x0B, 0x0A});
    put("Large bytes", RegistryValueType::Number32, {0x78, 0x56, 0x34, 0x12});
    put("Zero", RegistryValueType::Number32, {0x00, 0x00, 0x00, 0x00});

    // The most significant 0 byte is dropped like a string's terminator; bytes below
    // 0x0A get two digits, 0x0A to 0x0F one letter.
    EXPECT_EQ(read("One"), Read(true, "&h000001"));
    EXPECT_EQ(read("Small bytes"), Read(true, "&hABCD"));
    EXPECT_EQ(read("Large bytes"), Read(true, "&h12345678"));
    EXPECT_EQ(read("Zero"), Read(true, "&h000000"));
}

TEST_F(SettingsStoreTest, OtherTypesReadButLeaveTheTextAlone)
{
    put("Expandable", RegistryValueType::ExpandString, {'%', 'X', '%', 0});
    put("Binary", RegistryValueType::Binary, {'a', 'b'});
    put("Several", RegistryValueType::MultiString, {'a', 0, 0});

    EXPECT_EQ(read("Expandable"), Read(true, "unchanged"));
    EXPECT_EQ(read("Binary"), Read(true, "unchanged"));
    EXPECT_EQ(read("Several"), Read(true, "unchanged"));
}

TEST_F(SettingsStoreTest, AValueLongerThanTheBufferCannotBeRead)
{
    put("Fits", RegistryValueType::String, Bytes(kRegValueBufferBytes, 'a'));
    put("Too long", RegistryValueType::String, Bytes(kRegValueBufferBytes + 1, 'a'));

    EXPECT_EQ(read("Fits"), Read(true, std::string(kRegValueBufferBytes, 'a')));
    EXPECT_EQ(read("Too long"), Read(false, "unchanged"));
}

TEST_F(SettingsStoreTest, StringsAreStoredWithoutTheirZeroAndTheKeyIsCreated)
{
    std::string one = "1";
    ASSERT_TRUE(store.WriteRegValue(RegistryRoot::LocalMachine, kProgramKey, RegistryValueType::String,
                                    kDbOptionSetting, one));
    EXPECT_EQ(one, "1");
    EXPECT_EQ(stored("HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewood\\CHWR\\1.0", "CHWR-DBOption"),
              (RegistryValue{RegistryValueType::String, {'1'}}));

    std::string empty;
    ASSERT_TRUE(store.WriteRegValue(RegistryRoot::LocalMachine, kProgramKey, RegistryValueType::String,
                                    kDbHotSyncIdSetting, empty));
    EXPECT_EQ(stored("HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewood\\CHWR\\1.0", "CHWR-DBHOTSYNCID").data,
              Bytes{});
    EXPECT_EQ(store.readSetting(kDbHotSyncIdSetting), "");
}

TEST_F(SettingsStoreTest, BinaryAndNumbersAreStoredAsTheirType)
{
    std::string bytes = "ab";
    ASSERT_TRUE(
        store.WriteRegValue(RegistryRoot::CurrentUser, kTestKey, RegistryValueType::Binary, "B", bytes));
    EXPECT_EQ(stored("HKEY_CURRENT_USER\\Software\\Test", "B"),
              (RegistryValue{RegistryValueType::Binary, {'a', 'b'}}));

    std::string decimal = "-2";
    ASSERT_TRUE(
        store.WriteRegValue(RegistryRoot::CurrentUser, kTestKey, RegistryValueType::Number32, "N", decimal));
    EXPECT_EQ(stored("HKEY_CURRENT_USER\\Software\\Test", "N").data, (Bytes{0xFE, 0xFF, 0xFF, 0xFF}));

    // The text ReadRegValue gives back is accepted again.
    std::string hex = "&h0A0B0C0D";
    ASSERT_TRUE(
        store.WriteRegValue(RegistryRoot::CurrentUser, kTestKey, RegistryValueType::Number32, "H", hex));
    EXPECT_EQ(read("H"), Read(true, "&hABCD"));
}

TEST_F(SettingsStoreTest, AFailedWriteEmptiesTheCallersValue)
{
    for (std::string bad : {std::string("twelve"), std::string("4294967296"), std::string("")}) {
        std::string value = bad;
        EXPECT_FALSE(
            store.WriteRegValue(RegistryRoot::CurrentUser, kTestKey, RegistryValueType::Number32, "N", value))
            << bad;
        EXPECT_EQ(value, "");
    }
    std::string unknownType = "x";
    EXPECT_FALSE(store.WriteRegValue(RegistryRoot::CurrentUser, kTestKey, RegistryValueType::MultiString, "M",
                                     unknownType));
    EXPECT_EQ(unknownType, "");

    std::string tooLong(kRegValueBufferBytes + 1, 'p');
    EXPECT_FALSE(
        store.WriteRegValue(RegistryRoot::CurrentUser, kTestKey, RegistryValueType::String, "P", tooLong));
    EXPECT_EQ(tooLong, "");
    EXPECT_EQ(read("P"), Read(false, "unchanged"));

    registry.refuseWrites("Access is denied");
    std::string refused = "1";
    EXPECT_FALSE(store.writeSetting(kDbOptionSetting, refused));
    EXPECT_FALSE(store.WriteRegValue(RegistryRoot::LocalMachine, kProgramKey, RegistryValueType::String,
                                     kDbOptionSetting, refused));
    EXPECT_EQ(refused, "");
    EXPECT_EQ(store.readSetting(kDbOptionSetting), "");
}

class SettingsFileTest : public test::TempFolderTest {};

TEST_F(SettingsFileTest, SettingsLiveInTheRegistryFile)
{
    auto registry = makeUserRegistry();
    SettingsStore store(*registry);
    ASSERT_TRUE(store.writeSetting(kDbPathSetting, "/home/me/MIDI Ring Tones.pdb"));

    auto again = makeUserRegistry();
    EXPECT_EQ(SettingsStore(*again).readSetting(kDbPathSetting), "/home/me/MIDI Ring Tones.pdb");
    EXPECT_THAT(asString(readFile(path("registry.reg"))),
                ::testing::HasSubstr("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewood\\CHWR\\1.0]\n"
                                     "\"CHWR-DBPath\"=\"/home/me/MIDI Ring Tones.pdb\"\n"));
}

} // namespace
} // namespace chwr
