// Process enumeration on both platform families. Wine offers Toolhelp32 as
// well as PSAPI, so both enumerators run here for real; fakes of the
// looked-up functions stand in where the system cannot be made to misbehave.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "resident/process_enumerator.h"
#include "resident/process_list.h"
#include "tests/resident_support.h"

namespace {

using namespace resident_test;

constexpr DWORD PathSize = 260;
constexpr DWORD Untouched = 0xDEADBEEFu;

struct Delivered {
    DWORD id;
    std::string path;
};

// Walks a started list to its end; afterwards two more calls must still
// deliver nothing and leave the outputs alone.
std::vector<Delivered> Drain(ProcessList& list) {
    std::vector<Delivered> delivered;
    DWORD id = Untouched;
    char path[PathSize];
    std::memset(path, 'X', sizeof path);
    while (list.next(&id, path, PathSize) != 0) {
        const void* end = std::memchr(path, '\0', sizeof path);
        EXPECT_NE(end, nullptr) << "path without its terminating NUL";
        delivered.push_back({id, end != nullptr ? std::string(path) : std::string()});
        if (delivered.size() > 100000) break;
        std::memset(path, 'X', sizeof path);
        id = Untouched;
    }
    for (int again = 0; again < 2; ++again) {
        EXPECT_EQ(list.next(&id, path, PathSize), 0);
        EXPECT_EQ(id, Untouched);
        EXPECT_EQ(path[0], 'X');
    }
    return delivered;
}

const Delivered* Find(const std::vector<Delivered>& delivered, DWORD id) {
    for (const Delivered& process : delivered) {
        if (process.id == id) return &process;
    }
    return nullptr;
}

// A path of length characters whose file name carries a threat prefix.
std::string PathOfLength(size_t length) { return "C:\\" + std::string(length - 15, 'p') + "\\wink123.exe"; }

// What an enumerator delivers from a fresh snapshot into length bytes,
// which must end with a NUL and leave the byte after them alone.
std::vector<std::string> Paths(ProcessEnumerator& enumerator, DWORD length) {
    std::vector<std::string> paths;
    enumerator.takeSnapshot();
    enumerator.rewind();
    DWORD id = 0;
    std::vector<char> path(length + 1, 'X');
    while (enumerator.next(&id, path.data(), length) != 0 && paths.size() < 100) {
        EXPECT_TRUE(path[length] == 'X' && std::memchr(path.data(), '\0', length) != nullptr);
        paths.push_back(std::string(path.data(), length).c_str());
        std::fill(path.begin(), path.end(), 'X');
    }
    return paths;
}

TEST(ProcessEnumeration, APathThatMayHaveBeenCutIsDeliveredEmpty) {
    LookupFakes fakes;
    fakes.UseFakeEnumProcesses();
    fakes.UseFakeModuleFileName();
    fakes.UseFakeToolhelp();
    FakeEnumProcesses::Reset(1);
    FakeEnumProcesses::realIds = {GetCurrentProcessId()};  // its modules are found
    // Path length, buffer length, and whether it is read: MAX_PATH - 1
    // characters are, one more may have been cut even when the caller's
    // buffer is larger, and a path without room for its NUL is not read.
    const struct {
        size_t path;
        DWORD buffer;
        bool read;
    } cases[] = {{259, 260, true}, {260, 260, false}, {1000, 260, false}, {259, 400, true},
                 {260, 400, false}, {1000, 400, false}, {63, 64, true}, {64, 64, false}};
    for (const bool older : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << c.path << " into " << c.buffer << ", older " << older);
            FakeModuleFileName::Reset(PathOfLength(c.path), older);
            PsapiProcessEnumerator psapi;
            EXPECT_EQ(Paths(psapi, c.buffer), std::vector<std::string>{c.read ? PathOfLength(c.path) : ""});
            EXPECT_EQ(FakeModuleFileName::calls, 1);
        }
    }

    // Toolhelp32: from 260 bytes on, szExeFile is full and has no NUL.
    const std::vector<std::string> names = {PathOfLength(259), PathOfLength(260), PathOfLength(15), PathOfLength(16)};
    FakeToolhelp::Reset({{1, names[0]}, {2, names[1]}, {3, names[2]}, {4, names[3]}});
    ToolhelpProcessEnumerator toolhelp;
    EXPECT_EQ(Paths(toolhelp, PathSize), (std::vector<std::string>{names[0], "", names[2], names[3]}));
    EXPECT_EQ(Paths(toolhelp, 16), (std::vector<std::string>{"", "", names[2], ""}));
}

