// Client of the simulated platform's control device (\\.\QEBISimCtl) and a
// few service-manager helpers, for the control tool, the stand-in libraries,
// system tests and benchmarks.
//
// Every bool function returns true on success; on failure the thread's last
// error (GetLastError) tells why. Each call opens and closes its own handle,
// so the functions may be used from any thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "qebisim/protocol.h"

namespace qebsim {

// ---- simulated firmware ----------------------------------------------------
// Raises a firmware event; `result` (optional) tells how the listeners took it.
bool RaiseEvent(uint32_t code, QEBSIM_RAISE_RESULT* result = nullptr);
bool SetHealth(uint32_t healthStatus);          // KNVS 7 status word
bool SetPowerFlags(uint32_t flags);             // KNVS 9 word
bool SetReadings(const uint8_t readings[20]);   // thermal reading set
bool SetFeature(uint32_t index, int32_t value); // QEB_FEAT_*, any value
bool FailNext(uint32_t count);                  // next `count` framed requests fail
bool ShortNext(uint32_t bytes);                 // next event completion carries `bytes` (0-3) bytes
// Every event wait completes at once with `bytes` (0-3) bytes and no event,
// until called with QEBSIM_SHORT_OFF.
bool ShortMode(uint32_t bytes);
bool SetDevicePresent(bool present);            // false: \\.\QEBI lost under its users; true: back
bool GetState(QEBSIM_STATE* state);
bool Note(uint32_t source, const std::wstring& text);  // QEBSIM_NOTE_*
bool SetDisk(const QEBSIM_DISK_CONFIG& config);
// Present drive `drive` with SMART data from BuildSmartData(temperature).
bool SetDiskTemperature(uint32_t drive, int temperature, uint32_t extraFlags = 0);
bool RemoveDisk(uint32_t drive);

// SMART READ DATA sector: a power-on-hours attribute (9) and, when
// temperature >= 0, the temperature attribute (194) with raw low byte
// `temperature`. Pure.
void BuildSmartData(uint8_t sector[512], int temperature);

// ---- journal -----------------------------------------------------------------
// Records with seq >= fromSeq still held, oldest first (all of them, read in
// chunks). `header` (optional) gets the header of the first chunk.
bool ReadJournal(uint32_t fromSeq, std::vector<QEBSIM_RECORD>* records,
                 QEBSIM_JOURNAL_HEADER* header = nullptr);
bool ClearJournal();
// Sequence number the next journal record will get (0 when the device cannot
// be reached): take it before an action, then look from it on.
uint32_t NextSeq();
// Polls the journal from fromSeq on every 10 ms until a record satisfies
// `pred` (copied to *found) or timeoutMs passes (false, last error
// WAIT_TIMEOUT).
bool WaitForJournal(uint32_t fromSeq, const std::function<bool(const QEBSIM_RECORD&)>& pred,
                    DWORD timeoutMs, QEBSIM_RECORD* found = nullptr);
// Text of a QEBSIM_REC_NOTE record.
std::wstring NoteText(const QEBSIM_RECORD& record);
// Bytes as upper-case hex pairs separated by blanks ("50 4D 44 42"). Pure.
std::string HexBytes(const uint8_t* data, size_t len);

// Raw request on the control device (for tests of the device itself).
bool ControlRequest(DWORD code, const void* in, DWORD inLen, void* out, DWORD outLen,
                    DWORD* returned = nullptr);

// ---- service manager ---------------------------------------------------------
struct ServiceConfig {
    DWORD serviceType = 0;
    DWORD startType = 0;
    std::wstring binaryPath;
    std::wstring account;
};

bool ServiceInstall(const std::wstring& name, const std::wstring& binaryPath,
                    DWORD serviceType = SERVICE_WIN32_OWN_PROCESS,
                    DWORD startType = SERVICE_DEMAND_START);
bool ServiceStart(const std::wstring& name);
bool ServiceStop(const std::wstring& name);      // sends SERVICE_CONTROL_STOP
bool ServiceDelete(const std::wstring& name);
// Current state, exit codes and process id.
bool ServiceQuery(const std::wstring& name, SERVICE_STATUS_PROCESS* status);
bool ServiceGetConfig(const std::wstring& name, ServiceConfig* config);
// ControlService with any code (custom controls 128 to 255 included).
bool ServiceControl(const std::wstring& name, DWORD control, SERVICE_STATUS* status = nullptr);
// Polls every 20 ms until the service reaches `state` (SERVICE_RUNNING, ...).
// False with last error WAIT_TIMEOUT when it does not within timeoutMs.
bool ServiceWaitState(const std::wstring& name, DWORD state, DWORD timeoutMs,
                      SERVICE_STATUS_PROCESS* last = nullptr);
// "STOPPED", "RUNNING", ... Pure.
const char* ServiceStateName(DWORD state);

}  // namespace qebsim
