// What the settings class does over any store: root names, Empty against empty text, value
// types, NUL handling, and that every key it opens is closed again.
#include "ClsQvnRegSuite.h"

#include <gmock/gmock.h>

#include <climits>
#include <cstdint>
#include <vector>

#include "TextCodec.h"

namespace kestrove::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;
using Bytes = std::vector<std::uint8_t>;

const std::u16string kPath = u"Software\\Brannoc\\Kestrove";

RegistryValue Sz(Bytes data) {
    return {kRegSz, std::move(data)};
}
RegistryValue Dword(Bytes data) {
    return {kRegDword, std::move(data)};
}

TEST(ResolveRootKey, OnlyTheFourExactNamesSelectARoot) {
    EXPECT_EQ(ResolveRootKey(u"HKEY_CLASSES_ROOT"), RegistryRoot::ClassesRoot);
    EXPECT_EQ(ResolveRootKey(u"HKEY_CURRENT_USER"), RegistryRoot::CurrentUser);
    EXPECT_EQ(ResolveRootKey(u"HKEY_LOCAL_MACHINE"), RegistryRoot::LocalMachine);
    EXPECT_EQ(ResolveRootKey(u"HKEY_USERS"), RegistryRoot::Users);
    EXPECT_EQ(static_cast<std::uint32_t>(ResolveRootKey(u"HKEY_CURRENT_USER")), 0x80000001u);
    for (const std::u16string& name :
         {std::u16string(u"hkey_current_user"), std::u16string(u"HKEY_CURRENT_USER "),
          std::u16string(u" HKEY_USERS"), std::u16string(u"HKCU"), std::u16string(),
          std::u16string(u"HKEY_CURRENT_CONFIG"), std::u16string(u"HKEY_USERS\0", 11)}) {
        EXPECT_EQ(ResolveRootKey(name), RegistryRoot::None);
    }
}

TEST_P(ClsQvnRegSuite, UnrecognisedRootNamesChangeAndReadNothing) {
    reg().SaveString(kHkcu, P(kPath), u"Key", u"1887");
    reg().SaveDWord(kHkcu, P(kPath), u"Count", 7);
    for (const std::u16string bad : {u"hkey_current_user", u"HKEY_CURRENT_USER ", u"HKCU", u""}) {
        EXPECT_EQ(reg().GetString(bad, P(kPath), u"Key"), std::nullopt);
        EXPECT_EQ(reg().GetDWord(bad, P(kPath), u"Count"), 0);
        reg().SaveString(bad, P(kPath), u"Key", u"changed");
        reg().SaveDWord(bad, P(kPath), u"Count", 99);
        reg().CreatKey(bad, P(u"Other"));
        reg().DeleteValue(bad, P(kPath), u"Count");
        reg().DeleteKey(bad, P(kPath));
    }
    EXPECT_EQ(reg().GetString(kHkcu, P(kPath), u"Key"), u"1887");
    EXPECT_EQ(reg().GetDWord(kHkcu, P(kPath), u"Count"), 7);
    EXPECT_FALSE(KeyExists(P(u"Other")));
}

TEST_P(ClsQvnRegSuite, MissingKeyOrValueReadsAsEmptyAndCreatesNothing) {
    EXPECT_EQ(reg().GetString(kHkcu, P(u"Nope\\Deeper"), u"Key"), std::nullopt);
    EXPECT_EQ(reg().GetDWord(kHkcu, P(u"Nope\\Deeper"), u"Key"), 0);
    EXPECT_FALSE(KeyExists(P(u"Nope")));

    reg().CreatKey(kHkcu, P(u"Present"));
    EXPECT_EQ(reg().GetString(kHkcu, P(u"Present"), u"Missing"), std::nullopt);
    EXPECT_EQ(reg().GetDWord(kHkcu, P(u"Present"), u"Missing"), 0);
}

