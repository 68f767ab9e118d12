// Prints the application manifests a Windows program carries, read back from
// the built file as Windows reads it: every resource of type RT_MANIFEST (24),
// each as a line "manifest NAME language LLLL bytes N" followed by the N bytes
// of XML exactly as stored. A program must carry one, named 1
// (CREATEPROCESS_MANIFEST_RESOURCE_ID), and no other.
//   velmora-show-manifest FILE.exe
// Exits 0 when the file carries a manifest, 1 when it carries none ("no
// RT_MANIFEST resource"), 2 when it cannot be read.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace {

const LPCSTR ManifestType = MAKEINTRESOURCEA(24);

struct Listing {
    int manifests = 0;
    bool failed = false;
};

BOOL CALLBACK PrintLanguage(HMODULE module, LPCSTR type, LPCSTR name, WORD language, LONG_PTR param) {
    Listing* listing = reinterpret_cast<Listing*>(param);
    HRSRC found = FindResourceExA(module, type, name, language);
    HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        std::fprintf(stderr, "velmora-show-manifest: a listed manifest cannot be loaded (%lu)\n", GetLastError());
        listing->failed = true;
        return FALSE;
    }
    const DWORD size = SizeofResource(module, found);
    if (IS_INTRESOURCE(name)) {
        std::printf("manifest %u", static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(name)));
    } else {
        std::printf("manifest %s", name);
    }
    std::printf(" language %04x bytes %lu\n", static_cast<unsigned>(language), size);
    std::fwrite(bytes, 1, size, stdout);
    ++listing->manifests;
    return TRUE;
}

BOOL CALLBACK ListLanguages(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param) {
    return EnumResourceLanguagesA(module, type, name, PrintLanguage, param);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: velmora-show-manifest FILE.exe\n");
        return 2;
    }
    // The XML goes out byte for byte, without CR added before each LF.
    _setmode(_fileno(stdout), _O_BINARY);
    // As data: the program is neither started nor resolved against its DLLs.
    HMODULE module = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) {
        std::fprintf(stderr, "velmora-show-manifest: cannot load %s (%lu)\n", argv[1], GetLastError());
        return 2;
    }
    Listing listing;
    if (!EnumResourceNamesA(module, ManifestType, ListLanguages, reinterpret_cast<LONG_PTR>(&listing))) {
        const DWORD error = GetLastError();
        // Without any resource section at all the listing ends with
        // ERROR_RESOURCE_DATA_NOT_FOUND; with one that holds no manifest, with
        // ERROR_RESOURCE_TYPE_NOT_FOUND.
        if (listing.failed || listing.manifests > 0 ||
            (error != ERROR_RESOURCE_TYPE_NOT_FOUND && error != ERROR_RESOURCE_DATA_NOT_FOUND)) {
            std::fprintf(stderr, "velmora-show-manifest: cannot list the manifests of %s (%lu)\n", argv[1], error);
            FreeLibrary(module);
            return 2;
        }
    }
    FreeLibrary(module);
    if (listing.manifests == 0) std::printf("no RT_MANIFEST resource\n");
    if (std::fflush(stdout) != 0) return 2;
    return listing.manifests > 0 ? 0 : 1;
}
