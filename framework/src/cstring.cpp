// CString: a wide string with MFC's interface over std::wstring.
#include "afxwin.h"

#include <strsafe.h>
#include <wchar.h>
#include <wctype.h>

#include <algorithm>
#include <cstdarg>

CString::CString(const wchar_t* text) {
    if (text) m_text = text;
}

CString::CString(const wchar_t* text, int length) {
    if (text && length > 0) m_text.assign(text, static_cast<size_t>(length));
}

CString::CString(wchar_t ch, int repeat) {
    if (repeat > 0) m_text.assign(static_cast<size_t>(repeat), ch);
}

CString& CString::operator=(const wchar_t* text) {
    if (text) m_text = text; else m_text.clear();
    return *this;
}

wchar_t CString::GetAt(int index) const {
    if (index < 0 || index >= GetLength()) return L'\0';
    return m_text[static_cast<size_t>(index)];
}

CString& CString::operator+=(const CString& other) { m_text += other.m_text; return *this; }
CString& CString::operator+=(const wchar_t* text) { if (text) m_text += text; return *this; }
CString& CString::operator+=(wchar_t ch) { m_text += ch; return *this; }

CString operator+(const CString& a, const CString& b) { CString r(a); r += b; return r; }
CString operator+(const CString& a, const wchar_t* b) { CString r(a); r += b; return r; }
CString operator+(const wchar_t* a, const CString& b) { CString r(a); r += b; return r; }

void CString::FormatV(const wchar_t* format, va_list args) {
    m_text.clear();
    if (!format) return;
    wchar_t buffer[kMaxFormatted];
    buffer[0] = L'\0';
    // StringCchVPrintfW always terminates the buffer, also when the text
    // had to be cut; the cut text is kept.
    StringCchVPrintfW(buffer, kMaxFormatted, format, args);
    m_text = buffer;
}

void CString::Format(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void CString::AppendFormat(const wchar_t* format, ...) {
    CString more;
    va_list args;
    va_start(args, format);
    more.FormatV(format, args);
    va_end(args);
    m_text += more.m_text;
}

BOOL CString::LoadString(UINT id) {
    m_text.clear();
    const wchar_t* resource = nullptr;
    // With a length of 0, LoadStringW hands out a read-only pointer into the
    // resource itself, so strings of any length load without a guessed bound.
    int length = ::LoadStringW(AfxGetResourceHandle(), id, reinterpret_cast<LPWSTR>(&resource), 0);
    if (length <= 0 || !resource) return FALSE;
    m_text.assign(resource, static_cast<size_t>(length));
    return TRUE;
}

CString& CString::TrimLeft() {
    size_t first = 0;
    while (first < m_text.size() && iswspace(m_text[first])) ++first;
    m_text.erase(0, first);
    return *this;
}

CString& CString::TrimRight() {
    size_t end = m_text.size();
    while (end > 0 && iswspace(m_text[end - 1])) --end;
    m_text.erase(end);
    return *this;
}

CString& CString::Trim() { TrimRight(); return TrimLeft(); }

CString& CString::MakeLower() {
    if (!m_text.empty()) ::CharLowerBuffW(&m_text[0], static_cast<DWORD>(m_text.size()));
    return *this;
}

CString& CString::MakeUpper() {
    if (!m_text.empty()) ::CharUpperBuffW(&m_text[0], static_cast<DWORD>(m_text.size()));
    return *this;
}

int CString::Compare(const wchar_t* other) const {
    return wcscmp(m_text.c_str(), other ? other : L"");
}

int CString::CompareNoCase(const wchar_t* other) const {
    return _wcsicmp(m_text.c_str(), other ? other : L"");
}

int CString::Find(wchar_t ch, int start) const {
    if (start < 0) start = 0;
    size_t pos = m_text.find(ch, static_cast<size_t>(start));
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

int CString::Find(const wchar_t* sub, int start) const {
    if (!sub) return -1;
    if (start < 0) start = 0;
    size_t pos = m_text.find(sub, static_cast<size_t>(start));
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

CString CString::Left(int count) const {
    count = std::max(0, std::min(count, GetLength()));
    return CString(m_text.c_str(), count);
}

CString CString::Mid(int first, int count) const {
    first = std::max(0, std::min(first, GetLength()));
    int available = GetLength() - first;
    if (count < 0 || count > available) count = available;
    return CString(m_text.c_str() + first, count);
}

CString CString::Right(int count) const {
    count = std::max(0, std::min(count, GetLength()));
    return CString(m_text.c_str() + (GetLength() - count), count);
}

wchar_t* CString::GetBuffer(int minLength) {
    if (minLength > GetLength()) m_text.resize(static_cast<size_t>(minLength));
    return &m_text[0];
}

void CString::ReleaseBuffer(int newLength) {
    if (newLength < 0) newLength = static_cast<int>(wcsnlen(m_text.c_str(), m_text.size()));
    m_text.resize(static_cast<size_t>(std::min(newLength, GetLength())));
}
