// For Win32 sources that also use the dialog layer: the window-system
// headers, without the A/W macros that would rename the layer's own
// CreateFont, MessageBox, PostMessage and SendMessage. Include it before any
// ui/ header.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <richedit.h>

#undef CreateFont
#undef MessageBox
#undef PostMessage
#undef SendMessage
