// The program's own texts, shared by the dialog, the report and the about box.
#pragma once

extern const char* const ThreatsHeading;
extern const char* const ThreatList;
extern const char* const PromotionText;
extern const char* const VendorHost;
extern const char* const MakerNotice;
extern const char* const AllDrivesText;
extern const char* const ScanButtonText;
extern const char* const InterruptButtonText;
extern const char* const InterruptQuestion;
extern const char* const RestartWarning;
extern const char* const InfectedMailWarning;
extern const char* const FolderBrowserTitle;
extern const char* const ObjectLabel;
extern const char* const SelectFolderButtonText;
extern const char* const AboutButtonText;
extern const char* const ExitButtonText;
extern const char* const FileColumnTitle;
extern const char* const StatusColumnTitle;
