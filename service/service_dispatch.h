// QEBEvent: which action a firmware event code or a service control asks for.
// The mapping functions are pure; RunServiceAction carries an action out.
#pragma once
#include <windows.h>

enum ServiceAction : int {
    ActionNone = 0,
    ActionVolumeUp,                 // "-VOLUMEUP" helper in the user's session
    ActionVolumeDown,               // "-VOLUMEDOWN" helper in the user's session
    ActionHealthDetails,            // detailed health entry in the event log
    ActionCtrlAltDel,               // secure attention sequence
    ActionPowerLoss,                // new PowerLossThread
    ActionHealthGreenToRed,         // health-change entry for 0x1042
    ActionHealthRedToGreen,         // health-change entry for 0x1043
    ActionCheckPendingHibernation,  // hibernate now if the firmware asks for it
};

// Firmware event codes the service acts on.
const DWORD kEventVolumeUp = 0x1003;
const DWORD kEventVolumeDown = 0x1004;
const DWORD kEventThermalAlert = 0x1005;
const DWORD kEventCad = 0x1031;
const DWORD kEventBattery = 0x1041;
const DWORD kEventHealthGreenToRed = 0x1042;
const DWORD kEventHealthRedToGreen = 0x1043;

// Custom service controls.
const DWORD kControlVolumeUp = 128;
const DWORD kControlVolumeDown = 129;
const DWORD kControlHealthGreenToRed = 130;
const DWORD kControlHealthRedToGreen = 131;
const DWORD kControlHealthDetails = 132;
const DWORD kControlPowerLoss = 133;

// The action for a firmware event code; the whole 32-bit value is compared.
ServiceAction FirmwareEventAction(DWORD code);
// The action for a service control and its event type.
ServiceAction ServiceControlAction(DWORD control, DWORD eventType);
// The reported state after a control: stop and shutdown stop, pause pauses,
// continue runs; any other control leaves currentState as it is.
DWORD ServiceStateAfterControl(DWORD control, DWORD currentState);
// Carries the action out on the calling thread (the power-loss action only
// starts its thread).
void RunServiceAction(ServiceAction action);
