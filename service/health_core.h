// QEBEvent: pure parts of the health reporting: the entry texts, the SMART
// request buffers, the SMART attribute table and the drive search order.
#pragma once
#include <windows.h>
#include <winioctl.h>
#include <stddef.h>

const size_t kHealthReadingsSize = 20;  // thermal reading set
const size_t kHealthResponseSize = 24;  // status word + readings (KNVS function 7)
const size_t kHealthTextChars = 512;    // detailed entry text buffer
const size_t kServiceEventTextChars = 1024;
const size_t kHddReadingOffset = 8;  // HDD pair inside the readings

const DWORD kHealthEventId = 1010;
const WORD kHealthEventCategory = 1;
const wchar_t kEventSourceName[] = L"QEBI";

// SMART request sizes, as the disk driver expects them.
const size_t kSmartVersionOutSize = 24;
const size_t kSmartCommandInSize = 33;
const size_t kSmartEnableOutSize = 17;
const size_t kSmartReadOutSize = 531;
const size_t kSmartSectorSize = 512;
static_assert(sizeof(GETVERSIONINPARAMS) == kSmartVersionOutSize, "GETVERSIONINPARAMS size");
static_assert(sizeof(SENDCMDINPARAMS) == kSmartCommandInSize, "SENDCMDINPARAMS size");
static_assert(sizeof(SENDCMDOUTPARAMS) == kSmartEnableOutSize, "SENDCMDOUTPARAMS size");
static_assert(offsetof(SENDCMDOUTPARAMS, bBuffer) + kSmartSectorSize <= kSmartReadOutSize,
              "SMART read buffer holds the whole sector");

const BYTE kSmartFeatureEnable = 0xD8;    // SMART ENABLE OPERATIONS
const BYTE kSmartFeatureReadData = 0xD0;  // SMART READ DATA
const BYTE kSmartAttributeTemperature = 0xC2;
const int kSmartAttributeCount = 30;
const int kDriveCount = 10;
const size_t kDrivePathChars = 19;  // "\\.\PHYSICALDRIVE0" and its terminator

// Detailed health text: status word and readings, bounded to textChars
// (including the terminator). Returns the number of characters written.
size_t FormatHealthDetails(DWORD status, const BYTE* readings, wchar_t* text, size_t textChars);

// Text of the health-change entry for 0x1042 and 0x1043; null for any other
// code.
const wchar_t* HealthChangeText(DWORD code);

// Entry text of WriteServiceEvent: the text taken literally, then two line
// feeds, bounded to textChars (including the terminator); an over-long text
// is cut so that both line feeds still fit.
size_t FormatServiceEventText(const wchar_t* text, wchar_t* out, size_t textChars);

// SMART command for the drive: IDE registers for a SMART request with the
// given feature, all other fields zero.
void BuildSmartCommand(SENDCMDINPARAMS* command, BYTE driveNumber, BYTE features,
                       DWORD bufferSize);

// Temperature from a SMART READ DATA output buffer (SENDCMDOUTPARAMS followed
// by the sector): the lowest raw byte of the first attribute 194 and 0.
bool ParseSmartTemperature(const BYTE* output, size_t outputSize, BYTE* destination);

// "\\.\PHYSICALDRIVEn" for drive 0 to 9.
void SmartDrivePath(int drive, wchar_t (&path)[kDrivePathChars]);

// Drives to try, in order: the cached one first when there is one, then 0 to
// 9. Returns the number of entries written to order.
int DriveSearchOrder(LONG cachedDrive, int (&order)[kDriveCount + 1]);

static_assert(SMART_GET_VERSION == 0x74080, "SMART_GET_VERSION code");
static_assert(SMART_SEND_DRIVE_COMMAND == 0x7C084, "SMART_SEND_DRIVE_COMMAND code");
static_assert(SMART_RCV_DRIVE_DATA == 0x7C088, "SMART_RCV_DRIVE_DATA code");
