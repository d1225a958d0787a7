// The simulated registry: Windows' error codes, access rights, sizes and handle bookkeeping.
#include "platform/win32.h"
#include "sim/machine.h"

#include <gtest/gtest.h>

#include <cwchar>

namespace {

const std::wstring kKey = L"HKLM\\SOFTWARE\\Quillmarsh";

class SimRegistry : public ::testing::Test {
protected:
    void SetUp() override { m.Reset(); }

    HKEY Open(const wchar_t* subKey, REGSAM access) {
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, access, &key), ERROR_SUCCESS);
        return key;
    }

    sim::Machine& m = sim::TheMachine();
};

TEST_F(SimRegistry, OpeningAMissingKeyReportsFileNotFoundAndClearsTheHandle) {
    HKEY key = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x1234));
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Missing", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(m.OpenKeyCount(), 0);
}

TEST_F(SimRegistry, KeyPathsCompareCaseInsensitivelyAndTheLogKeepsTheCallersSpelling) {
    m.CreateKey(kKey);
    HKEY key = Open(L"software\\QUILLMARSH", KEY_QUERY_VALUE | KEY_WOW64_64KEY);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(m.OpenKeyCount(), 1);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(m.OpenKeyCount(), 0);
    const auto opens = m.CallsTo("RegOpenKeyExW");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].target, L"HKLM\\software\\QUILLMARSH");
    EXPECT_EQ(opens[0].detail, KEY_QUERY_VALUE | KEY_WOW64_64KEY);
}

TEST_F(SimRegistry, ClosingAnUnknownOrAlreadyClosedHandleIsInvalid) {
    m.CreateKey(kKey);
    HKEY key = Open(L"SOFTWARE\\Quillmarsh", KEY_READ);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x77))),
              ERROR_INVALID_HANDLE);
}

TEST_F(SimRegistry, HandlesEnforceTheirAccessRights) {
    m.SetDwordValue(kKey, L"Mode", 3);
    struct Case {
        REGSAM access;
        LSTATUS query;
        LSTATUS set;
    };
    const Case cases[] = {
        {KEY_READ, ERROR_SUCCESS, ERROR_ACCESS_DENIED},
        {KEY_QUERY_VALUE, ERROR_SUCCESS, ERROR_ACCESS_DENIED},
        {KEY_WRITE, ERROR_ACCESS_DENIED, ERROR_SUCCESS},
        {KEY_SET_VALUE, ERROR_ACCESS_DENIED, ERROR_SUCCESS},
        {KEY_READ | KEY_WRITE, ERROR_SUCCESS, ERROR_SUCCESS},
        {KEY_ALL_ACCESS, ERROR_SUCCESS, ERROR_SUCCESS},
        {KEY_ENUMERATE_SUB_KEYS, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.access);
        HKEY key = Open(L"SOFTWARE\\Quillmarsh", c.access);
        DWORD value = 0;
        DWORD size = sizeof value;
        EXPECT_EQ(RegQueryValueExW(key, L"Mode", nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                                   &size),
                  c.query);
        const DWORD nine = 9;
        EXPECT_EQ(RegSetValueExW(key, L"Other", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&nine),
                                 sizeof nine),
                  c.set);
        RegCloseKey(key);
        m.SetDwordValue(kKey, L"Other", 0);
    }
}

