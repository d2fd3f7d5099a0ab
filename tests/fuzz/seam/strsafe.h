// Portable seam: the StringCch* functions the pure cores use, with the
// Windows semantics they rely on: the destination is always terminated
// (when it has room for anything), a cut text is kept and reported as
// STRSAFE_E_INSUFFICIENT_BUFFER, and the wide printf formats read "%s" and
// "%c" as wide, "%S", "%hs" and "%C" as narrow, as the Windows CRT does.
#pragma once
#include <stdarg.h>

#include "windows.h"

#define STRSAFE_MAX_CCH 2147483647
#define STRSAFE_E_INSUFFICIENT_BUFFER ((HRESULT)0x8007007AL)
#define STRSAFE_E_INVALID_PARAMETER ((HRESULT)0x80070057L)

HRESULT StringCchVPrintfW(wchar_t* dest, size_t cch, const wchar_t* format, va_list args);
HRESULT StringCchPrintfW(wchar_t* dest, size_t cch, const wchar_t* format, ...);
HRESULT StringCchCopyW(wchar_t* dest, size_t cch, const wchar_t* src);
HRESULT StringCchCatW(wchar_t* dest, size_t cch, const wchar_t* src);
HRESULT StringCchLengthW(const wchar_t* text, size_t cchMax, size_t* length);
