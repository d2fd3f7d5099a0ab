// Thin Win32 side of the stand-in library: one framed KSMI request per call
// on the library's kept request handle of the platform device, and journal
// notes to the simulator's control device.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>

namespace qebi {

// Sends one KSMI request (function, Parameter 0, the given request data) and
// copies responseLength bytes of the answer into response. Returns true when
// the device completed the request; on failure response is left untouched
// and the last error tells why.
bool SendKsmi(uint16_t function, const void* data, size_t dataLength, void* response,
              size_t responseLength);

// Closes the kept request handle (the library is being released).
void CloseRequestDevice();

// Opens the platform device for the event wait: read/write, overlapped.
HANDLE OpenEventDevice();

// Journals a text from this library with the simulator (best effort: a missing
// control device is ignored). Keeps the caller's last error.
void SendNote(const wchar_t* text);

}  // namespace qebi
