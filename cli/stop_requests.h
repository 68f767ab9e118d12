// Requests from outside to stop the scan: signals on POSIX, console control
// events on Windows. Like the dialog's interrupt they only clear
// keepScanning, so the scan ends after the file in hand and the report is
// still written.
#pragma once

void InstallStopRequests();
// Called once the report is out; a Windows console that is being closed is
// held open until then.
void ScanFinished();