TEST(ProcessEnumeration, BothFamiliesDeliverRunningProcessesWithTheirPaths) {
    ScratchFolder folder;
    Children children;
    const std::string childPath = folder.Path("enumerated.exe");
    const size_t child = children.StartIdle(childPath);
    ASSERT_TRUE(children.Running(child));

    for (const PlatformFamily family : {FamilyNt, FamilyWin9x}) {
        SCOPED_TRACE(family);
        FamilyChoice choice(family);
        // Toolhelp32 reports the file name here (the 95/98/Me family
        // reports the whole path); either way its last part is the name.
        const auto named = [family](const std::string& path) {
            return family == FamilyNt ? path : std::string(FileNamePart(path));
        };
        ProcessList list;
        list.start();
        const std::vector<Delivered> delivered = Drain(list);
        EXPECT_GT(delivered.size(), 2u);
        const Delivered* self = Find(delivered, GetCurrentProcessId());
        ASSERT_NE(self, nullptr);
        EXPECT_TRUE(SameTextIgnoringCase(named(self->path), named(OwnPath()))) << self->path;
        const Delivered* other = Find(delivered, children.Id(child));
        ASSERT_NE(other, nullptr);
        EXPECT_TRUE(SameTextIgnoringCase(named(other->path), named(childPath))) << other->path;
        if (family != FamilyNt) continue;
        for (const Delivered& process : delivered) EXPECT_LT(process.path.size(), PathSize);
        // A second start captures afresh and delivers from the beginning.
        list.start();
        EXPECT_NE(Find(Drain(list), GetCurrentProcessId()), nullptr);
    }
}

TEST(ProcessEnumeration, PsapiKeepsTheFirst512IdsAndNeverReadsPastThem) {
    FamilyChoice nt(FamilyNt);
    LookupFakes fakes;
    fakes.UseFakeEnumProcesses();

    struct Case {
        DWORD running;
        bool overstate;
        size_t expected;
    };
    // At the limit, one past it, far past it, and a count that claims more
    // bytes than the buffer has.
    const Case cases[] = {{511, false, 511}, {512, false, 512}, {513, false, 512}, {600, false, 512},
                          {600, true, 512},  {0, false, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.running << " running, overstated " << c.overstate);
        FakeEnumProcesses::Reset(c.running);
        FakeEnumProcesses::overstate = c.overstate;
        ProcessList list;
        list.start();
        const std::vector<Delivered> delivered = Drain(list);
        EXPECT_EQ(FakeEnumProcesses::calls, 1);
        EXPECT_EQ(FakeEnumProcesses::lastBufferSize, 2048u);
        ASSERT_EQ(delivered.size(), c.expected);
        for (size_t i = 0; i < delivered.size(); ++i) {
            EXPECT_EQ(delivered[i].id, FakeEnumProcesses::Id(static_cast<DWORD>(i)));
            // No process has these ids: each is delivered, with an empty path.
            EXPECT_EQ(delivered[i].path, "");
        }
    }

    FakeEnumProcesses::Reset(10);
    FakeEnumProcesses::fail = true;
    ProcessList failing;
    failing.start();
    EXPECT_TRUE(Drain(failing).empty());
    EXPECT_EQ(FakeEnumProcesses::calls, 1);
}