TEST_P(ClsQvnRegSuite, StringIsReadUpToItsFirstNulWithOrWithoutTerminator) {
    WriteRaw(P(kPath), u"Bare", Sz({'1', 0, '8', 0, '8', 0, '7', 0}));
    WriteRaw(P(kPath), u"Terminated", Sz({'1', 0, '8', 0, '8', 0, '7', 0, 0, 0}));
    WriteRaw(P(kPath), u"Inner", Sz({'1', 0, '2', 0, 0, 0, '3', 0, '4', 0}));
    WriteRaw(P(kPath), u"Leading", Sz({0, 0, '3', 0}));
    WriteRaw(P(kPath), u"Odd", Sz({'a', 0, 'b'}));  // the half code unit is no text
    EXPECT_EQ(reg().GetString(kHkcu, P(kPath), u"Bare"), u"1887");
    EXPECT_EQ(reg().GetString(kHkcu, P(kPath), u"Terminated"), u"1887");
    EXPECT_EQ(reg().GetString(kHkcu, P(kPath), u"Inner"), u"12");
    EXPECT_EQ(reg().GetString(kHkcu, P(kPath), u"Leading"), u"");
    EXPECT_EQ(reg().GetString(kHkcu, P(kPath), u"Odd"), u"a");
}

TEST_P(ClsQvnRegSuite, EmptyStringValueIsEmptyTextNotEmpty) {
    reg().SaveString(kHkcu, P(kPath), u"Saved", u"");
    WriteRaw(P(kPath), u"NoData", Sz({}));
    WriteRaw(P(kPath), u"OnlyNul", Sz({0, 0}));
    for (const auto* name : {u"Saved", u"NoData", u"OnlyNul"}) {
        const auto text = reg().GetString(kHkcu, P(kPath), name);
        ASSERT_TRUE(text.has_value()) << "value " << Utf16ToUtf8(name);
        EXPECT_EQ(*text, u"");
    }
}

TEST_P(ClsQvnRegSuite, OnlyPlainStringValuesAreReadAsText) {
    reg().SaveDWord(kHkcu, P(kPath), u"Number", 5);
    WriteRaw(P(kPath), u"Expand", {2, {'a', 0, 0, 0}});
    WriteRaw(P(kPath), u"Multi", {7, {'a', 0, 0, 0, 0, 0}});
    WriteRaw(P(kPath), u"Binary", {3, {'a', 0}});
    for (const auto* name : {u"Number", u"Expand", u"Multi", u"Binary"}) {
        EXPECT_EQ(reg().GetString(kHkcu, P(kPath), name), std::nullopt) << Utf16ToUtf8(name);
    }
}

TEST_P(ClsQvnRegSuite, SaveStringCreatesEveryLevelAndStoresCodeUnitsWithoutTerminator) {
    reg().SaveString(kHkcu, P(u"A\\B\\C"), u"Key", u"1887");
    EXPECT_TRUE(KeyExists(P(u"A")));
    EXPECT_TRUE(KeyExists(P(u"A\\B")));
    EXPECT_TRUE(KeyExists(P(u"A\\B\\C")));
    const auto raw = ReadRaw(P(u"A\\B\\C"), u"Key");
    ASSERT_TRUE(raw.has_value());
    EXPECT_EQ(raw->type, kRegSz);
    EXPECT_THAT(raw->data, ElementsAre('1', 0, '8', 0, '8', 0, '7', 0));
    EXPECT_EQ(reg().GetString(kHkcu, P(u"A\\B\\C"), u"Key"), u"1887");
}

TEST_P(ClsQvnRegSuite, TextOutsideAsciiRoundTripsAsUtf16) {
    const std::u16string text = u"中文 ü \U0001F600";
    reg().SaveString(kHkcu, P(kPath), u"名字", text);
    EXPECT_EQ(reg().GetString(kHkcu, P(kPath), u"名字"), text);
    reg().SaveString(kHkcu, P(kPath), u"Han", u"中");
    const auto raw = ReadRaw(P(kPath), u"Han");
    ASSERT_TRUE(raw.has_value());
    EXPECT_THAT(raw->data, ElementsAre(0x2D, 0x4E));
}

