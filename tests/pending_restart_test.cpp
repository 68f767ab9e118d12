// Which files a restart will still act on, as the restore must know.
#ifdef _WIN32
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "adapters/pending_operations_win32.h"
#include "cli/pending_restart.h"
#include "platform/seams.h"
#include "tests/scan_fixture.h"

namespace {

const wchar_t* const SessionManager = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

bool NamedByPendingRestart(const std::string& path) {
    int error = -1;
    const PendingRestart found = PendingRestartOn(path.c_str(), &error);
    EXPECT_NE(found, PendingRestart::Unknown) << "error " << error;
    EXPECT_EQ(error, 0);
    return found == PendingRestart::Named;
}

// Sets or, for a null data, deletes one of the values the NT family keeps.
void SetPendingValue(const wchar_t* name, DWORD type, const std::wstring* data) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, SessionManager, 0, KEY_SET_VALUE, &key), 0);
    if (data == nullptr) {
        RegDeleteValueW(key, name);
    } else {
        EXPECT_EQ(RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(data->data()),
                                 static_cast<DWORD>(data->size() * sizeof(wchar_t))),
                  0);
    }
    RegCloseKey(key);
}

// The machine's own requests are put back afterwards, so that the prefix's
// next start acts on none of the test's files.
class PendingRestartTest : public ScanFolderTest {
protected:
    void SetUp() override {
        ScanFolderTest::SetUp();
        SetPendingValue(L"PendingFileRenameOperations2", REG_MULTI_SZ, nullptr);
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
        SetPendingValue(L"PendingFileRenameOperations2", REG_MULTI_SZ, nullptr);
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

// What the restore makes of each state of the two values: a value that is
// there but cannot be read as a list of operations may name the file, so the
// restore refuses, and says why.
TEST_F(PendingRestartTest, OperationsThatCannotBeReadRefuseTheRestore) {
    seamPlatformFamily = FamilyNt;
    Write("x.exe", {1});
    const std::string path = Path("x.exe");
    const std::wstring own = L"\\??\\" + std::wstring(path.begin(), path.end());
    const std::wstring other = L"\\??\\C:\\otro.exe";
    const std::wstring names = own + L'\0' + L'\0' + other + L'\0' + own + L".zq-000" + L'\0' + L'\0';
    const std::wstring neither = other + L'\0' + L'\0' + L'\0';
    const std::wstring plain = own;
    struct Case {
        const char* what;
        const wchar_t* value;
        DWORD type;
        const std::wstring* data;  // null: the value is not there
        PendingRestart expected;
        int error;
    };
    const Case cases[] = {
        {"no value", L"PendingFileRenameOperations", REG_MULTI_SZ, nullptr, PendingRestart::None, 0},
        {"other files only", L"PendingFileRenameOperations", REG_MULTI_SZ, &neither, PendingRestart::None, 0},
        {"the file among others", L"PendingFileRenameOperations", REG_MULTI_SZ, &names, PendingRestart::Named, 0},
        {"the file in the second value", L"PendingFileRenameOperations2", REG_MULTI_SZ, &names, PendingRestart::Named,
         0},
        {"a single string", L"PendingFileRenameOperations", REG_SZ, &plain, PendingRestart::Unknown,
         ERROR_INVALID_DATA},
        {"bytes", L"PendingFileRenameOperations", REG_BINARY, &neither, PendingRestart::Unknown, ERROR_INVALID_DATA},
        {"the second value, bytes", L"PendingFileRenameOperations2", REG_BINARY, &neither, PendingRestart::Unknown,
         ERROR_INVALID_DATA},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetPendingValue(L"PendingFileRenameOperations", REG_MULTI_SZ, nullptr);
        SetPendingValue(L"PendingFileRenameOperations2", REG_MULTI_SZ, nullptr);
        SetPendingValue(c.value, c.type, c.data);
        int error = -1;
        EXPECT_EQ(PendingRestartOn(Path("x.exe").c_str(), &error), c.expected);
        EXPECT_EQ(error, c.error);
    }
}

// The 95/98/Me family: a wininit.ini that is not there holds nothing, one
// that cannot be read (here a folder in its place) may hold anything.
TEST_F(PendingRestartTest, AWininitIniThatCannotBeReadRefusesTheRestore) {
    seamPlatformFamily = FamilyWin9x;
    Write("x.exe", {1});
    char folder[MAX_PATH] = {};
    ASSERT_NE(GetWindowsDirectoryA(folder, MAX_PATH), 0u);
    const std::string wininit = std::string(folder) + "\\wininit.ini";
    const std::string aside = wininit + ".velmora-test";
    const bool had = MoveFileA(wininit.c_str(), aside.c_str()) != 0;
    int error = -1;
    const PendingRestart absent = PendingRestartOn(Path("x.exe").c_str(), &error);
    const int absentError = error;
    const bool madeFolder = CreateDirectoryA(wininit.c_str(), nullptr) != 0;
    const PendingRestart asFolder = PendingRestartOn(Path("x.exe").c_str(), &error);
    const int folderError = error;
    RemoveDirectoryA(wininit.c_str());
    if (had) MoveFileA(aside.c_str(), wininit.c_str());
    EXPECT_EQ(absent, PendingRestart::None);
    EXPECT_EQ(absentError, 0);
    ASSERT_TRUE(madeFolder);
    EXPECT_EQ(asFolder, PendingRestart::Unknown);
    EXPECT_NE(folderError, 0);
}

// The values' layout: pairs, a deletion's target empty, one more empty
// string at the end; the NT and verbatim prefixes and the case of ASCII
// letters do not count.
TEST(PendingMoves, ValuesReadAsThePairsTheSystemCarriesOut) {
    struct Case {
        const char* what;
        std::wstring data;
        std::vector<std::pair<std::wstring, std::wstring>> moves;
    };
    const std::wstring end(1, L'\0');
    const Case cases[] = {
        {"empty", L"", {}},
        {"a terminator alone", end, {}},
        {"a deletion", L"\\??\\c:\\a" + end + end + end, {{L"C:\\A", L""}}},
        {"a deletion without the list's end", L"\\??\\C:\\a" + end + end, {{L"C:\\A", L""}}},
        {"a deletion, then a move",
         L"\\??\\C:\\a" + end + end + L"\\??\\C:\\b" + end + L"\\\\?\\C:\\a" + end + end,
         {{L"C:\\A", L""}, {L"C:\\B", L"C:\\A"}}},
        {"a move without any terminator", L"\\??\\C:\\b" + end + L"\\??\\C:\\a", {{L"C:\\B", L"C:\\A"}}},
        {"a source without its target", L"\\??\\C:\\b" + end, {{L"C:\\B", L""}}},
        {"shares", L"\\??\\UNC\\srv\\s\\f" + end + L"\\\\?\\UNC\\srv\\s\\g" + end + end,
         {{L"\\\\SRV\\S\\F", L"\\\\SRV\\S\\G"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<PendingMove> moves;
        ParsePendingMoves(c.data.data(), c.data.size(), &moves);
        ASSERT_EQ(moves.size(), c.moves.size());
        for (size_t i = 0; i < moves.size(); ++i) {
            EXPECT_TRUE(moves[i].from == c.moves[i].first) << i;
            EXPECT_TRUE(moves[i].to == c.moves[i].second) << i;
        }
    }
}

}  // namespace
#endif
