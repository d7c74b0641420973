// Reading the product name and version from the executable's version block
// into the application data. Called once at start-up, after the language was
// chosen. Fields whose part of the block cannot be read keep their values
// (empty name, version 0.0.0).
#pragma once

#include "shell/app_data.h"

namespace talvo {

void ReadVersionBlock(AppData& data);
// Fills g_appData.
void ReadVersionBlock();

#if defined(_WIN32)
// The Windows reading for the module file at path (a NUL-terminated UTF-16
// path); ReadVersionBlock applies it to the executable's own file.
void ReadVersionBlockFromFile(const char16_t* path, AppData& data);
#endif

}  // namespace talvo
