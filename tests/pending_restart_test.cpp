// Which files a restart will still act on, as the restore must know.
#ifdef _WIN32
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "cli/pending_restart.h"
#include "platform/seams.h"
#include "tests/scan_fixture.h"

namespace {

const wchar_t* const SessionManager = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// The machine's own requests are put back afterwards, so that the prefix's
// next start acts on none of the test's files.
class PendingRestartTest : public ScanFolderTest {
protected:
    void SetUp() override {
        ScanFolderTest::SetUp();
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, SessionManager, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key), 0);
        DWORD size = 0;
        had_ = RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) == 0;
        saved_.assign(size, 0);
        if (had_) RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, saved_.data(), &size);
        RegDeleteValueW(key, L"PendingFileRenameOperations");
        RegCloseKey(key);
    }
    void TearDown() override {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SessionManager, 0, KEY_SET_VALUE, &key) == 0) {
            RegDeleteValueW(key, L"PendingFileRenameOperations");
            if (had_) {
                RegSetValueExW(key, L"PendingFileRenameOperations", 0, REG_MULTI_SZ, saved_.data(),
                               static_cast<DWORD>(saved_.size()));
            }
            RegCloseKey(key);
        }
        ScanFolderTest::TearDown();
    }

private:
    bool had_ = false;
    std::basic_string<BYTE> saved_;
};

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return text;
}

TEST_F(PendingRestartTest, TheNtFamilysRequestsNameTheirSourcesAndTargetsInAnyCase) {
    seamPlatformFamily = FamilyNt;
    for (const char* name : {"gone.exe", "copy.zq-000", "target.exe", "other.exe", "gone.exe.old"}) Write(name, {1});
    EXPECT_FALSE(NamedByPendingRestart(Path("gone.exe").c_str())) << "nothing is pending yet";
    ASSERT_TRUE(MoveFileExA(Path("gone.exe").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    ASSERT_TRUE(MoveFileExA(Path("copy.zq-000").c_str(), Path("target.exe").c_str(), MOVEFILE_DELAY_UNTIL_REBOOT));

    EXPECT_TRUE(NamedByPendingRestart(Path("gone.exe").c_str()));
    EXPECT_TRUE(NamedByPendingRestart(Upper(Path("gone.exe")).c_str())) << "Windows ignores case";
    EXPECT_TRUE(NamedByPendingRestart(Path("copy.zq-000").c_str()));
    EXPECT_TRUE(NamedByPendingRestart(Path("target.exe").c_str()));
    EXPECT_FALSE(NamedByPendingRestart(Path("other.exe").c_str()));
    EXPECT_FALSE(NamedByPendingRestart(Path("gone.exe.old").c_str())) << "a longer name is another file";
    EXPECT_FALSE(NamedByPendingRestart(Path("gone.ex").c_str())) << "and so is a shorter one";
}

TEST_F(PendingRestartTest, The9xFamilysRenamesAreFoundByLongAndShortPaths) {
    seamPlatformFamily = FamilyWin9x;
    const std::string target = Path("Programa con nombre largo.exe");
    const std::string source = target + ".zq-000";
    Write("Programa con nombre largo.exe", {1});
    Write("Programa con nombre largo.exe.zq-000", {2});
    Write("otro.exe", {3});
    char shortTarget[MAX_PATH] = {};
    char shortSource[MAX_PATH] = {};
    ASSERT_NE(GetShortPathNameA(target.c_str(), shortTarget, MAX_PATH), 0u);
    ASSERT_NE(GetShortPathNameA(source.c_str(), shortSource, MAX_PATH), 0u);
    EXPECT_FALSE(NamedByPendingRestart(target.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("rename", shortTarget, shortSource, "wininit.ini"));
    const bool targetNamed = NamedByPendingRestart(target.c_str());
    const bool sourceNamed = NamedByPendingRestart(Upper(source).c_str());
    const bool otherNamed = NamedByPendingRestart(Path("otro.exe").c_str());
    WritePrivateProfileStringA("rename", shortTarget, nullptr, "wininit.ini");
    EXPECT_TRUE(targetNamed);
    EXPECT_TRUE(sourceNamed);
    EXPECT_FALSE(otherNamed);
    EXPECT_FALSE(NamedByPendingRestart(target.c_str())) << "the entry is gone";
}

}  // namespace
#endif
