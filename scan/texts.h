// Every text the scan shows the user: the status column of the results list
// and the report's heading and labels.
#pragma once

extern const char InfectedPrefix[];
extern const char SuspiciousPrefix[];
extern const char WarningPrefix[];
extern const char OpenErrorText[];
extern const char DisinfectedText[];
extern const char UnableToDisinfectText[];
extern const char DeletedText[];
extern const char DeletedAtRestartText[];
extern const char CopyMadeText[];
extern const char DisinfectedAtRestartText[];
extern const char UnableToOpenText[];
// For an entry whose path does not fit the path buffer.
extern const char PathTooLongText[];

extern const char ReportHeading[];
extern const char FoldersLabel[];
extern const char FilesLabel[];
extern const char InfectedLabel[];
extern const char WarningsLabel[];
extern const char SuspiciousLabel[];
extern const char DisinfectedLabel[];
extern const char DeletedLabel[];
extern const char DisinfectedAtRestartLabel[];
extern const char DeletedAtRestartLabel[];
extern const char FailedLabel[];