TEST_P(ClsQvnRegSuite, ValueLongerThan32767CharactersIsReturnedWhole) {
    std::u16string text(40000, u'7');
    text[32767] = u'x';
    reg().SaveString(kHkcu, P(kPath), u"Long", text);
    EXPECT_EQ(reg().GetString(kHkcu, P(kPath), u"Long"), text);

    Bytes data(2 * 33000, '9');
    for (std::size_t i = 1; i < data.size(); i += 2) {
        data[i] = 0;
    }
    data.insert(data.end(), {0, 0, 'z', 0});
    WriteRaw(P(kPath), u"LongTerminated", Sz(data));
    EXPECT_EQ(reg().GetString(kHkcu, P(kPath), u"LongTerminated"), std::u16string(33000, u'9'));
}

TEST_P(ClsQvnRegSuite, KeyAndValueNamesIgnoreAsciiLetterCase) {
    reg().SaveString(kHkcu, P(u"Software\\Brannoc\\Kestrove"), u"Key", u"406");
    EXPECT_EQ(reg().GetString(kHkcu, P(u"SOFTWARE\\brannoc\\KESTROVE"), u"KEY"), u"406");
    reg().SaveString(kHkcu, P(u"software\\BRANNOC\\kestrove"), u"kEY", u"407");
    EXPECT_EQ(reg().GetString(kHkcu, P(u"Software\\Brannoc\\Kestrove"), u"Key"), u"407");
}

TEST_P(ClsQvnRegSuite, NamesEndAtTheirFirstNul) {
    reg().SaveString(kHkcu, P(kPath), u"Key", u"406");
    EXPECT_EQ(reg().GetString(kHkcu, P(kPath), std::u16string(u"Key\0junk", 8)), u"406");
    reg().SaveDWord(kHkcu, P(kPath), std::u16string(u"N\0x", 3), 12);
    EXPECT_EQ(reg().GetDWord(kHkcu, P(kPath), u"N"), 12);
}

TEST_P(ClsQvnRegSuite, DWordIsFourLittleEndianBytesAndAnythingElseIsZero) {
    WriteRaw(P(kPath), u"AllOnes", Dword({0xFF, 0xFF, 0xFF, 0xFF}));
    WriteRaw(P(kPath), u"Order", Dword({0x78, 0x56, 0x34, 0x12}));
    WriteRaw(P(kPath), u"Lowest", Dword({0x00, 0x00, 0x00, 0x80}));
    WriteRaw(P(kPath), u"Short", Dword({0x34, 0x12}));
    WriteRaw(P(kPath), u"TooLong", Dword({1, 0, 0, 0, 0}));
    WriteRaw(P(kPath), u"Quad", {11, {1, 0, 0, 0}});
    WriteRaw(P(kPath), u"FourByteString", Sz({'5', 0, 0, 0}));
    WriteRaw(P(kPath), u"Zero", Dword({0, 0, 0, 0}));
    reg().SaveString(kHkcu, P(kPath), u"Text", u"5");

    EXPECT_EQ(reg().GetDWord(kHkcu, P(kPath), u"AllOnes"), -1);
    EXPECT_EQ(reg().GetDWord(kHkcu, P(kPath), u"Order"), 0x12345678);
    EXPECT_EQ(reg().GetDWord(kHkcu, P(kPath), u"Lowest"), INT32_MIN);
    EXPECT_EQ(reg().GetDWord(kHkcu, P(kPath), u"Short"), 0x1234);
    EXPECT_EQ(reg().GetDWord(kHkcu, P(kPath), u"TooLong"), 0);
    EXPECT_EQ(reg().GetDWord(kHkcu, P(kPath), u"Quad"), 0);
    EXPECT_EQ(reg().GetDWord(kHkcu, P(kPath), u"FourByteString"), 0);
    EXPECT_EQ(reg().GetDWord(kHkcu, P(kPath), u"Zero"), 0);
    EXPECT_EQ(reg().GetDWord(kHkcu, P(kPath), u"Text"), 0);
    EXPECT_EQ(reg().GetDWord(kHkcu, P(kPath), u"Missing"), 0);
}