TEST_F(SimRegistry, QueryReportsSizesAndTypesTheWindowsWay) {
    m.SetDwordValue(kKey, L"Mode", 0x01020304);
    m.SetValue(kKey, L"Blob", REG_BINARY, {1, 2, 3, 4, 5});
    HKEY key = Open(L"SOFTWARE\\Quillmarsh", KEY_READ);

    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"Missing", nullptr, &type, nullptr, &size),
              ERROR_FILE_NOT_FOUND);

    // No buffer: only the size and type.
    EXPECT_EQ(RegQueryValueExW(key, L"blob", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(size, 5u);

    // Too small: ERROR_MORE_DATA, the needed size, the type, and the buffer left alone.
    BYTE small[3] = {9, 9, 9};
    size = sizeof small;
    type = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"Blob", nullptr, &type, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(small[0], 9);

    BYTE big[8] = {};
    size = sizeof big;
    EXPECT_EQ(RegQueryValueExW(key, L"Blob", nullptr, &type, big, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(big[4], 5);

    DWORD mode = 0;
    size = sizeof mode;
    EXPECT_EQ(RegQueryValueExW(key, L"Mode", nullptr, &type, reinterpret_cast<BYTE*>(&mode), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(mode, 0x01020304u);
    RegCloseKey(key);
}

TEST_F(SimRegistry, StringValuesCountTheCallersBufferInWchars) {
    m.SetStringValue(kKey, L"LayoutFilePath", L"C:\\L.ini"); // 8 characters + terminator
    HKEY key = Open(L"SOFTWARE\\Quillmarsh", KEY_QUERY_VALUE);
    const DWORD needed = 9 * sizeof(WCHAR);

    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"LayoutFilePath", nullptr, nullptr, nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, needed);

    WCHAR tight[9];
    size = sizeof tight;
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"LayoutFilePath", nullptr, &type,
                               reinterpret_cast<BYTE*>(tight), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, needed);
    EXPECT_STREQ(tight, L"C:\\L.ini");

    WCHAR shortBuffer[8];
    std::wmemset(shortBuffer, L'#', 8);
    size = sizeof shortBuffer;
    EXPECT_EQ(RegQueryValueExW(key, L"LayoutFilePath", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(shortBuffer), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, needed);
    EXPECT_EQ(shortBuffer[0], L'#');
    RegCloseKey(key);
}

TEST_F(SimRegistry, StringsAreReturnedAsStoredWithoutAddingATerminator) {
    m.SetValue(kKey, L"Raw", REG_SZ, {'a', 0, 'b', 0}); // no terminator stored
    HKEY key = Open(L"SOFTWARE\\Quillmarsh", KEY_READ);
    WCHAR buffer[4];
    std::wmemset(buffer, L'#', 4);
    DWORD size = sizeof buffer;
    EXPECT_EQ(
        RegQueryValueExW(key, L"Raw", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(size, 2 * sizeof(WCHAR));
    EXPECT_EQ(buffer[0], L'a');
    EXPECT_EQ(buffer[1], L'b');
    EXPECT_EQ(buffer[2], L'#');
    RegCloseKey(key);
}

TEST_F(SimRegistry, SetStoresStringsAsUtf16Bytes) {
    m.CreateKey(kKey);
    HKEY key = Open(L"SOFTWARE\\Quillmarsh", KEY_SET_VALUE);
    const WCHAR text[] = L"D:\\x";
    EXPECT_EQ(
        RegSetValueExW(key, L"Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
        ERROR_SUCCESS);
    RegCloseKey(key);
    const auto value = m.Value(kKey, L"path");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, REG_SZ);
    const std::vector<BYTE> expected = {'D', 0, ':', 0, '\\', 0, 'x', 0, 0, 0};
    EXPECT_EQ(value->data, expected);
    EXPECT_EQ(m.Value(kKey, L"PATH")->data, expected);
}

TEST_F(SimRegistry, CreateMakesMissingParentsAndReportsTheDisposition) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\A\\B", 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_TRUE(m.HasKey(L"HKLM\\SOFTWARE\\A"));
    EXPECT_TRUE(m.HasKey(L"hklm\\software\\a\\b"));
    RegCloseKey(key);

    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\a\\b", 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_READ, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    const DWORD one = 1;
    EXPECT_EQ(RegSetValueExW(key, L"X", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
              ERROR_ACCESS_DENIED);
    RegCloseKey(key);
    EXPECT_EQ(m.OpenKeyCount(), 0);
}

TEST_F(SimRegistry, KeyRulesLimitWhatOpensAndCreates) {
    m.SetKeyRights(kKey, KEY_QUERY_VALUE | KEY_SET_VALUE);
    HKEY key = nullptr;
    struct Case {
        REGSAM access;
        LSTATUS open;
    };
    for (const Case& c :
         {Case{KEY_ALL_ACCESS, ERROR_ACCESS_DENIED}, Case{KEY_WRITE, ERROR_ACCESS_DENIED},
          Case{KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, ERROR_SUCCESS}}) {
        SCOPED_TRACE(c.access);
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quillmarsh", 0, c.access, &key),
                  c.open);
        RegCloseKey(key);
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quillmarsh", 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, c.access, nullptr, &key, nullptr),
                  c.open);
        RegCloseKey(key);
    }
    // A subkey needs KEY_CREATE_SUB_KEY on its parent, and inherits the parent's rules.
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quillmarsh\\Sub", 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE, nullptr, &key, nullptr),
              ERROR_ACCESS_DENIED);
    m.SetKeyRights(kKey, KEY_QUERY_VALUE | KEY_CREATE_SUB_KEY);
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quillmarsh\\Sub\\Deep", 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_FALSE(m.HasKey(kKey + L"\\Sub"));
    EXPECT_EQ(m.OpenKeyCount(), 0);
}

TEST_F(SimRegistry, FlushesAreCountedPerKey) {
    m.CreateKey(kKey);
    m.CreateKey(L"HKLM\\SOFTWARE\\Other");
    HKEY key = Open(L"SOFTWARE\\Quillmarsh", KEY_WRITE);
    EXPECT_EQ(RegFlushKey(key), ERROR_ACCESS_DENIED); // a flush needs KEY_QUERY_VALUE
    RegCloseKey(key);
    key = Open(L"SOFTWARE\\Quillmarsh", KEY_QUERY_VALUE);
    EXPECT_EQ(RegFlushKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegFlushKey(key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(m.FlushCount(L"hklm\\software\\quillmarsh"), 2);
    EXPECT_EQ(m.FlushCount(L"HKLM\\SOFTWARE\\Other"), 0);
    EXPECT_EQ(RegFlushKey(key), ERROR_INVALID_HANDLE);
}

TEST_F(SimRegistry, DwordValueOnlyReadsDwords) {
    m.SetDwordValue(kKey, L"D", 7);
    m.SetStringValue(kKey, L"S", L"7");
    EXPECT_EQ(m.DwordValue(kKey, L"D"), 7u);
    EXPECT_FALSE(m.DwordValue(kKey, L"S").has_value());
    EXPECT_FALSE(m.DwordValue(kKey, L"Missing").has_value());
    EXPECT_FALSE(m.Value(L"HKLM\\SOFTWARE\\Nowhere", L"D").has_value());
}

} // namespace
