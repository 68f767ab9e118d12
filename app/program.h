// The program's window side: entry, main dialog, link label, and the
// process-wide values they share. Everything here runs on the
// user-interface thread unless a comment says otherwise.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "app/seams.h"
#include "platform/message_box.h"

// Scan states of the main dialog.
enum : int32_t { StateInitialising = 0, StateIdle = 1, StateScanning = 2, StateStopping = 3 };

// Posted by the scan worker as its very last act; the dialog then enables
// its buttons and goes idle on its own thread, so that this can never
// interleave with the interrupt command. Any program may post a copy, so the
// dialog honours it only once the worker has said that it is done.
constexpr UINT WM_SCAN_FINISHED = WM_APP + 1;

// Inserts one row at the end of the results list; user-interface thread.
void InsertResultRow(const char* object, const char* status);

// Sent by the report before it asks anything of the user, and by the
// worker when its batch of rows is full: the waiting rows are inserted and
// drawn at once, the last one in view.
constexpr UINT WM_SHOW_ROWS = WM_APP + 2;
// While a scan adds rows the list is not drawn after each one: this timer
// of the dialog draws it, scrolled to its last row, five times a second.
constexpr UINT_PTR RowsTimer = 1;
constexpr UINT RowsTimerInterval = 200;

// How far the worker of the current scan has come; written by the worker,
// reset by the dialog when it starts one.
enum : int32_t { WorkerWalking = 0, WorkerReporting = 1, WorkerDone = 2 };
extern std::atomic<int32_t> workerProgress;
// Set when the session ends during a scan: the report then opens no box,
// since nobody would answer it.
extern std::atomic<int32_t> sessionEnding;

extern HWND MainDialog;
// Written on the user-interface thread only; atomic so that other threads
// (tests, the worker's reads) always see a whole value.
extern std::atomic<int32_t> ScanState;
extern HCURSOR HandCursor;
extern HFONT LinkFont;

// Start-up and the modal main dialog; returns the exit code.
int RunProgram(HINSTANCE instance);

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK LinkLabelProc(HWND label, UINT message, WPARAM wParam, LPARAM lParam);

// Set or clear WS_DISABLED in the style of a child of MainDialog and repaint it.
void DisableControl(int id);
void EnableControl(int id);
