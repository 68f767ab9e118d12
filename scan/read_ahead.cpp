#include "scan/read_ahead.h"

#include <new>
#include <string>

#include "engine/detectors.h"
#include "platform/threads.h"
#include "scan/handle_file.h"
#include "scan/inside.h"
#include "scan/scan_state.h"
#include "scan/step.h"
#include "scan/tree_walk.h"

void (*seamReaderExamines)(const char* path);
void (*seamHandlingWaits)(const char* path);
void (*seamReaderWakes)();

namespace {

// Steps the walk may be ahead of the handling: enough to keep every reader
// busy, few enough that memory stays flat on any tree.
constexpr uint32_t WindowSteps = 1024;

// A descriptor of its own for a folder whose files are in the window: the
// walk may leave the folder, and close its descriptor, before they are
// examined and handled. Counted: one use for each step of the window, and
// one while the walk is still handing over the folder's files.
struct Hold {
    int fd;
    int walkFd;
    uint32_t uses;
};

// Waiting: no one has taken the file yet. Claimed: a reader examines it.
// Recorded: its own bytes clean, and what lies inside it in the slot's
// record. Other: not found clean, or taken by the handling itself.
enum class Examination { Waiting, Claimed, Clean, Recorded, Other };

struct Slot {
    TreeStep step;  // its entry's texts point into path and name
    std::string path;
    std::string name;
    Hold* hold = nullptr;
    Examination examination = Examination::Waiting;  // under the lock
    InsideRecord record;  // the reader's, until the examination is set
};

struct Window {
    Slot slots[WindowSteps];
    // Steps are numbered in walk order; the window holds [head, tail).
    // Under the lock: tail, nextToExamine, closing, abandoned.
    uint64_t head = 0;
    uint64_t tail = 0;
    uint64_t nextToExamine = 0;
    // Until the step before this one is handled, the walk may not move on:
    // a file in it is reached through the walk's own descriptor.
    uint64_t walkWaitsFor = 0;
    bool closing = false;    // readers return
    bool abandoned = false;  // the scan was stopped: nothing more is examined
    // Posts wake only who sleeps: most files are put in the window while
    // readers are busy, and examined before the handling gets to them.
    uint32_t readers = 0;
    uint32_t sleepingReaders = 0;
    bool handlingWaits = false;  // for the step at head
    Hold* current = nullptr;  // the folder whose files the walk hands over
    LockHandle lock = nullptr;
    SemaphoreHandle work = nullptr;      // wakes a sleeping reader
    SemaphoreHandle examined = nullptr;  // wakes the handling waiting for the head

