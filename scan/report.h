#pragma once

// Appends the report of the current statistics through AddResultRow: the
// heading row, then one row per counter shown to the user.
void WriteReportRows();