TEST(ProcessEnumeration, AMissingFunctionLeavesAnEnumeratorThatListsNothing) {
    LookupFakes fakes;
    fakes.UseFakeToolhelp();
    fakes.UseFakeEnumProcesses();
    const std::vector<FakeProcess> listed = {{0x7FFF0004u, "C:\\A\\ONE.EXE"}, {0x7FFF0008u, "two.exe"}};

    {
        // With all three Toolhelp32 functions the stand-ins are used ...
        FamilyChoice win9x(FamilyWin9x);
        FakeToolhelp::Reset(listed);
        ProcessList list;
        list.start();
        const std::vector<Delivered> delivered = Drain(list);
        ASSERT_EQ(delivered.size(), 2u);
        EXPECT_EQ(delivered[0].id, 0x7FFF0004u);
        EXPECT_EQ(delivered[0].path, "C:\\A\\ONE.EXE");
        EXPECT_EQ(delivered[1].path, "two.exe");
        EXPECT_EQ(FakeToolhelp::snapshots, 1);
        EXPECT_FALSE(FakeToolhelp::entrySizeWrong);
    }
    for (const char* missing : {"CreateToolhelp32Snapshot", "Process32First", "Process32Next"}) {
        SCOPED_TRACE(missing);
        // ... without any one of them none is called and nothing is listed.
        fakes.UseFakeToolhelp();
        fakes.Remove(missing);
        FamilyChoice win9x(FamilyWin9x);
        FakeToolhelp::Reset(listed);
        ToolhelpProcessEnumerator enumerator;
        EXPECT_FALSE(enumerator.usable());
        EXPECT_EQ(enumerator.takeSnapshot(), 0);
        EXPECT_EQ(enumerator.rewind(), 1);
        DWORD id = Untouched;
        char path[PathSize] = "untouched";
        EXPECT_EQ(enumerator.next(&id, path, PathSize), 0);
        EXPECT_EQ(id, Untouched);
        EXPECT_STREQ(path, "untouched");
        EXPECT_EQ(FakeToolhelp::snapshots, 0);
        EXPECT_EQ(FakeToolhelp::walks, 0);
    }
    for (const char* missing : {"EnumProcesses", "GetModuleFileNameExA", "EnumProcessModules"}) {
        SCOPED_TRACE(missing);
        fakes.UseFakeEnumProcesses();
        fakes.Remove(missing);
        FakeEnumProcesses::Reset(5);
        FamilyChoice nt(FamilyNt);
        ProcessList list;
        list.start();
        EXPECT_TRUE(Drain(list).empty());
        EXPECT_EQ(FakeEnumProcesses::calls, 0);
    }

    // Only the two known platform ids have an enumerator.
    for (DWORD platformId : {0u, 3u, 0xFFFFFFFFu}) {
        std::unique_ptr<ProcessEnumerator> none(NewProcessEnumerator(platformId));
        EXPECT_EQ(none, nullptr) << platformId;
    }
    std::unique_ptr<ProcessEnumerator> toolhelp(NewProcessEnumerator(VER_PLATFORM_WIN32_WINDOWS));
    EXPECT_NE(dynamic_cast<ToolhelpProcessEnumerator*>(toolhelp.get()), nullptr);
    std::unique_ptr<ProcessEnumerator> psapi(NewProcessEnumerator(VER_PLATFORM_WIN32_NT));
    EXPECT_NE(dynamic_cast<PsapiProcessEnumerator*>(psapi.get()), nullptr);
}

TEST(ProcessEnumeration, EnumeratorsCloseWhatTheyOpen) {
    {
        // Each new snapshot replaces the last one, which is closed; the
        // last is closed with the list.
        FamilyChoice win9x(FamilyWin9x);
        const int before = OwnHandleCount();
        ASSERT_GT(before, 0);
        {
            ProcessList list;
            list.start();
            const int withOne = OwnHandleCount();
            EXPECT_EQ(withOne, before + 1);
            list.start();
            list.start();
            EXPECT_EQ(OwnHandleCount(), withOne);
            Drain(list);
        }
        EXPECT_EQ(OwnHandleCount(), before);
    }
    {
        // The same with the stand-in, whose snapshots are events.
        LookupFakes fakes;
        fakes.UseFakeToolhelp();
        FakeToolhelp::Reset({{0x7FFF0004u, "x.exe"}});
        FamilyChoice win9x(FamilyWin9x);
        const int before = OwnHandleCount();
        {
            ProcessList list;
            for (int i = 0; i < 3; ++i) list.start();
            EXPECT_EQ(Drain(list).size(), 1u);
        }
        EXPECT_EQ(FakeToolhelp::snapshots, 3);
        EXPECT_EQ(OwnHandleCount(), before);
    }
    {
        // Every process opened to read its path is closed again.
        FamilyChoice nt(FamilyNt);
        const int before = OwnHandleCount();
        {
            ProcessList list;
            list.start();
            EXPECT_NE(Find(Drain(list), GetCurrentProcessId()), nullptr);
        }
        EXPECT_EQ(OwnHandleCount(), before);
    }
}

}  // namespace

#endif  // _WIN32