    Slot& At(uint64_t step) { return slots[step % WindowSteps]; }
};

// A mail folder or an archive is only ever read, so what a reader finds
// inside one whose own bytes are clean is what the handling would find:
// it is recorded, and the handling reports it without reading it again.
Examination ExamineAhead(HandledEntry entry, InsideRecord* record) {
    FileCheckContext context;
    context.path = entry.path;
    context.file = OpenHandledFile(&entry, OpenMode::Read);
    if (context.file == InvalidFileHandle) return Examination::Other;
    FileView view;
    OpenFileView(&view, context.file);
    Examination examination = Examination::Other;
    if (DetectThreatInView(&view, &context.threatName) == VerdictClean) {
        const InsideResult inside = ExamineInside(&view, context.file, entry.path, record);
        if (inside.worst == VerdictClean && !inside.noted) {
            examination = Examination::Clean;
        } else if (record->whole) {
            examination = Examination::Recorded;
        }
    }
    FileClose(context.file);
    return examination;
}

// A record that grew large for one file gives its memory back, so that
// the window's slots stay small; the next reading into it clears it.
void Forget(InsideRecord* record) {
    if (record->statuses.capacity() > 4096) std::string().swap(record->statuses);
}

// A reader: examines the window's files in walk order, each once, until the
// window closes. Once the scan is stopped it examines nothing more.
void Read(void* argument) {
    auto* window = static_cast<Window*>(argument);
    Acquire(window->lock);
    for (;;) {
        // While every reader slept or was busy, the handling may have taken
        // the files ahead of it itself, and the walk reused their slots for
        // steps a window further on: a step behind the head is done, and
        // its slot another step's.
        if (window->nextToExamine < window->head) window->nextToExamine = window->head;
        while (window->nextToExamine < window->tail &&
               window->At(window->nextToExamine).examination != Examination::Waiting) {
            window->nextToExamine += 1;
        }
        if (window->closing) break;
        if (window->nextToExamine == window->tail) {
            window->sleepingReaders += 1;
            Release(window->lock);
            WaitFor(window->work);
            if (seamReaderWakes != nullptr) seamReaderWakes();
            Acquire(window->lock);
            continue;
        }
        const uint64_t step = window->nextToExamine++;
        Slot& slot = window->At(step);
        slot.examination = Examination::Claimed;
        const bool abandoned = window->abandoned;
        const HandledEntry entry = slot.step.entry;
        Release(window->lock);

        Examination examination = Examination::Other;
        if (!abandoned) {
            if (seamReaderExamines != nullptr) seamReaderExamines(entry.path);
            if (StillScanning()) examination = ExamineAhead(entry, &slot.record);
        }
        Acquire(window->lock);
        slot.examination = examination;
        if (window->handlingWaits && step == window->head) {
            window->handlingWaits = false;
            Post(window->examined);
        }
    }
    Release(window->lock);
}

// Under the lock, after a file was put in the window: a sleeping reader is
// woken only when the readers awake have more files waiting than they can
// take. From a warm cache they take each file at once, and waking a reader
// for every file would cost more than its examination; from a cold disk they
// wait on it, the files pile up, and more readers are woken to add requests.
void WakeReader(Window* window) {
    const uint64_t next = window->nextToExamine > window->head ? window->nextToExamine : window->head;
    const uint64_t waiting = window->tail - next;
    if (window->sleepingReaders == 0 || waiting <= window->readers - window->sleepingReaders) return;
    window->sleepingReaders -= 1;
    Post(window->work);
}

void Unhold(Hold* hold) {
    if (hold == nullptr || --hold->uses != 0) return;
    ReleaseFolder(hold->fd);
    delete hold;
}

void SetCurrent(Window* window, Hold* hold) {
    Unhold(window->current);
    window->current = hold;
}

// Copies the step into the window; a file's folder is held for it. A file
// whose folder cannot be held keeps the walk's descriptor and is examined
// by the handling alone, and the walk waits until it is handled.
void Push(Window* window, const TreeStep& step) {
    Slot& slot = window->At(window->tail);
    slot.step = step;
    slot.path = step.entry.path;
    slot.step.entry.path = slot.path.c_str();
    if (step.entry.name != nullptr) {
        slot.name = step.entry.name;
        slot.step.entry.name = slot.name.c_str();
    }
    slot.hold = nullptr;
    Examination examination = Examination::Waiting;
    if (step.event != TreeEvent::File) {
        SetCurrent(window, nullptr);
        examination = Examination::Other;
    } else if (step.entry.folder != ByPath) {
        if (window->current == nullptr || window->current->walkFd != step.entry.folder) {
            const int held = HoldFolder(step.entry.folder);
            SetCurrent(window, held == ByPath ? nullptr : new (std::nothrow) Hold{held, step.entry.folder, 1});
            if (held != ByPath && window->current == nullptr) ReleaseFolder(held);
        }
        if (window->current != nullptr) {
            slot.hold = window->current;
            slot.hold->uses += 1;
            slot.step.entry.folder = slot.hold->fd;
        } else {
            examination = Examination::Other;
            window->walkWaitsFor = window->tail + 1;
        }
    }
    Acquire(window->lock);
    slot.examination = examination;
    window->tail += 1;
    if (examination == Examination::Waiting) WakeReader(window);
    Release(window->lock);
}

void Pop(Window* window) {
    Unhold(window->At(window->head).hold);
    window->At(window->head).hold = nullptr;
    Acquire(window->lock);
    window->head += 1;
    Release(window->lock);
}

// The verdict of a reader on the file at the head. A file no reader has
// taken yet is taken by the handling, which examines it itself (Other):
// waiting for a reader to be woken for it would cost more than the
// examination.
Examination SeenByReader(Window* window) {
    Slot& slot = window->At(window->head);
    Acquire(window->lock);
    if (slot.examination == Examination::Waiting) slot.examination = Examination::Other;
    if (seamHandlingWaits != nullptr && slot.examination == Examination::Claimed) {
        Release(window->lock);
        seamHandlingWaits(slot.step.entry.path);
        Acquire(window->lock);
    }
    while (slot.examination == Examination::Claimed) {
        window->handlingWaits = true;
        Release(window->lock);
        WaitFor(window->examined);
        Acquire(window->lock);
    }
    const Examination examination = slot.examination;
    Release(window->lock);
    return examination;
}

// After a stop, as in the sequential walk: the file in hand was finished,
// nothing else is examined or handled, and the folders the handling entered
// are left (with what is still to be said about them). Folders the walk
// entered ahead of the handling were never shown, and are not left either;
// nor is one whose entry was the last step handled, which the sequential
// walk would never have listed, unless its entry already said it could not
// be opened.
void Stop(Window* window, bool justEntered) {
    Acquire(window->lock);
    window->abandoned = true;
    window->handlingWaits = false;  // so readers no longer look at head
    Release(window->lock);
    StopTree();
    uint32_t unseen = 0;
    if (justEntered && window->head != window->tail) {
        const TreeStep& next = window->At(window->head).step;
        const bool unopened = next.event == TreeEvent::FolderProblem &&
                              (next.problem == FolderProblem::Unopened || next.problem == FolderProblem::Replaced);
        if (!unopened) unseen = 1;
    }
    auto leave = [&unseen](TreeStep* step) {
        if (step->event == TreeEvent::EnterFolder) {
            unseen += 1;
        } else if (unseen > 0) {
            if (step->event == TreeEvent::LeaveFolder) unseen -= 1;
        } else if (step->event == TreeEvent::LeaveFolder || step->event == TreeEvent::FolderProblem) {
            TakeStep(step, false);
        }
    };
    // Readers may still be examining files of the window: their folders
    // stay held until the readers have returned.
    while (window->head != window->tail) {
        leave(&window->At(window->head).step);
        Acquire(window->lock);
        window->head += 1;
        Release(window->lock);
    }
    TreeStep step;
    while (NextStep(&step)) leave(&step);
}

void Walk(Window* window) {
    bool walking = true;
    for (;;) {
        // A stopped scan still takes its first step, as the sequential walk
        // does: the folder is entered, and left unlisted.
        while (walking && window->tail - window->head < WindowSteps && window->head >= window->walkWaitsFor &&
               (StillScanning() || window->head == window->tail)) {
            TreeStep step;
            walking = NextStep(&step);
            if (walking) Push(window, step);
        }
        if (window->head == window->tail) break;
        Slot& slot = window->At(window->head);
        const Examination examination =
            slot.step.event == TreeEvent::File ? SeenByReader(window) : Examination::Other;
        const bool recorded = examination == Examination::Recorded;
        TakeStep(&slot.step, recorded || examination == Examination::Clean, recorded ? &slot.record : nullptr);
        Forget(&slot.record);
        const bool entered = slot.step.event == TreeEvent::EnterFolder;
        Pop(window);
        if (!StillScanning()) {
            Stop(window, entered);
            break;
        }
    }
}

}  // namespace

