// The front end's shared state (Overview) and its error box.
#include "app/state.h"

char WindowTitle[1024] = "UPDATE";
HWND OwnerWindow;
char TempManifestPath[260];
char TempFolderPath[260];
char InstPath[260];
char DataPath[260];
int InstMode;

void ShowError(LPCSTR text) { MessageBoxA(OwnerWindow, text, WindowTitle, MB_OK | MB_ICONERROR); }
