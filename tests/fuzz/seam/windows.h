// Portable seam: the few Windows types, constants and functions that the
// kit's pure cores use, so that they compile natively (clang, Linux) for the
// fuzz targets. Never part of the product; only tests/fuzz includes it.
//
// Fixed-width where Windows fixes the width (BYTE, WORD, DWORD and LONG are
// 8, 16, 32 and 32 bits, as in both Windows ABIs). wchar_t stays 4 bytes
// (glibc's); the fuzz targets build wide strings from 16-bit units, so every
// character a Windows string can hold, and only those, reaches the code.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <wchar.h>
#include <pthread.h>

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int BOOL;
typedef int INT;
typedef unsigned int UINT;
typedef char CHAR;
typedef wchar_t WCHAR;
typedef void VOID;
typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef ULONG_PTR DWORD_PTR;
typedef size_t SIZE_T;
typedef int32_t HRESULT;
typedef wchar_t* LPWSTR;
typedef const wchar_t* LPCWSTR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef BYTE* PBYTE;
typedef DWORD* PDWORD;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef void* HANDLE;
typedef HANDLE* PHANDLE;

#define QEB_SEAM_HANDLE(name) typedef struct name##__* name
QEB_SEAM_HANDLE(HWND);
QEB_SEAM_HANDLE(HDC);
QEB_SEAM_HANDLE(HICON);
QEB_SEAM_HANDLE(HMENU);
QEB_SEAM_HANDLE(HINSTANCE);
QEB_SEAM_HANDLE(HKEY);
QEB_SEAM_HANDLE(HDESK);
QEB_SEAM_HANDLE(SERVICE_STATUS_HANDLE);
typedef HINSTANCE HMODULE;

#define WINAPI
#define CALLBACK
#define APIENTRY
#define TRUE 1
#define FALSE 0

#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define S_OK ((HRESULT)0)
#define ERROR_SUCCESS 0L
#define MAXDWORD 0xffffffffu
#define ZeroMemory(p, n) memset((p), 0, (n))
#define ARRAYSIZE(a) (sizeof(a) / sizeof((a)[0]))

#define LOBYTE(w) ((BYTE)(((DWORD_PTR)(w)) & 0xff))
#define LOWORD(l) ((WORD)(((DWORD_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((DWORD_PTR)(l)) >> 16) & 0xffff))

typedef struct _SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
} SYSTEMTIME;

typedef struct tagRECT {
    LONG left, top, right, bottom;
} RECT, *LPRECT;

typedef struct tagPAINTSTRUCT {
    HDC hdc;
    BOOL fErase;
    RECT rcPaint;
    BOOL fRestore;
    BOOL fIncUpdate;
    BYTE rgbReserved[32];
} PAINTSTRUCT;

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

// What the framework's header names; none of it runs in a fuzz target.
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_SYSCOMMAND 0x0112
#define WM_TIMER 0x0113
#define WM_CLOSE 0x0010
#define WM_DESTROY 0x0002
#define WM_PAINT 0x000F
#define WM_QUERYDRAGICON 0x0037
#define BN_CLICKED 0
#define IDOK 1
#define IDCANCEL 2
#define MB_OK 0
#define SW_SHOWNORMAL 1
BOOL DrawIcon(HDC, int, int, HICON);

// Service-manager names of the simulated platform's client header.
struct _SERVICE_STATUS;
struct _SERVICE_STATUS_PROCESS;
typedef struct _SERVICE_STATUS SERVICE_STATUS;
typedef struct _SERVICE_STATUS_PROCESS SERVICE_STATUS_PROCESS;
#define SERVICE_WIN32_OWN_PROCESS 0x00000010
#define SERVICE_DEMAND_START 0x00000003

// A critical section: a recursive mutex, as Windows' is.
typedef struct _CRITICAL_SECTION {
    pthread_mutex_t mutex;
} CRITICAL_SECTION;
void InitializeCriticalSection(CRITICAL_SECTION* cs);
void EnterCriticalSection(CRITICAL_SECTION* cs);
void LeaveCriticalSection(CRITICAL_SECTION* cs);
void DeleteCriticalSection(CRITICAL_SECTION* cs);

// The framework's CString needs these; the seam maps them to libc (lower
// and upper case as towlower/towupper judge them in the C locale).
DWORD CharLowerBuffW(LPWSTR text, DWORD length);
DWORD CharUpperBuffW(LPWSTR text, DWORD length);
int LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int chars);  // always 0
int _wcsicmp(const wchar_t* a, const wchar_t* b);
HINSTANCE AfxGetResourceHandle();  // null: the fuzz targets have no resources