TEST_P(ClsQvnRegSuite, SaveDWordRoundTripsNegativesAndCreatesLevels) {
    for (const std::int32_t number : {0, 1, -1, -123456789, INT32_MIN, INT32_MAX}) {
        reg().SaveDWord(kHkcu, P(u"N\\M"), u"Number", number);
        EXPECT_EQ(reg().GetDWord(kHkcu, P(u"N\\M"), u"Number"), number);
    }
    EXPECT_TRUE(KeyExists(P(u"N")));
    reg().SaveDWord(kHkcu, P(u"N\\M"), u"Number", -2);
    const auto raw = ReadRaw(P(u"N\\M"), u"Number");
    ASSERT_TRUE(raw.has_value());
    EXPECT_EQ(raw->type, kRegDword);
    EXPECT_THAT(raw->data, ElementsAre(0xFE, 0xFF, 0xFF, 0xFF));
}

TEST_P(ClsQvnRegSuite, SavingReplacesAValueOfTheOtherType) {
    reg().SaveDWord(kHkcu, P(kPath), u"Value", 5);
    reg().SaveString(kHkcu, P(kPath), u"Value", u"x");
    EXPECT_EQ(reg().GetDWord(kHkcu, P(kPath), u"Value"), 0);
    EXPECT_EQ(reg().GetString(kHkcu, P(kPath), u"Value"), u"x");
    reg().SaveDWord(kHkcu, P(kPath), u"Value", 6);
    EXPECT_EQ(reg().GetString(kHkcu, P(kPath), u"Value"), std::nullopt);
    EXPECT_EQ(reg().GetDWord(kHkcu, P(kPath), u"Value"), 6);
}

TEST_P(ClsQvnRegSuite, DeletingWhatIsNotThereDoesNothing) {
    reg().SaveString(kHkcu, P(u"K"), u"Keep", u"1");
    reg().DeleteValue(kHkcu, P(u"Nope"), u"Keep");
    reg().DeleteKey(kHkcu, P(u"Nope\\Deeper"));
    reg().DeleteValue(kHkcu, P(u"K"), u"Other");
    reg().DeleteKey(kHkcu, P(u"K\\Child"));
    EXPECT_FALSE(KeyExists(P(u"Nope")));
    EXPECT_EQ(reg().GetString(kHkcu, P(u"K"), u"Keep"), u"1");
}

TEST_P(ClsQvnRegSuite, DeleteValueRemovesOnlyThatValue) {
    reg().SaveString(kHkcu, P(u"K"), u"Gone", u"1");
    reg().SaveDWord(kHkcu, P(u"K"), u"Stays", 2);
    reg().DeleteValue(kHkcu, P(u"K"), u"GONE");
    EXPECT_EQ(reg().GetString(kHkcu, P(u"K"), u"Gone"), std::nullopt);
    EXPECT_EQ(reg().GetDWord(kHkcu, P(u"K"), u"Stays"), 2);
    EXPECT_TRUE(KeyExists(P(u"K")));
}

TEST_P(ClsQvnRegSuite, DeleteKeyRemovesAChildlessKeyWithItsValues) {
    reg().SaveString(kHkcu, P(u"K\\Leaf"), u"V", u"1");
    reg().DeleteKey(kHkcu, P(u"K\\Leaf"));
    EXPECT_FALSE(KeyExists(P(u"K\\Leaf")));
    EXPECT_TRUE(KeyExists(P(u"K")));
    reg().CreatKey(kHkcu, P(u"K\\Leaf"));
    EXPECT_EQ(reg().GetString(kHkcu, P(u"K\\Leaf"), u"V"), std::nullopt);
}

TEST_P(ClsQvnRegSuite, DeleteKeyLeavesAKeyThatHasSubkeys) {
    reg().SaveString(kHkcu, P(u"K"), u"V", u"1");
    reg().CreatKey(kHkcu, P(u"K\\Child"));
    reg().DeleteKey(kHkcu, P(u"K"));
    EXPECT_TRUE(KeyExists(P(u"K\\Child")));
    EXPECT_EQ(reg().GetString(kHkcu, P(u"K"), u"V"), u"1");
}

