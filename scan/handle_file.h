// The per-file handling: examine, report, and repair, delete or treat a copy.
#pragma once

// Examines the file named in CurrentObjectPath.
void HandleFile();
