#include "tests/scan_fixture.h"

#include "scan/handle_file.h"

void ScanFolderTest::HandleFileForTest() { HandleFile(); }
