// Resource access for other parts of the simulated handheld (bitmaps, icons, dialog
// templates): the raw bytes of a resource, found exactly as FindResourceW finds it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "win32.h"

namespace sim {

// The bytes of resource (type, name) of a module (nullptr: the program). Names and
// types as for FindResourceW (integer ids, strings, "#123"). The pointer stays valid
// while the module stays loaded. On failure returns false with the last error set as
// FindResourceW sets it.
bool ResourceData(HMODULE module, LPCWSTR type, LPCWSTR name, const uint8_t** data, DWORD* size);
// The same, copied.
bool ResourceBytes(HMODULE module, LPCWSTR type, LPCWSTR name, std::vector<uint8_t>* out);

// The end of the resource whose bytes hold `p`, for readers of structures that carry no
// size of their own (dialog templates). False when p lies in no module's file: memory
// of the caller's own, which is the caller's to get right, as on Windows.
bool ResourceEnd(const void* p, const uint8_t** end);

// The program's own module (GetModuleHandleW(nullptr)). It has no resources until a
// PE file is given here; the file is found as LoadLibraryW finds it. nullptr drops
// them again. False (with the last error) when the file cannot be used; what was set
// before stays then. Data handed out earlier stays valid for the life of the process.
bool SetProgramResources(LPCWSTR file);
// The file name last given to SetProgramResources with success (empty: none).
std::wstring ProgramResources();
HMODULE ProgramModule();

// Modules loaded with LoadLibraryW and not yet freed (for leak checks).
int LoadedModules();

// Called (no lock held) when the last FreeLibrary of a module unloads it: what other
// parts keep of its resources goes with it.
void ModuleUnloaded(HMODULE module);

}  // namespace sim
