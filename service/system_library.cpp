// QEBEvent: run-time DLLs by full path (the program's folder, then System32).
#include "system_library.h"

#include <strsafe.h>

bool IsPlainLibraryName(const wchar_t* name) {
    if (name == nullptr || name[0] == L'\0') return false;
    for (const wchar_t* p = name; *p != L'\0'; ++p) {
        if (*p == L'\\' || *p == L'/' || *p == L':') return false;
    }
    return !(name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0')));
}

bool JoinLibraryPath(const wchar_t* folder, const wchar_t* name, wchar_t* out, size_t capacity) {
    if (out == nullptr || capacity == 0) return false;
    out[0] = L'\0';
    if (folder == nullptr || folder[0] == L'\0' || !IsPlainLibraryName(name)) return false;
    size_t length = 0;
    if (FAILED(StringCchLengthW(folder, capacity, &length))) return false;
    const wchar_t* separator = folder[length - 1] == L'\\' ? L"" : L"\\";
    if (FAILED(StringCchPrintfW(out, capacity, L"%s%s%s", folder, separator, name))) {
        out[0] = L'\0';
        return false;
    }
    return true;
}

bool LibraryPathBeside(const wchar_t* modulePath, const wchar_t* name, wchar_t* out, size_t capacity) {
    if (out == nullptr || capacity == 0) return false;
    out[0] = L'\0';
    if (modulePath == nullptr) return false;
    const wchar_t* lastSeparator = nullptr;
    for (const wchar_t* p = modulePath; *p != L'\0'; ++p) {
        if (*p == L'\\') lastSeparator = p;
    }
    if (lastSeparator == nullptr) return false;
    const size_t folderLength = static_cast<size_t>(lastSeparator - modulePath) + 1;  // with the backslash
    wchar_t folder[MAX_PATH * 2];
    if (folderLength >= ARRAYSIZE(folder)) return false;
    if (FAILED(StringCchCopyNW(folder, ARRAYSIZE(folder), modulePath, folderLength))) return false;
    return JoinLibraryPath(folder, name, out, capacity);
}

// The DLL's own imports are then searched from its folder, not from the
// current folder.
static HMODULE LoadByFullPath(const wchar_t* path) {
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE LoadSystem32Library(LPCWSTR name) {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, ARRAYSIZE(folder));
    if (length == 0 || length >= ARRAYSIZE(folder)) return nullptr;
    wchar_t path[MAX_PATH * 2];
    if (!JoinLibraryPath(folder, name, path, ARRAYSIZE(path))) return nullptr;
    return LoadByFullPath(path);
}

HMODULE WINAPI LoadSystemLibrary(LPCWSTR name) {
    wchar_t program[MAX_PATH * 2];
    const DWORD length = GetModuleFileNameW(nullptr, program, ARRAYSIZE(program));
    wchar_t path[MAX_PATH * 2];
    // A cut module path (length == capacity) names no real folder: skipped.
    if (length != 0 && length < ARRAYSIZE(program) && LibraryPathBeside(program, name, path, ARRAYSIZE(path))) {
        const DWORD attributes = GetFileAttributesW(path);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            return LoadByFullPath(path);
    }
    return LoadSystem32Library(name);
}
