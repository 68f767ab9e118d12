#include "scan/step.h"

#include "scan/front_end.h"
#include "scan/handle_file.h"
#include "scan/scan_state.h"
#include "scan/texts.h"
#include "scan/tree_walk.h"

void TakeStep(TreeStep* step, bool foundClean, const InsideRecord* inside) {
    const char* path = step->entry.path;
    switch (step->event) {
        case TreeEvent::EnterFolder:
            ScanStatistics.folders += 1;
            ShowObject(path);
            break;
        case TreeEvent::LeaveFolder:
            ShowObject(path);
            break;
        case TreeEvent::File:
            if (foundClean) {
                CountCleanFile();
                if (inside != nullptr) ReportRecorded(path, *inside);
            } else {
                HandleFile(&step->entry);
            }
            NoteFileExamined();
            break;
        case TreeEvent::PathTooLong:
            // Said under the folder rather than examined under a
            // truncated name.
            AddResultRow(path, PathTooLongText);
            NotePathTooLong(path);
            break;
        case TreeEvent::FolderProblem:
            NoteUnlistedFolder(path, step->problem, step->error);
            break;
    }
}