bool WalkWithReaders(uint32_t readers) {
    if (readers > MostScanReaders) readers = MostScanReaders;
    auto* window = new (std::nothrow) Window;
    ThreadHandle threads[MostScanReaders] = {};
    uint32_t started = 0;
    if (window != nullptr) {
        window->lock = NewLock();
        window->work = NewSemaphore();
        window->examined = NewSemaphore();
        if (window->lock != nullptr && window->work != nullptr && window->examined != nullptr) {
            for (; started < readers; ++started) {
                // Readers run behind the handling: from a warm cache they
                // would otherwise crowd out the one thread that walks and
                // hands them their files.
                threads[started] = StartThread(Read, window, true);
                if (threads[started] == nullptr) break;
            }
        }
    }
    if (started != 0) {
        window->readers = started;
        Walk(window);
    }
    if (window != nullptr && started != 0) {
        Acquire(window->lock);
        window->closing = true;
        Post(window->work, window->sleepingReaders);
        window->sleepingReaders = 0;
        Release(window->lock);
        for (uint32_t i = 0; i < started; ++i) JoinThread(threads[i]);
    }
    if (window != nullptr) {
        SetCurrent(window, nullptr);
        for (Slot& slot : window->slots) Unhold(slot.hold);
        FreeSemaphore(window->examined);
        FreeSemaphore(window->work);
        FreeLock(window->lock);
        delete window;
    }
    return started != 0;
}
