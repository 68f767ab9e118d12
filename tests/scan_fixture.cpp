#include "tests/scan_fixture.h"

#include "scan/scan_run.h"

void ScanFolderTest::HandleFileForTest() { HandleFile(); }
