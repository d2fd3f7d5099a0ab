// Portable seam: implementations of what windows.h and strsafe.h declare.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <wctype.h>

#include <string>
#include <vector>

#include "strsafe.h"

void InitializeCriticalSection(CRITICAL_SECTION* cs) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&cs->mutex, &attr);
    pthread_mutexattr_destroy(&attr);
}
void EnterCriticalSection(CRITICAL_SECTION* cs) { pthread_mutex_lock(&cs->mutex); }
void LeaveCriticalSection(CRITICAL_SECTION* cs) { pthread_mutex_unlock(&cs->mutex); }
void DeleteCriticalSection(CRITICAL_SECTION* cs) { pthread_mutex_destroy(&cs->mutex); }

DWORD CharLowerBuffW(LPWSTR text, DWORD length) {
    for (DWORD i = 0; i < length; ++i) text[i] = static_cast<wchar_t>(towlower(text[i]));
    return length;
}
DWORD CharUpperBuffW(LPWSTR text, DWORD length) {
    for (DWORD i = 0; i < length; ++i) text[i] = static_cast<wchar_t>(towupper(text[i]));
    return length;
}
int LoadStringW(HINSTANCE, UINT, LPWSTR buffer, int chars) {
    if (buffer && chars > 0) buffer[0] = L'\0';
    return 0;
}
int _wcsicmp(const wchar_t* a, const wchar_t* b) { return wcscasecmp(a, b); }
HINSTANCE AfxGetResourceHandle() { return nullptr; }

namespace {

// Windows CRT wide-format conversions in glibc's spelling: in the wide
// printf family Windows reads %s and %c as wide and %S, %C, %hs, %hc as
// narrow; glibc reads %s and %c as narrow and %ls, %lc as wide. "%I64" is
// "%ll", "%I32" nothing.
std::wstring GlibcFormat(const wchar_t* format) {
    std::wstring out;
    for (const wchar_t* p = format; *p;) {
        if (*p != L'%') { out += *p++; continue; }
        out += *p++;
        if (*p == L'%') { out += *p++; continue; }
        while (*p && wcschr(L"-+ #0", *p)) out += *p++;
        while (*p && (iswdigit(*p) || *p == L'*')) out += *p++;
        if (*p == L'.') {
            out += *p++;
            while (*p && (iswdigit(*p) || *p == L'*')) out += *p++;
        }
        std::wstring length;
        if (p[0] == L'I' && p[1] == L'6' && p[2] == L'4') { length = L"ll"; p += 3; }
        else if (p[0] == L'I' && p[1] == L'3' && p[2] == L'2') { p += 3; }
        else if (p[0] == L'I') { length = L"z"; ++p; }
        else while (*p && wcschr(L"hlLqjzt", *p)) length += *p++;
        const wchar_t conversion = *p;
        if (!conversion) break;
        ++p;
        if (conversion == L's' || conversion == L'c') {
            if (length == L"h") out += conversion;               // narrow
            else { out += L'l'; out += conversion; }             // wide
        } else if (conversion == L'S' || conversion == L'C') {
            if (length == L"l") { out += L'l'; }                 // %lS: wide
            out += conversion == L'S' ? L's' : L'c';
        } else {
            out += length;
            out += conversion;
        }
    }
    return out;
}

}  // namespace

HRESULT StringCchVPrintfW(wchar_t* dest, size_t cch, const wchar_t* format, va_list args) {
    if (cch == 0 || cch > STRSAFE_MAX_CCH) return STRSAFE_E_INVALID_PARAMETER;
    const std::wstring glibcFormat = GlibcFormat(format);
    // Format in full first, then copy what fits, as the Windows functions
    // leave the cut text in the buffer.
    std::vector<wchar_t> whole(256);
    int written = -1;
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        written = vswprintf(whole.data(), whole.size(), glibcFormat.c_str(), copy);
        va_end(copy);
        if (written >= 0 || whole.size() >= (1u << 22)) break;
        whole.resize(whole.size() * 4);
    }
    if (written < 0) {
        dest[0] = L'\0';
        return STRSAFE_E_INVALID_PARAMETER;
    }
    const size_t length = static_cast<size_t>(written);
    const size_t kept = length < cch ? length : cch - 1;
    memcpy(dest, whole.data(), kept * sizeof(wchar_t));
    dest[kept] = L'\0';
    return kept == length ? S_OK : STRSAFE_E_INSUFFICIENT_BUFFER;
}

HRESULT StringCchPrintfW(wchar_t* dest, size_t cch, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    HRESULT result = StringCchVPrintfW(dest, cch, format, args);
    va_end(args);
    return result;
}

HRESULT StringCchCopyW(wchar_t* dest, size_t cch, const wchar_t* src) {
    if (cch == 0 || cch > STRSAFE_MAX_CCH) return STRSAFE_E_INVALID_PARAMETER;
    size_t i = 0;
    for (; i + 1 < cch && src[i] != L'\0'; ++i) dest[i] = src[i];
    dest[i] = L'\0';
    return src[i] == L'\0' ? S_OK : STRSAFE_E_INSUFFICIENT_BUFFER;
}

HRESULT StringCchCatW(wchar_t* dest, size_t cch, const wchar_t* src) {
    size_t length = 0;
    if (FAILED(StringCchLengthW(dest, cch, &length))) return STRSAFE_E_INVALID_PARAMETER;
    return StringCchCopyW(dest + length, cch - length, src);
}

HRESULT StringCchLengthW(const wchar_t* text, size_t cchMax, size_t* length) {
    if (text == nullptr || cchMax > STRSAFE_MAX_CCH) {
        if (length) *length = 0;
        return STRSAFE_E_INVALID_PARAMETER;
    }
    size_t i = 0;
    while (i < cchMax && text[i] != L'\0') ++i;
    if (i == cchMax) {
        if (length) *length = 0;
        return STRSAFE_E_INVALID_PARAMETER;
    }
    if (length) *length = i;
    return S_OK;
}
