// QEBEvent: pure parts of the health reporting.
#include "health_core.h"

#include <string.h>
#include <strsafe.h>

namespace {

unsigned ReadingWord(const BYTE* readings, size_t offset) {
    return static_cast<unsigned>(readings[offset]) |
           (static_cast<unsigned>(readings[offset + 1]) << 8);
}

}  // namespace

size_t FormatHealthDetails(DWORD status, const BYTE* r, wchar_t* text, size_t textChars) {
    if (text == nullptr || textChars == 0) return 0;
    const unsigned errorCode = (status >> 20) & 0x7FF;
    const wchar_t* systemType = (status & 1) ? L"Desktop" : L"AIO";
    StringCchPrintfW(text, textChars,
                     L"Error code:%u, STATUS=%08X\n"
                     L"  SYSTEM TYPE=%ls \n"
                     L"  PCH=%u.%u CPU=%u.%u VRD=%u.%u\n"
                     L"  SYS=%u.%u HDD=%u.%u GPU=%u.%u\n"
                     L"  CPUFAN=%u SYSFAN=%u PWRFAN=%u GFXFAN=%u\n",
                     errorCode, static_cast<unsigned>(status), systemType, r[0], r[1], r[2], r[3],
                     r[4], r[5], r[6], r[7], r[8], r[9], r[10], r[11], ReadingWord(r, 12),
                     ReadingWord(r, 14), ReadingWord(r, 16), ReadingWord(r, 18));
    return wcslen(text);
}

const wchar_t* HealthChangeText(DWORD code) {
    switch (code) {
    case 0x1042: return L"Error code:4, System healthy status changed from Green to Red";
    case 0x1043: return L"Error code:5, System healthy status changed from Red to Green";
    default: return nullptr;
    }
}

size_t FormatServiceEventText(const wchar_t* text, wchar_t* out, size_t textChars) {
    if (out == nullptr || textChars < 3) {
        if (out != nullptr && textChars > 0) out[0] = L'\0';
        return 0;
    }
    const size_t room = textChars - 3;  // two line feeds and the terminator
    size_t length = 0;
    if (text != nullptr) {
        while (length < room && text[length] != L'\0') ++length;
        memcpy(out, text, length * sizeof(wchar_t));
    }
    out[length++] = L'\n';
    out[length++] = L'\n';
    out[length] = L'\0';
    return length;
}

void BuildSmartCommand(SENDCMDINPARAMS* command, BYTE driveNumber, BYTE features,
                       DWORD bufferSize) {
    memset(command, 0, sizeof(*command));
    command->cBufferSize = bufferSize;
    command->irDriveRegs.bFeaturesReg = features;
    command->irDriveRegs.bSectorCountReg = 1;
    command->irDriveRegs.bSectorNumberReg = 1;
    command->irDriveRegs.bCylLowReg = 0x4F;
    command->irDriveRegs.bCylHighReg = 0xC2;
    command->irDriveRegs.bDriveHeadReg = 0xA0;
    command->irDriveRegs.bCommandReg = 0xB0;  // SMART
    command->bDriveNumber = driveNumber;
}

bool ParseSmartTemperature(const BYTE* output, size_t outputSize, BYTE* destination) {
    // The sector follows the SENDCMDOUTPARAMS header; the attribute table
    // follows the 2-byte revision number of the sector.
    const size_t tableOffset = offsetof(SENDCMDOUTPARAMS, bBuffer) + 2;
    const size_t entrySize = 12;
    if (output == nullptr || outputSize < tableOffset + kSmartAttributeCount * entrySize) {
        return false;
    }
    for (int i = 0; i < kSmartAttributeCount; ++i) {
        const BYTE* entry = output + tableOffset + i * entrySize;
        if (entry[0] == 0) continue;
        if (entry[0] == kSmartAttributeTemperature) {
            destination[0] = entry[5];  // lowest byte of the raw value
            destination[1] = 0;
            return true;
        }
    }
    return false;
}

void SmartDrivePath(int drive, wchar_t (&path)[kDrivePathChars]) {
    StringCchCopyW(path, kDrivePathChars, L"\\\\.\\PHYSICALDRIVE0");
    path[kDrivePathChars - 2] = static_cast<wchar_t>(L'0' + drive);
}

int DriveSearchOrder(LONG cachedDrive, int (&order)[kDriveCount + 1]) {
    int count = 0;
    if (cachedDrive >= 0 && cachedDrive < kDriveCount) order[count++] = cachedDrive;
    for (int drive = 0; drive < kDriveCount; ++drive) order[count++] = drive;
    return count;
}
