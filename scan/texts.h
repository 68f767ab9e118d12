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

// What lies inside mail folders and archives: the status of a finding is
// the prefix, the threat and, in brackets, how to find the message (its
// subject, date and the attachment's name) or the entry (its path inside).
extern const char MailInfectedPrefix[];
extern const char MailWarningPrefix[];
extern const char ArchiveInfectedPrefix[];
extern const char ArchiveWarningPrefix[];
extern const char CrcMismatchText[];
// printf formats: the byte where reading stopped, and why.
extern const char MailDamagedFormat[];
extern const char ArchiveDamagedFormat[];

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
// Report lines shown only when their count is not zero; the value is the
// count followed by the advice.
extern const char InfectedMessagesLabel[];
extern const char InfectedMessagesAdvice[];
extern const char InfectedArchivesLabel[];
extern const char InfectedArchivesAdvice[];
extern const char NotExaminedLabel[];
