#include "cli/texts.h"

const char UsageText[] =
    "Usage: velmora-scan [--detect-only] [--quiet] [-x] [-j N] [--quarantine DIR] PATH...\n"
    "       velmora-scan --restore DIR [PATH...]\n"
    "Examine every file under each PATH (a file is examined alone) for\n"
    "Win32.Klez@mm (A, B, C, D, E, G, H) and Win32.Elkern (A, B, C):\n"
    "infected hosts are repaired in place, worm copies are deleted.\n"
    "Prints one line per finding or action (path, tab, status), then the report.\n"
    "A path is written as it is unless it holds a control byte or a backslash\n"
    "(on Windows, where the backslash separates folders: unless it holds a\n"
    "control byte or begins with a backslash). Such a path is escaped and its\n"
    "line begins with a backslash: backslash, tab, newline, carriage return and\n"
    "other control bytes are written as \\\\, \\t, \\n, \\r and \\xHH, so every\n"
    "line has one tab. Paths on standard error follow the same rule.\n"
    "On the Windows NT family the command line is read as wide text; rows and\n"
    "messages are written to a console with WriteConsoleW, and to a file or a\n"
    "pipe as UTF-8. On Windows 95, 98 and Me they are in the system's code page.\n"
    "The escaping rule is the same everywhere.\n"
    "On a terminal, standard error shows the progress of the scan.\n"
    "Exit status: the sum of\n"
    "  1  something was found\n"
    "  2  an error: a usage error, a starting path that cannot be read, a folder\n"
    "     that could not be listed, a file that could not be opened, output that\n"
    "     could not be written, or a scan stopped before its end; each error is\n"
    "     named on standard error\n"
    "  4  something found was not disinfected (\"incapaz de desinfectar\", or only\n"
    "     scheduled for a restart); never with --detect-only\n"
    "0 means everything was examined and nothing was found.\n"
    "  --detect-only  examine and report only; change no file\n"
    "  --quiet        no progress display\n"
    "  -x, --one-file-system\n"
    "                 do not descend into folders on another file system than\n"
    "                 their PATH (Windows: mounted volumes and junctions); each\n"
    "                 is named on standard error, which is no error\n"
    "  -j, --jobs N   examine with N readers (1 to 256) ahead of the handling,\n"
    "                 which stays on one thread, in walk order: rows, counters\n"
    "                 and files are the same for every N; -j 1 examines each\n"
    "                 file as it is handled; the default is 16, since readers\n"
    "                 mostly wait for the disk\n"
    "  --quarantine DIR\n"
    "                 before a file is repaired or deleted, save it whole, with\n"
    "                 its owner, group and mode, into DIR (created private;\n"
    "                 never walked); a file that cannot be saved is left as it\n"
    "                 is: \"incapaz de desinfectar\"; DIR may be shared by scans\n"
    "                 that run at once\n"
    "  --restore DIR  put back the files saved in DIR, all or those under each\n"
    "                 PATH, by the absolute paths recorded, through no link;\n"
    "                 each is checked against its SHA-256, and a file changed\n"
    "                 since the scan is named, not overwritten; exit status 0,\n"
    "                 or 2 if anything could not be put back\n"
    "  An existing DIR must be a folder of the user's own that no one else can\n"
    "  write to (POSIX), or it is not used.\n"
    "  --help         show this text\n"
    "  --version      show the version\n";
const char ProgramPrefix[] = "velmora-scan: ";
const char UnknownOptionText[] = "unknown option ";
const char BadJobsText[] = "-j takes a number of readers from 1 to 256, not ";
const char NoPathText[] = "no path given; try --help";
const char InterruptedText[] = "the scan was interrupted; the report covers only what was examined";
const char OutputFailedText[] = "cannot write the results (%s); the scan stops after the file in hand";
const char ProgressCountsFormat[] = "%d ficheros, %d carpetas, %d hallazgos, %llu/s ";

const char CannotReadText[] = "cannot read";
const char SymbolicLinkText[] = "is a symbolic link; give its target";
const char NotFileOrFolderText[] = "is neither a folder nor a regular file";
const char StartTooLongText[] = "path too long";

const char UnopenedFileText[] = "cannot open the file";
const char ReplacedFileText[] = "cannot open the file: it was replaced during the scan";
const char UnlistedFolderText[] = "cannot list the folder";
const char UnopenedFolderText[] = "cannot open the folder";
const char ReplacedFolderText[] = "cannot list the folder: it was replaced during the scan";
const char MovedFolderText[] = "the folder was moved during the scan; the rest of it is not examined";
const char EntryTooLongText[] = "an entry's path is too long; it is not examined";
const char OtherDeviceText[] = "on another file system; not examined (--one-file-system)";

const char ManifestName[] = "manifest.txt";
const char QuarantineUnusableText[] = "cannot use as a quarantine";
const char QuarantineSaveFailedText[] = "cannot be saved into the quarantine; it is left as it is";
const char QuarantineRecordFailedText[] = "cannot write the quarantine's manifest";
const char QuarantineLinkText[] = "is a symbolic link; not used as a quarantine";
const char QuarantineNotFolderText[] = "is not a folder; not used as a quarantine";
const char QuarantineNotOwnedText[] = "belongs to another user; not used as a quarantine";
const char QuarantineWritableText[] =
    "can be written by others than its owner; not used as a quarantine (chmod go-w makes it usable)";
const char ManifestNotFileText[] = "is not a regular file; not used as a quarantine's manifest";
const char ManifestNewerText[] = "was written by a newer version of the scanner; not read";
const char ManifestLineRefusedFormat[] = "line %llu is not one the scanner writes; it is not obeyed: ";
const char ManifestMoreRefusedFormat[] = "%llu more lines are not ones the scanner writes; they are not obeyed";
const char RestoredText[] = "restaurado";
const char RestoreChangedText[] = "changed since the scan; not restored";
const char RestoreUnreadableText[] = "cannot be read; not restored";
const char RestoreNotFileText[] = "is not a regular file now; not restored";
const char RestoreGoneText[] = "its folder is gone; not restored";
const char RestoreLinkText[] = "a folder on its way is a link now; not restored";
const char RestoreDiskFullText[] = "the disk is full; not restored";
const char RestoreDamagedText[] = "the saved copy is damaged; not restored";
const char RestoreEntryUnreadableText[] = "the saved copy cannot be read; not restored";
const char RestoreFailedText[] = "cannot be put back";
const char RestoreOwnerLostText[] =
    "restored, but its owner and group could not be given back (nor a set-user-ID or set-group-ID bit)";
const char RestoreNothingSavedText[] = "nothing saved in the quarantine lies under it";
const char RestorePendingRestartText[] =
    "Windows will still replace or delete it at the next restart; not restored (restart first, then restore again)";
const char MissingArgumentText[] = "a value is missing after ";
