#include "scan/inside.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "containers/archive.h"
#include "containers/mail.h"
#include "engine/detectors.h"
#include "scan/front_end.h"
#include "scan/scan_state.h"
#include "scan/texts.h"

namespace {

// The readers use only the bytes a read reports, so the buffer is not
// cleared first as ReadAt does: a mail folder is read whole, and clearing
// each window would cost a tenth of the scan.
uint32_t ReadFromFile(const void* context, uint64_t offset, void* buffer, uint32_t count) {
    if (offset > LargestFilePosition) return 0;
    const FileHandle file = *static_cast<const FileHandle*>(context);
    FileSeek(file, static_cast<int32_t>(offset), SeekOrigin::Begin);
    return FileRead(file, buffer, count);
}

// Where the program's own bytes end: the end of its furthest section. A
// self-extracting archive begins after it.
bool ProgramEnd(const FileView& view, uint64_t* end) {
    if ((view.kind & (KindPeImage | KindPeDll)) == 0) return false;
    uint64_t furthest = 0;
    uint32_t pointer = 0, size = 0;
    // The header block holds exactly the section table, so the reads end it.
    for (uint32_t index = 0; index < 0x10000u && SectionRawRange(view.peHeaders, index, &pointer, &size); ++index) {
        const uint64_t sectionEnd = uint64_t{pointer} + size;
        if (size != 0 && sectionEnd > furthest) furthest = sectionEnd;
    }
    *end = furthest;
    return furthest != 0;
}

// A text from the file for a status: control bytes would break a row in
// two or hide part of it, so each shows as '?'.
void AppendShown(std::string* out, const char* text) {
    for (const char* c = text; *c != '\0'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        out->push_back(byte < 0x20 || byte == 0x7F ? '?' : *c);
    }
}

// " (subject, date, name)" for a message's attachment, " (name)" for an
// entry: how the user finds what a row is about.
std::string ItemNamed(const ContainedItem& item, bool mail) {
    std::string text = " (";
    if (mail) {
        AppendShown(&text, item.subject);
        text.append(", ");
        AppendShown(&text, item.date);
        text.append(", ");
    }
    AppendShown(&text, item.name);
    text.push_back(')');
    return text;
}

// A record holds at most this much text: a reader that finds more leaves
// the file to the handling, which reports as it reads.
constexpr size_t RecordBound = 32u << 10;

struct Inspection {
    const char* path = nullptr;
    InsideRecord* record = nullptr;  // null: report at once
    bool full = false;               // the record could not take a row
    bool mail = false;
    InsideResult result;
    bool infected = false;  // any item of this file
    bool anyMessage = false;
    uint32_t lastMessage = 0;  // the last message counted as infected
};

void AddRow(Inspection* in, const std::string& status) {
    if (in->record == nullptr) {
        AddResultRow(in->path, status.c_str());
    } else if (in->record->statuses.size() + status.size() < RecordBound) {
        in->record->statuses.append(status).push_back('\0');
    } else {
        in->full = true;
    }
}

ScanCounters& Counters(Inspection* in) { return in->record != nullptr ? in->record->counted : ScanStatistics; }

void ReportFinding(Inspection* in, const ContainedItem& item, bool infected, ThreatName threat) {
    std::string status = in->mail ? (infected ? MailInfectedPrefix : MailWarningPrefix)
                                  : (infected ? ArchiveInfectedPrefix : ArchiveWarningPrefix);
    status.append(threat != nullptr ? threat->text : "").append(ItemNamed(item, in->mail));
    AddRow(in, status);
}

bool OnItem(void* context, const ContainedItem& item) {
    auto* in = static_cast<Inspection*>(context);
    if (!StillScanning()) return false;
    if (item.crcMismatch) {
        in->result.noted = true;
        AddRow(in, CrcMismatchText + ItemNamed(item, false));
    }
    FileCheckContext check;
    const Verdict verdict = DetectThreatInMemory(&check, item.data, item.size);
    if (verdict == VerdictInfected) {
        in->result.worst = VerdictInfected;
        ReportFinding(in, item, true, check.threatName);
        in->infected = true;
        if (in->mail && (!in->anyMessage || item.message != in->lastMessage)) {
            Counters(in).infectedMessages += 1;
            in->anyMessage = true;
            in->lastMessage = item.message;
        }
    } else if (verdict == VerdictWarning) {
        if (in->result.worst == VerdictClean) in->result.worst = VerdictWarning;
        ReportFinding(in, item, false, check.threatName);
        Counters(in).warnings += 1;
    }
    return !in->full;
}

void ReportOutcome(Inspection* in, const ContainerOutcome& outcome) {
    if (outcome.notExamined != 0) {
        in->result.noted = true;
        Counters(in).notExamined += static_cast<int32_t>(outcome.notExamined);
    }
    if (outcome.damaged && !outcome.stopped) {
        in->result.noted = true;
        char status[256];
        std::snprintf(status, sizeof status, in->mail ? MailDamagedFormat : ArchiveDamagedFormat,
                      static_cast<unsigned long long>(outcome.where), outcome.why);
        AddRow(in, status);
    }
    if (in->infected && !in->mail) Counters(in).infectedArchives += 1;
    if (in->record != nullptr) in->record->whole = !outcome.stopped && !in->full;
}

}  // namespace

void ReportRecorded(const char* path, const InsideRecord& record) {
    const std::string& all = record.statuses;
    for (size_t at = 0; at < all.size(); at = all.find('\0', at) + 1) AddResultRow(path, all.c_str() + at);
    ScanStatistics.infectedMessages += record.counted.infectedMessages;
    ScanStatistics.infectedArchives += record.counted.infectedArchives;
    ScanStatistics.notExamined += record.counted.notExamined;
    ScanStatistics.warnings += record.counted.warnings;
}

InsideResult ExamineInside(FileView* view, FileHandle file, const char* path, InsideRecord* record) {
    Inspection in;
    in.path = path;
    in.record = record;
    if (record != nullptr) {
        record->statuses.clear();
        record->counted = ScanCounters{};
        record->whole = true;
    }
    // The view's size is the open's, where the open told it.
    uint32_t size = view->size;
    if (!view->sizeKnown && !FileGetSize(file, &size)) return in.result;
    const FileHandle handle = file;
    ByteSource source;
    source.context = &handle;
    source.readAt = ReadFromFile;
    source.size = size;

    ContainerKind kind = RecognizeContainer(view->head, view->headLength);
    uint64_t start = 0;
    uint64_t programEnd = 0;
    if (kind == ContainerKind::None && ProgramEnd(*view, &programEnd) && programEnd < size &&
        !FindAppendedArchive(source, programEnd, &kind, &start)) {
        kind = ContainerKind::None;
    }
    ContainerOutcome outcome;
    switch (kind) {
        case ContainerKind::None:
            return in.result;
        case ContainerKind::OutlookExpress:
        case ContainerKind::Mbox:
        case ContainerKind::MailMessage:
            in.mail = true;
            outcome = ReadMail(kind, source, OnItem, &in, DetectionReach);
            break;
        case ContainerKind::Zip:
        case ContainerKind::Rar4:
        case ContainerKind::Rar5:
            outcome = ReadArchive(kind, source, start, OnItem, &in);
            break;
    }
    ReportOutcome(&in, outcome);
    return in.result;
}
