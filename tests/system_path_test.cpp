// How a carried path reaches the NT family's wide functions.
#ifdef _WIN32
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "adapters/system_path_win32.h"

namespace {

std::wstring Text(const SystemPath& path) { return std::wstring(path.text, path.length); }

std::wstring CurrentFolder() {
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH + 1, folder);
    std::wstring text(folder, length);
    if (text.back() != L'\\') text.push_back(L'\\');
    return text;
}

TEST(SystemPath, ShortPathsStayAsGivenAndLongOnesTakeTheVerbatimFormOfTheirFullPath) {
    SystemPath path;
    // UTF-8 of "C:\Документы\資料.exe" and of an astral-plane character.
    ASSERT_TRUE(ToSystemPath("C:\\\xD0\x94\xD0\xBE\\\xE8\xB3\x87\xE6\x96\x99.exe", &path));
    EXPECT_EQ(Text(path), L"C:\\\x0414\x043E\\\x8CC7\x6599.exe");
    ASSERT_TRUE(ToSystemPath("C:\\\xF0\x9F\x98\x80", &path));
    EXPECT_EQ(Text(path), L"C:\\\xD83D\xDE00");

    // MAX_PATH - 1 units is the longest path the system reads itself; one
    // more and the full path goes behind the prefix.
    const std::string folder = "C:\\" + std::string(MAX_PATH - 1 - 3, 'a');
    ASSERT_TRUE(ToSystemPath(folder.c_str(), &path));
    EXPECT_EQ(path.length, static_cast<size_t>(MAX_PATH - 1));
    const std::string longer = folder + "b";
    ASSERT_TRUE(ToSystemPath(longer.c_str(), &path));
    EXPECT_EQ(Text(path), L"\\\\?\\" + std::wstring(longer.begin(), longer.end()));

    // A long relative path with "..": read once, against the current folder.
    const std::string relative = std::string(300, 'r') + "\\..\\x.exe";
    ASSERT_TRUE(ToSystemPath(relative.c_str(), &path));
    EXPECT_EQ(Text(path), L"\\\\?\\" + CurrentFolder() + L"x.exe");

    // Already verbatim: as it stands, a trailing dot and ".." kept.
    ASSERT_TRUE(ToSystemPath("\\\\?\\C:\\a\\..\\worm.exe.", &path));
    EXPECT_EQ(Text(path), L"\\\\?\\C:\\a\\..\\worm.exe.");
}

TEST(SystemPath, VerbatimFormOfDrivesSharesAndDevices) {
    SystemPath path;
    ASSERT_TRUE(ToVerbatimPath("C:\\", &path));
    EXPECT_EQ(Text(path), L"\\\\?\\C:\\");
    ASSERT_TRUE(ToVerbatimPath("C:\\Datos\\.\\sub\\", &path));
    EXPECT_EQ(Text(path), L"\\\\?\\C:\\Datos\\sub\\");
    ASSERT_TRUE(ToVerbatimPath("\\\\servidor\\compartido\\x", &path));
    EXPECT_EQ(Text(path), L"\\\\?\\UNC\\servidor\\compartido\\x");
    ASSERT_TRUE(ToVerbatimPath("\\\\.\\C:", &path));
    EXPECT_EQ(Text(path), L"\\\\.\\C:");
}

TEST(SystemPath, TextThatIsNoPathOrTooLongIsRefusedWithTheSystemsReason) {
    SystemPath path;
    SetLastError(0);
    EXPECT_FALSE(ToSystemPath(nullptr, &path));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    // A stray continuation byte, and a code-page byte that is no UTF-8.
    for (const char* bad : {"C:\\\x80.exe", "C:\\\xF1o.exe"}) {
        SetLastError(0);
        EXPECT_FALSE(ToSystemPath(bad, &path)) << bad;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME)) << bad;
    }

    // 32,767 units and the terminator fill the buffer; one unit more does
    // not fit. Three-byte characters, so that bytes and units differ.
    std::string fits = "\\\\?\\C:\\";
    while (fits.size() < 7 + 3 * (SystemPathUnits - 1 - 7)) fits += "\xE8\xB3\x87";
    ASSERT_TRUE(ToSystemPath(fits.c_str(), &path));
    EXPECT_EQ(path.length, SystemPathUnits - 1);
    EXPECT_EQ(path.text[path.length], L'\0');
    SetLastError(0);
    EXPECT_FALSE(ToSystemPath((fits + "x").c_str(), &path));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

}  // namespace
#endif
