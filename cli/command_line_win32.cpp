// Windows: on the NT family the C runtime's argv is the command line in the
// ANSI code page, where a name outside it has already become '?'. The wide
// command line is split as the system splits it and each argument carried
// as WTF-8 instead.
#include <windows.h>

#include <string>
#include <utility>

#include "cli/command_line.h"
#include "platform/family.h"
#include "platform/wtf8.h"

namespace {

using SplitCommandLine = LPWSTR*(WINAPI*)(LPCWSTR, int*);

void UseNarrowArguments(int argc, char** argv, CommandLine* line) {
    line->texts.clear();
    line->arguments.assign(argv, argv + argc);
    line->arguments.push_back(nullptr);
    line->count = argc;
}

// Shell32 of NT 4.0 may lack CommandLineToArgvW, so it is looked up rather
// than imported, which would keep the program from starting there at all.
SplitCommandLine FindSplitter() {
    const HMODULE shell = LoadLibraryA("shell32.dll");
    if (shell == nullptr) return nullptr;
    // GetProcAddress results are typed through void(*)(), the one conversion
    // between function pointer types that compilers accept without complaint.
    return reinterpret_cast<SplitCommandLine>(
        reinterpret_cast<void (*)()>(GetProcAddress(shell, "CommandLineToArgvW")));
}

bool ReadWideArguments(CommandLine* line) {
    const wchar_t* wide = GetCommandLineW();
    const SplitCommandLine split = wide != nullptr ? FindSplitter() : nullptr;
    if (split == nullptr) return false;
    int count = 0;
    LPWSTR* words = split(wide, &count);
    if (words == nullptr) return false;
    line->texts.clear();
    line->texts.reserve(static_cast<size_t>(count > 0 ? count : 0));
    for (int i = 0; i < count; ++i) {
        size_t units = 0;
        while (words[i][units] != L'\0') ++units;
        std::string text(Wtf8Size(words[i], units), '\0');
        EncodeWtf8(words[i], units, &text[0]);
        line->texts.push_back(std::move(text));
    }
    LocalFree(words);
    // The pointers are taken only once every text is in place, so that no
    // later growth of the list moves one of them.
    line->arguments.clear();
    for (std::string& text : line->texts) line->arguments.push_back(&text[0]);
    line->arguments.push_back(nullptr);
    line->count = count > 0 ? count : 0;
    return true;
}

}  // namespace

void ReadCommandLine(int argc, char** argv, CommandLine* line) {
    if (IsNtFamily() && ReadWideArguments(line)) return;
    UseNarrowArguments(argc, argv, line);
}
