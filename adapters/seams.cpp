#include "adapters/seams.h"

uint32_t seamWriteCount;
uint32_t seamFailWrite;
uint32_t seamFlushCount;
uint32_t seamFailFlush;
void (*seamWritten)(int64_t position, const void* data, uint32_t count);
void (*seamFlushed)();
uint32_t seamRequestCount;
uint32_t seamFailRequest;
bool (*seamRestartRequest)(const char* from, const char* to);
void (*seamBeforeWritableOpen)(const char* path);
int (*seamOpenError)(const char* name);
std::atomic<int32_t> seamLiveBlocks{0};

bool SeamFailsWrite() {
    seamWriteCount += 1;
    return seamFailWrite != 0 && seamWriteCount == seamFailWrite;
}

bool SeamFailsRequest() {
    seamRequestCount += 1;
    return seamFailRequest != 0 && seamRequestCount == seamFailRequest;
}

bool SeamFailsFlush() {
    seamFlushCount += 1;
    return seamFailFlush != 0 && seamFlushCount == seamFailFlush;
}

void ResetSeams() {
    seamWriteCount = 0;
    seamFailWrite = 0;
    seamFlushCount = 0;
    seamFailFlush = 0;
    seamWritten = nullptr;
    seamFlushed = nullptr;
    seamRequestCount = 0;
    seamFailRequest = 0;
    seamRestartRequest = nullptr;
    seamBeforeWritableOpen = nullptr;
    seamOpenError = nullptr;
}
