#pragma once

// Set once a row could not be written; nothing more is written after it.
extern bool outputFailed;
