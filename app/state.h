// The front end's shared state and error box.
#pragma once

#include "config/manifest.h"
#include "fs/files.h"
#include "platform/win.h"

#define INITIAL_WINDOW_TITLE "UPDATE"
extern char WindowTitle[1024];  // INITIAL_WINDOW_TITLE until start-up replaces it
extern HWND OwnerWindow;        // the dialog while it runs, else none
extern char TempManifestPath[PATH_BUFFER];
extern char TempFolderPath[PATH_BUFFER];  // this run's own folder holding UPDATE.INI

// InstallRecord, read from the registry by start-up.
extern char InstPath[PATH_BUFFER];
extern char DataPath[PATH_BUFFER];
extern int InstMode;

// Modal error box: owner OwnerWindow, caption WindowTitle, MB_ICONERROR.
void ShowError(LPCSTR text);
// Makes the same box, with the caption the layers below ask for, their error
// box (fs/error_box.h). Start-up calls it first.
void InstallErrorBox(void);

// Dialog ids of IDD_UPDATE, shared with the resource script.
#include "app/res/resource.h"

INT_PTR CALLBACK UpdateDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void ShowStartPage(HWND dialog);
void ShowConfirmPage(HWND dialog);
void SetInfoText(HWND dialog, LPCSTR format, ...);
void EnableControl(HWND dialog, int id, BOOL enable);
void RunUpdate(HWND dialog);
void ExitCleanup(void);
extern int PageCounter;
extern int Busy;

// The process entry point (start-up). Only the instance is used.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);
// Turns each one-byte backslash followed by 'n' into one CR; double-byte
// characters pass unexamined. dest needs room for source's length plus NUL.
void ConvertUpdateMessage(LPCSTR source, LPSTR dest);

// The update run's work lists, rebuilt on every run.
extern UpdateItem UpdateItems[MANIFEST_LIST_MAX];
extern int UpdateItemCount;
extern CopyItem CopyItems[MANIFEST_LIST_MAX];
extern int CopyItemCount;

// Zeroes every process-wide record of the updater, as at process start.
// Host tests call it between whole-run cases.
void ResetProcessState(void);
