// Every text the command-line scanner writes besides the scan's own rows.
#pragma once

extern const char UsageText[];
extern const char ProgramPrefix[];  // starts every line on standard error
extern const char UnknownOptionText[];
extern const char BadJobsText[];
extern const char NoPathText[];
extern const char InterruptedText[];
extern const char OutputFailedText[];  // printf format: the system's reason
extern const char ProgressCountsFormat[];  // files, folders, findings, files per second

// Why a starting path is refused.
extern const char CannotReadText[];
extern const char SymbolicLinkText[];
extern const char NotFileOrFolderText[];
extern const char StartTooLongText[];

// What could not be examined during the scan.
extern const char UnopenedFileText[];
extern const char ReplacedFileText[];
extern const char UnlistedFolderText[];
extern const char UnopenedFolderText[];
extern const char ReplacedFolderText[];
extern const char MovedFolderText[];
extern const char EntryTooLongText[];
extern const char OtherDeviceText[];

// The quarantine and the restore.
extern const char ManifestName[];
extern const char QuarantineUnusableText[];
extern const char QuarantineSaveFailedText[];
extern const char QuarantineRecordFailedText[];
extern const char QuarantineLinkText[];
extern const char QuarantineNotFolderText[];
extern const char QuarantineNotOwnedText[];
extern const char QuarantineWritableText[];
extern const char ManifestNotFileText[];
extern const char ManifestNewerText[];
extern const char ManifestLineRefusedFormat[];  // printf format: the line's number; the line follows
extern const char ManifestMoreRefusedFormat[];  // printf format: how many more
extern const char RestoredText[];
extern const char RestoreChangedText[];
extern const char RestoreUnreadableText[];
extern const char RestoreNotFileText[];
extern const char RestoreGoneText[];
extern const char RestoreLinkText[];
extern const char RestoreDiskFullText[];
extern const char RestoreDamagedText[];
extern const char RestoreEntryUnreadableText[];
extern const char RestoreFailedText[];
extern const char RestoreOwnerLostText[];
extern const char RestoreNothingSavedText[];
extern const char RestorePendingRestartText[];
extern const char MissingArgumentText[];