TEST_P(ClsQvnRegSuite, CreatKeyMakesEveryLevelAndKeepsWhatIsThere) {
    reg().SaveString(kHkcu, P(u"X"), u"V", u"1");
    reg().CreatKey(kHkcu, P(u"X\\Y\\Z"));
    reg().CreatKey(kHkcu, P(u"X\\Y\\Z"));
    EXPECT_TRUE(KeyExists(P(u"X\\Y")));
    EXPECT_TRUE(KeyExists(P(u"X\\Y\\Z")));
    EXPECT_EQ(reg().GetString(kHkcu, P(u"X"), u"V"), u"1");
}

TEST_P(ClsQvnRegSuite, ManyReadsLeaveNoKeyOpen) {
    reg().SaveString(kHkcu, P(kPath), u"Key", u"406");
    reg().SaveDWord(kHkcu, P(kPath), u"Number", 1);
    for (int i = 0; i < 200; ++i) {
        (void)reg().GetString(kHkcu, P(kPath), u"Key");
        (void)reg().GetString(kHkcu, P(kPath), u"Number");
        (void)reg().GetString(kHkcu, P(kPath), u"Missing");
        (void)reg().GetString(kHkcu, P(u"Missing"), u"Key");
        (void)reg().GetDWord(kHkcu, P(kPath), u"Key");
    }
    EXPECT_EQ(store().OpenKeyCount(), 0u);
}

// The order of primitive calls: reads and deletes never create, DeleteKey opens nothing, and
// every key opened is closed exactly once (checked after every case).
TEST_P(ClsQvnRegSuite, ReadsAndValueDeletesNeverCreateAKey) {
    reg().SaveString(kHkcu, P(kPath), u"Key", u"406");
    reg().SaveDWord(kHkcu, P(kPath), u"Number", 3);
    for (const auto& path : {P(kPath), P(u"Missing")}) {
        for (const auto* name : {u"Key", u"Number", u"Missing"}) {
            (void)recorded().GetString(kHkcu, path, name);
            (void)recorded().GetDWord(kHkcu, path, name);
            recorded().DeleteValue(kHkcu, path, u"Missing");
        }
    }
    EXPECT_THAT(calls(), Not(Contains("CreateKey")));
    EXPECT_THAT(calls(), Contains("CloseKey"));
}

TEST_P(ClsQvnRegSuite, DeleteKeyOpensNothing) {
    reg().CreatKey(kHkcu, P(u"K"));
    recorded().DeleteKey(kHkcu, P(u"K"));
    EXPECT_THAT(calls(), ElementsAre("DeleteKey"));
    EXPECT_FALSE(KeyExists(P(u"K")));
}

TEST_P(ClsQvnRegSuite, WritesCloseTheKeyTheyCreate) {
    recorded().CreatKey(kHkcu, P(u"K"));
    recorded().SaveString(kHkcu, P(u"K"), u"S", u"1");
    recorded().SaveDWord(kHkcu, P(u"K"), u"D", 1);
    EXPECT_THAT(calls(), ElementsAre("CreateKey", "CloseKey", "CreateKey", "SetValue", "CloseKey",
                                     "CreateKey", "SetValue", "CloseKey"));
}

TEST_P(ClsQvnRegSuite, AnUnrecognisedRootReachesNoStoreOperation) {
    const std::u16string bad = u"hkey_current_user";
    recorded().CreatKey(bad, P(u"K"));
    recorded().SaveString(bad, P(u"K"), u"S", u"1");
    recorded().SaveDWord(bad, P(u"K"), u"D", 1);
    (void)recorded().GetString(bad, P(u"K"), u"S");
    (void)recorded().GetDWord(bad, P(u"K"), u"D");
    recorded().DeleteValue(bad, P(u"K"), u"S");
    recorded().DeleteKey(bad, P(u"K"));
    EXPECT_THAT(calls(), ElementsAre());
}

}  // namespace
}  // namespace kestrove::testing
