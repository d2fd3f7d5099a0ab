// QEBEvent: the DLLs the service binds at run time, loaded by full path.
//
// A bare name would be searched for by Windows: the program's folder,
// System32, the Windows folders, the current folder and then every folder of
// PATH. A DLL missing from System32 (Vista has no sas.dll) would then be taken
// from any PATH folder a user can write, and run as SYSTEM. The service looks
// only where Windows looks first: its own folder, then System32.
#pragma once
#include <stddef.h>

#include <windows.h>

// ---- pure helpers ----------------------------------------------------------

// True when name is a plain file name ("sas.dll"): not empty, no folder, no
// drive, nothing that could lead out of the folder it is joined to.
bool IsPlainLibraryName(const wchar_t* name);

// folder + "\" + name into out (capacity in characters, terminator included);
// no second backslash when folder already ends in one. False, with out empty
// where capacity allows, for an empty folder, a name that is not plain, or a
// path that does not fit.
bool JoinLibraryPath(const wchar_t* folder, const wchar_t* name, wchar_t* out, size_t capacity);

// The folder of a module path (everything before its last backslash) joined
// with name, as JoinLibraryPath. False for a path without a backslash.
bool LibraryPathBeside(const wchar_t* modulePath, const wchar_t* name, wchar_t* out, size_t capacity);

// ---- loading ---------------------------------------------------------------

// name from the program's own folder when the file is there, else from
// System32; never from anywhere else. Null when neither loads. The program's
// folder lets a PC carry its own copy beside the service (the simulated
// platform's stand-ins live there).
HMODULE WINAPI LoadSystemLibrary(LPCWSTR name);

// name from System32 only (the libraries of Windows itself).
HMODULE LoadSystem32Library(LPCWSTR name);
