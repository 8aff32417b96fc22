// The one header through which the updater reaches the platform.
//
// On Windows the code calls the Win32 API by its own names. On other hosts
// platform/host/ supplies the same names for the subset the updater uses, so
// the updater's code compiles unchanged for tests and tools.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#else
#include "platform/host/win32_api.h"
#endif
