#include "bench/inside_content.h"

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tests/support/archive_samples.h"
#include "tests/support/mail_samples.h"

namespace inside {

namespace {

constexpr uint32_t VocabularySize = 600;
constexpr uint32_t SnippetCount = 512;

// Words and snippets are the same in every run and every pool, as a
// language and an instruction set are.
const std::vector<std::string>& Vocabulary() {
    static const std::vector<std::string> words = [] {
        static const char* const syllables[] = {"ca", "la", "de", "mo", "ri", "sa", "te", "no", "ve", "pa",
                                                "lu", "go", "ci", "ta", "bu", "re", "es", "an", "or", "mi",
                                                "cho", "tra", "pen", "dis", "con", "ser", "al", "in", "que", "par"};
        constexpr uint32_t count = sizeof syllables / sizeof syllables[0];
        synth::Rng rng(0x766F6361u);
        std::vector<std::string> list;
        while (list.size() < VocabularySize) {
            std::string word;
            const uint32_t length = rng.Between(1, 4);
            for (uint32_t s = 0; s < length; ++s) word += syllables[rng.Below(count)];
            list.push_back(word);
        }
        return list;
    }();
    return words;
}

const std::vector<Bytes>& Snippets() {
    static const std::vector<Bytes> snippets = [] {
        synth::Rng rng(0x636F6465u);
        std::vector<Bytes> list(SnippetCount);
        for (Bytes& snippet : list) {
            snippet.resize(rng.Between(1, 6));
            rng.Fill(snippet.data(), snippet.size());
        }
        return list;
    }();
    return snippets;
}

// Small indices far more often than large ones, as in any text or code.
uint32_t Skewed(synth::Rng& rng, uint32_t count) { return rng.Below(rng.Below(count) + 1); }

Bytes CodeBytes(synth::Rng& rng, size_t size) {
    const std::vector<Bytes>& snippets = Snippets();
    Bytes code;
    code.reserve(size + 16);
    while (code.size() < size) {
        const Bytes& snippet = snippets[Skewed(rng, SnippetCount)];
        code.insert(code.end(), snippet.begin(), snippet.end());
        if (rng.Below(5) == 0) {
            // An address inside the image: its high bytes repeat.
            const uint32_t address = 0x401000u + 4u * rng.Below(0x4000);
            for (int i = 0; i < 4; ++i) code.push_back(static_cast<uint8_t>(address >> (8 * i)));
        }
    }
    code.resize(size);
    return code;
}

size_t RoundUp(size_t value, size_t unit) { return (value + unit - 1) / unit * unit; }

}  // namespace

std::string WordText(synth::Rng& rng, size_t size) {
    const std::vector<std::string>& words = Vocabulary();
    std::string text;
    text.reserve(size + 80);
    std::string line;
    bool capital = true;
    uint32_t sentence = 0;
    while (text.size() + line.size() < size) {
        std::string word = words[Skewed(rng, VocabularySize)];
        if (capital) word[0] = static_cast<char>(word[0] - 'a' + 'A');
        capital = false;
        if (++sentence >= 6 && rng.Below(8) == 0) {
            word += '.';
            capital = true;
            sentence = 0;
        }
        if (!line.empty() && line.size() + 1 + word.size() > 72) {
            text += line + "\r\n";
            if (capital && rng.Below(4) == 0) text += "\r\n";
            line.clear();
        }
        if (!line.empty()) line += ' ';
        line += word;
    }
    return text + line + "\r\n";
}

Bytes ProgramImage(synth::Rng& rng, size_t size) {
    if (size < 8192) size = 8192;
    const size_t codeSize = RoundUp(size * 6 / 10, 0x200);
    const size_t stringSize = RoundUp(size / 4, 0x200);
    synth::PeSpec spec;
    synth::PeSection code;
    code.name = ".text";
    code.data = CodeBytes(rng, codeSize);
    synth::PeSection strings;
    strings.name = ".rdata";
    strings.characteristics = 0x40000040u;
    const std::string text = WordText(rng, stringSize);
    strings.data.assign(text.begin(), text.end());
    synth::PeSection data;
    data.name = ".data";
    data.characteristics = 0xC0000040u;
    data.data.assign(size > codeSize + stringSize + 0x200 ? size - codeSize - stringSize : 0x200, 0);
    for (size_t at = 0; at + 4 <= data.data.size(); at += 4 * rng.Between(1, 64)) {
        synth::PutLe32(data.data, at, rng.Next32());
    }
    spec.sections = {code, strings, data};
    spec.entryPoint = synth::ResolvePe(spec).sections[0].virtualAddress + 0x10;
    return synth::BuildPe(spec);
}

Bytes Deflate(const Bytes& data) {
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
    Bytes out(deflateBound(&z, static_cast<uLong>(data.size())) + 64);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&z, Z_FINISH);
    out.resize(status == Z_STREAM_END ? z.total_out : 0);
    deflateEnd(&z);
    return out;
}

Pool::Pool(uint32_t seed, size_t perKind, uint32_t lowest, uint32_t highest, bool deflate, bool base64) {
    synth::Rng rng(seed);
    for (const Kind kind : {Kind::Program, Kind::Text, Kind::Random}) {
        for (size_t i = 0; i < perKind; ++i) {
            Pooled item;
            item.kind = kind;
            const uint32_t size = rng.Between(lowest, highest);
            if (kind == Kind::Program) {
                item.raw = ProgramImage(rng, size);
            } else if (kind == Kind::Text) {
                item.raw = synth::ToBytes(WordText(rng, size));
            } else {
                item.raw = synth::MakeFile(synth::FileKind::Random, size, rng.Next32());
            }
            if (deflate && kind != Kind::Random) item.deflated = Deflate(item.raw);
            item.crc = synth::ArchiveCrc(item.raw);
            if (base64) item.base64 = synth::Base64Lines(item.raw);
            items_.push_back(std::move(item));
        }
    }
}

const Pooled& Pool::Draw(synth::Rng& rng) const {
    const size_t perKind = items_.size() / 3;
    const uint32_t pick = rng.Below(100);
    const size_t kind = pick < 40 ? 0 : pick < 65 ? 1 : 2;  // programs 40 %, texts 25 %, random 35 %
    return items_[kind * perKind + rng.Below(static_cast<uint32_t>(perKind))];
}

synth::Sample PlantedWorm(uint32_t n, uint32_t seed) {
    return synth::MakeWormCopy(static_cast<int>(n % synth::WormRowCount), synth::SubSeed(seed, 0x574F0000u + n));
}

uint64_t ParseMegabytes(const char* text) {
    if (text == nullptr || *text < '1' || *text > '9') return 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    return *end == '\0' && value <= (1ull << 20) ? value : 0;
}

bool WriteFile(const std::string& path, const void* data, size_t size) {
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    bool written = file != nullptr && std::fwrite(data, 1, size, file) == size;
    if (file != nullptr && std::fclose(file) != 0) written = false;
    if (!written) std::fprintf(stderr, "velmora-bench-inside: cannot write %s\n", path.c_str());
    return written;
}

}  // namespace inside
