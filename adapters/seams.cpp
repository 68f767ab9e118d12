#include "adapters/seams.h"

uint32_t seamWriteCount;
uint32_t seamFailWrite;
uint32_t seamRequestCount;
uint32_t seamFailRequest;
bool (*seamRestartRequest)(const char* from, const char* to);
void (*seamBeforeWritableOpen)(const char* path);

bool SeamFailsWrite() {
    seamWriteCount += 1;
    return seamFailWrite != 0 && seamWriteCount == seamFailWrite;
}

bool SeamFailsRequest() {
    seamRequestCount += 1;
    return seamFailRequest != 0 && seamRequestCount == seamFailRequest;
}

void ResetSeams() {
    seamWriteCount = 0;
    seamFailWrite = 0;
    seamRequestCount = 0;
    seamFailRequest = 0;
    seamRestartRequest = nullptr;
    seamBeforeWritableOpen = nullptr;
}
