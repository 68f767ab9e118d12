// The status column texts of the results list.
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
