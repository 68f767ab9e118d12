#include "tests/write_log.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "adapters/seams.h"

namespace writelog {

std::vector<Event> events;

namespace {

constexpr uint64_t PageSize = 4096;
constexpr size_t MostDirtyPages = 14;

void Written(int64_t position, const void* data, uint32_t count) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    events.push_back({Event::Write, position, Bytes(bytes, bytes + count), seamRequestCount});
}

void Flushed() { events.push_back({Event::Flush, 0, {}, seamRequestCount}); }

}  // namespace

void Start() {
    events.clear();
    seamWritten = Written;
    seamFlushed = Flushed;
}

void Mark() { events.push_back({Event::Mark, 0, {}, seamRequestCount}); }

bool PowerCutStates(const Bytes& before, std::vector<Bytes>* states) {
    states->clear();
    std::set<Bytes> found{before};
    Bytes durable = before;
    Bytes current = before;
    std::set<uint64_t> dirty;
    for (const Event& event : events) {
        if (event.kind == Event::Flush) {
            durable = current;
            dirty.clear();
            continue;
        }
        if (event.kind != Event::Write) continue;
        const uint64_t position = static_cast<uint64_t>(event.position);
        if (event.position < 0 || event.bytes.size() > current.size() ||
            position > current.size() - event.bytes.size()) {
            return false;
        }
        std::memcpy(current.data() + position, event.bytes.data(), event.bytes.size());
        for (uint64_t page = position / PageSize; page <= (position + event.bytes.size() - 1) / PageSize; ++page) {
            dirty.insert(page);
        }
        if (dirty.size() > MostDirtyPages) return false;
        const std::vector<uint64_t> pages(dirty.begin(), dirty.end());
        for (uint32_t subset = 0; subset < (1u << pages.size()); ++subset) {
            Bytes state = durable;
            for (size_t i = 0; i < pages.size(); ++i) {
                if ((subset >> i & 1u) == 0) continue;
                const size_t start = static_cast<size_t>(pages[i] * PageSize);
                const size_t length = std::min<size_t>(PageSize, state.size() - start);
                std::memcpy(state.data() + start, current.data() + start, length);
            }
            found.insert(std::move(state));
        }
    }
    states->assign(found.begin(), found.end());
    return true;
}

}  // namespace writelog
