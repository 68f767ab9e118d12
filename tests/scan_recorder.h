// The test front end of the scan: it records what a run writes.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace recorder {

struct Row {
    std::string object;
    std::string status;
    bool operator==(const Row& other) const { return object == other.object && status == other.status; }
};

extern std::vector<Row> rows;
extern std::vector<std::string> shownObjects;
extern int reports;
// The notes for front ends that tell what could not be examined, each as
// "kind path": "unopened", "unlisted", "unopened-folder", "replaced",
// "moved", "too-long".
extern std::vector<std::string> notes;
extern int filesExamined;
// What SaveBeforeChange answers; each call is noted as "saved path" with
// the examined file's size, and NoteChangeDone as "done path outcome".
extern bool saveSucceeds;
extern std::vector<std::string> changes;
// Called after every recorded row, so that tests can act in the middle of
// a run (for example, ask it to stop).
extern std::function<void(const Row&)> onRow;
// Called after every object shown.
extern std::function<void(const std::string&)> onShow;

// Forgets everything recorded and removes the hook.
void Reset();

// Rows as "object|status" lines, for readable failure messages.
std::string Dump();

}  // namespace recorder
