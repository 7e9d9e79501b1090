// The Win32 headers for the window, in the one order that works: our own headers first,
// then the platform's, whose macros (MessageBox, LoadString, BN_CLICKED, IDOK, SC_CLOSE,
// OFN_*) would otherwise rewrite names declared in res/ and ui/. Files of this folder
// include this header instead of <windows.h>, and use the platform's names after it.
#pragma once

// clang-format off
#include "app/zarn60_tool_dlg.h"
#include "res/resources.h"
#include "ui/dialog.h"
#include "ui/host.h"

#ifndef UNICODE
#define UNICODE
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
// clang-format on

// The framework's names win where both exist: ui::Host::MessageBox and res::LoadString.
#undef MessageBox
#undef LoadString
