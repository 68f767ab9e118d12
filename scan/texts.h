// Every text the scan shows the user: the status column of the results list
// and the report's heading and labels.
#pragma once

extern const char* const InfectedPrefix;
extern const char* const SuspiciousPrefix;
extern const char* const WarningPrefix;
extern const char* const OpenErrorText;
extern const char* const DisinfectedText;
extern const char* const UnableToDisinfectText;
extern const char* const DeletedText;
extern const char* const DeletedAtRestartText;
extern const char* const CopyMadeText;
extern const char* const DisinfectedAtRestartText;
extern const char* const UnableToOpenText;
// For an entry whose path does not fit the path buffer.
extern const char* const PathTooLongText;

extern const char* const ReportHeading;
extern const char* const FoldersLabel;
extern const char* const FilesLabel;
extern const char* const InfectedLabel;
extern const char* const WarningsLabel;
extern const char* const SuspiciousLabel;
extern const char* const DisinfectedLabel;
extern const char* const DeletedLabel;
extern const char* const DisinfectedAtRestartLabel;
extern const char* const DeletedAtRestartLabel;
extern const char* const FailedLabel;
