// Runs a fuzz harness without libFuzzer: each argument is a file (one input)
// or a folder (every regular file in it, recursively, in name order). Used to
// reproduce a crash file under a debugger or another sanitizer build, and to
// re-check a whole corpus.

#include <algorithm>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// Present when a sanitizer runtime is linked in; it then owns the fatal
// signals and calls back before the process dies.
extern "C" void __sanitizer_set_death_callback(void (*callback)(void)) __attribute__((weak));

namespace {

// The input being run, named when the process dies so that a corpus replay
// points at the culprit without printing every name.
const char* g_currentInput = nullptr;

void NameCurrentInput() {
    if (g_currentInput != nullptr) {
        std::fputs("replay: the failing input is ", stderr);
        std::fputs(g_currentInput, stderr);
        std::fputs("\n", stderr);
        g_currentInput = nullptr;
    }
}

void OnFatalSignal(int sig) {
    NameCurrentInput();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// The harness's own checks end in abort(), which the sanitizers leave alone;
// the other fatal signals are theirs when they are linked in.
void InstallDeathReport() {
    std::signal(SIGABRT, OnFatalSignal);
    if (__sanitizer_set_death_callback != nullptr) {
        __sanitizer_set_death_callback(NameCurrentInput);
        return;
    }
    for (int sig : {SIGSEGV, SIGFPE, SIGILL}) {
        std::signal(sig, OnFatalSignal);
    }
}

bool ReadWhole(const std::string& path, std::vector<uint8_t>* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool Collect(const std::string& arg, std::vector<std::string>* inputs) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_directory(arg, ec)) {
        inputs->push_back(arg);
        return true;
    }
    std::vector<std::string> found;
    for (fs::recursive_directory_iterator it(arg, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code file_ec;
        if (it->is_regular_file(file_ec) && !file_ec) {
            found.push_back(it->path().string());
        }
    }
    if (ec) {
        std::fprintf(stderr, "replay: cannot walk %s: %s\n", arg.c_str(), ec.message().c_str());
        return false;
    }
    std::sort(found.begin(), found.end());
    inputs->insert(inputs->end(), found.begin(), found.end());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE_OR_FOLDER...\n", argv[0]);
        return 2;
    }
    std::vector<std::string> inputs;
    for (int i = 1; i < argc; ++i) {
        if (!Collect(argv[i], &inputs)) {
            return 2;
        }
    }
    InstallDeathReport();
    std::vector<uint8_t> bytes;
    for (const std::string& path : inputs) {
        if (!ReadWhole(path, &bytes)) {
            std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
            return 2;
        }
        g_currentInput = path.c_str();
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        g_currentInput = nullptr;
    }
    std::printf("replay: %zu inputs ran without a finding\n", inputs.size());
    return 0;
}
