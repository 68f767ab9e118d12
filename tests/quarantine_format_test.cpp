// The roots of Windows paths, as the restore of a Windows quarantine reads
// them: on every platform, since the rule is text.
#include <gtest/gtest.h>

#include <string>

#include "cli/quarantine_format.h"

namespace {

TEST(WindowsRootLength, EachRootFormAtItsLimitAndJustPastIt) {
    struct Row {
        const char* path;
        size_t root;       // 0: no root
        size_t namesFrom;  // where the names to check begin, when there is a root
    };
    const Row rows[] = {
        {"C:\\x", 3, 3},
        {"z:/x", 3, 3},
        {"C:\\", 3, 3},
        {"C:", 0, 0},
        {"C:x", 0, 0},
        {"1:\\x", 0, 0},
        {"\\\\server\\share\\x", 15, 2},
        {"//server/share/x", 15, 2},
        {"\\\\server\\share\\", 15, 2},  // the root and nothing more
        {"\\\\server\\share", 0, 0},     // no separator after the share
        {"\\\\server", 0, 0},
        {"\\\\s\\t\\x", 6, 2},
        {"\\\\?\\C:\\x", 7, 7},
        {"\\\\?\\UNC\\server\\share\\x", 21, 8},
        {"\\\\?\\UNC\\server\\share", 0, 0},
        {"\\x", 0, 0},
        {"", 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        size_t namesFrom = 12345;
        EXPECT_EQ(WindowsRootLength(row.path, &namesFrom), row.root);
        if (row.root != 0) {
            EXPECT_EQ(namesFrom, row.namesFrom);
        }
        EXPECT_EQ(WindowsRootLength(row.path), row.root);
    }
}

}  // namespace
