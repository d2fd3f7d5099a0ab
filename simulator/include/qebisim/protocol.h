/*
 * Simulated platform: the contract between the simulated firmware driver
 * (qebisim.sys), its control tool, the stand-in libraries and the tests.
 *
 * Two devices:
 *   \\.\QEBI        the platform device, exactly as the product uses it
 *                   (framed KSMI/KNVS requests and the event wait);
 *   \\.\QEBISimCtl  the simulator's own control device (raise events, set
 *                   firmware state, inject failures, read the journal).
 * Handles on QEBISimCtl are never event listeners.
 *
 * Plain C, fixed-width little-endian fields, usable from the driver and from
 * user mode.
 */
#ifndef QEBISIM_PROTOCOL_H
#define QEBISIM_PROTOCOL_H

#include <stdint.h>

#define QEBSIM_DEVICE_PATH      L"\\\\.\\QEBI"
#define QEBSIM_CONTROL_PATH     L"\\\\.\\QEBISimCtl"
#define QEBSIM_SERVICE_NAME     L"qebisim"

/* DeviceIoControl code, device type 0x22, METHOD_BUFFERED, FILE_ANY_ACCESS. */
#define QEBSIM_CODE(fn)         ((uint32_t)((0x22u << 16) | ((uint32_t)(fn) << 2)))

/* ---- platform device link (\\.\QEBI) ---------------------------------- */
#define QEB_IOCTL_KSMI          0x222400u   /* framed request, answered in place */
#define QEB_IOCTL_KNVS          0x222404u   /* framed request, answered in place */
#define QEB_IOCTL_WAIT_EVENT    0x222408u   /* out: uint32 firmware event code */
/* Every open \\.\QEBI handle is a listener with its own queue (see
 * QEBSIM_QUEUE_BOUND). One wait may be outstanding per handle: a second
 * concurrent one fails with STATUS_DEVICE_BUSY (Win32 error 170). Closing the
 * handle completes its wait with STATUS_CANCELLED; stopping the driver
 * completes every wait with STATUS_DEVICE_REMOVED (error 1617).
 * A framed request fails with STATUS_INVALID_PARAMETER (error 87) when it is
 * shorter than the header, lacks the signature or its Length differs from
 * the input or output length, and with STATUS_CRC_ERROR (error 23) on a
 * wrong checksum; such frames count in frames_rejected and are never
 * answered. FAIL_NEXT counts only well-formed frames (STATUS_IO_DEVICE_ERROR,
 * error 1117). An unknown function fails with STATUS_INVALID_DEVICE_REQUEST
 * (error 1), a Length too small for the answer with STATUS_BUFFER_TOO_SMALL. */

#define QEB_FRAME_SIGNATURE     0x42444D50u /* "PMDB" */
#define QEB_FRAME_HEADER_SIZE   20u

/* KNVS functions answered by the simulated firmware. */
#define QEB_KNVS_HEALTH_STATUS  7u   /* response: uint32 health status + 20 reading bytes */
#define QEB_KNVS_POWER_FLAGS    9u   /* response: uint32 power flags */

/* Feature indices: the firmware's feature state words. */
enum {
    QEB_FEAT_WIFI = 0,
    QEB_FEAT_BT = 1,
    QEB_FEAT_MIC_LED = 2,
    QEB_FEAT_VOL_LED = 3,
    QEB_FEAT_AMBIENT_LIGHT = 4,
    QEB_FEAT_POWER_METER = 5,
    QEB_FEAT_THERMAL = 6,
    QEB_FEAT_CAD_SUPPORT = 7,
    QEB_FEAT_BATTERY = 8,
    QEB_FEAT_USB_CHARGE = 9,
    QEB_FEAT_FSC = 10,
    QEB_FEAT_PC_HEALTH = 11,
    QEB_FEATURE_COUNT = 12
};

/* KSMI functions (Parameter 0):
 *   0x10 + index  read feature: response uint32 status word; for
 *                 QEB_FEAT_THERMAL the status word then the 20 reading bytes
 *   0x20 + index  set feature: request uint32 value, response uint32 result
 *                 (0 = done, 0x80000000 = refused: word negative or feature
 *                 absent, or no setter for that feature)
 *   0x30          brightness changed manually: no data, always succeeds
 * Any other function fails the request.
 * Setter semantics (the new status word as a reading reports it):
 *   WIFI, BT:   bit 1 := value bit 0
 *   MIC, VOL:   bit 1 := NOT value bit 0   (value 1 = LED shown "ON")
 *   USB charge: bit 1 := value bit 0; bit 3 := value bit 1 when bit 2 is set
 *   FSC:        bits 1-2 := value bits 0-1
 */
#define QEB_KSMI_READ_FEATURE(i)  (0x10u + (uint32_t)(i))
#define QEB_KSMI_SET_FEATURE(i)   (0x20u + (uint32_t)(i))
#define QEB_KSMI_BRIGHTNESS       0x30u

/* ---- simulator control (\\.\QEBISimCtl) -------------------------------- */
/* in: uint32 code. out (optional): QEBSIM_RAISE_RESULT. */
#define QEBSIM_IOCTL_RAISE_EVENT     QEBSIM_CODE(0xA00)
/* in: uint32 health status word (KNVS 7). */
#define QEBSIM_IOCTL_SET_HEALTH      QEBSIM_CODE(0xA01)
/* in: uint32 power flags (KNVS 9). */
#define QEBSIM_IOCTL_SET_POWER_FLAGS QEBSIM_CODE(0xA02)
/* in: uint32 n: the next n framed requests (KSMI or KNVS) fail. */
#define QEBSIM_IOCTL_FAIL_NEXT       QEBSIM_CODE(0xA03)
/* in: uint32 first sequence number wanted; out: QEBSIM_JOURNAL_HEADER then
 * as many whole QEBSIM_RECORDs as fit, oldest first. */
#define QEBSIM_IOCTL_READ_JOURNAL    QEBSIM_CODE(0xA04)
/* no data: empties the journal (sequence numbers keep counting). */
#define QEBSIM_IOCTL_CLEAR_JOURNAL   QEBSIM_CODE(0xA05)
/* out: QEBSIM_STATE. */
#define QEBSIM_IOCTL_GET_STATE       QEBSIM_CODE(0xA06)
/* in: QEBSIM_FEATURE_VALUE: sets a feature state word to any value. */
#define QEBSIM_IOCTL_SET_FEATURE     QEBSIM_CODE(0xA07)
/* in: uint32 source (QEBSIM_NOTE_*) then a UTF-16 text (no terminator
 * needed): journaled as a QEBSIM_REC_NOTE. Used by the stand-in libraries. */
#define QEBSIM_IOCTL_NOTE            QEBSIM_CODE(0xA08)
/* in: 20 bytes: the thermal reading set (KNVS 7 and KSMI thermal read). */
#define QEBSIM_IOCTL_SET_READINGS    QEBSIM_CODE(0xA09)
/* in: QEBSIM_DISK_CONFIG: simulated physical drive with SMART data. */
#define QEBSIM_IOCTL_SET_DISK        QEBSIM_CODE(0xA0A)
/* in: uint32 bytes (0 to 3): the next event completion of a wait, whichever
 * handle gets it, carries only that many bytes of its code (the rest of the
 * caller's buffer keeps what it held) and is journaled as
 * QEBSIM_REC_EVENT_SHORT. A device may complete a request short; this lets
 * tests show what a listener makes of it. */
#define QEBSIM_IOCTL_SHORT_NEXT      QEBSIM_CODE(0xA0B)
/* in: uint32 1 = lose the platform device, 0 = bring it back. Losing it
 * completes every pended wait with STATUS_DEVICE_REMOVED, fails every later
 * request on a handle open at that moment with the same status and removes
 * \\.\QEBI (opens fail with error 2) until it is brought back; new handles
 * work again then, old ones stay dead. The firmware state and the journal
 * are kept. A device loss without unloading the driver: Wine unloads a
 * stopped driver with handles still open, and their later use or close can
 * crash the driver's host process. */
#define QEBSIM_IOCTL_DEVICE_PRESENT  QEBSIM_CODE(0xA0C)
/* in: uint32 bytes (0 to 3), or QEBSIM_SHORT_OFF: until turned off, every
 * event wait on \\.\QEBI completes at once with only that many bytes and no
 * event (a pended wait completes so when the mode is turned on); events
 * raised meanwhile stay queued for their handles and are delivered whole
 * once it is off. As some drivers do around power transitions. Counted in
 * waits_short of the state, not journaled (a listener that does not back
 * off would flood the journal). */
#define QEBSIM_IOCTL_SHORT_MODE      QEBSIM_CODE(0xA0D)
#define QEBSIM_SHORT_OFF             0xFFFFFFFFu

#define QEBSIM_NOTE_SAS       1u   /* stand-in sas.dll */
#define QEBSIM_NOTE_POWRPROF  2u   /* stand-in PowrProf.dll */
#define QEBSIM_NOTE_QEBI_DLL  3u   /* stand-in QEBI.dll */
#define QEBSIM_NOTE_TEST      4u   /* tests and tools */

#pragma pack(push, 1)

typedef struct QEBSIM_RAISE_RESULT {
    uint32_t listeners;   /* open \\.\QEBI handles the event was offered to */
    uint32_t completed;   /* of those, waits completed at once */
    uint32_t queued;      /* of those, held in the handle's queue */
    uint32_t dropped;     /* of those, refused because the queue was full */
    uint32_t max_depth;   /* deepest queue after this event */
} QEBSIM_RAISE_RESULT;

typedef struct QEBSIM_FEATURE_VALUE {
    uint32_t index;       /* QEB_FEAT_* */
    int32_t value;
} QEBSIM_FEATURE_VALUE;

/* Per-handle event queue bound: an event raised while a handle's queue holds
 * this many is not queued for that handle; the handle's and the device's
 * overflow counters count it and the journal gets a QEBSIM_REC_EVENT_DROPPED. */
#define QEBSIM_QUEUE_BOUND 4096u

typedef struct QEBSIM_STATE {
    uint32_t health_status;
    uint32_t power_flags;
    int32_t features[QEB_FEATURE_COUNT];
    uint8_t readings[20];
    uint32_t fail_next;          /* framed requests still to fail */
    uint32_t listeners;          /* open \\.\QEBI handles */
    uint32_t pending_waits;      /* of those, with a wait outstanding */
    uint32_t events_raised;
    uint32_t events_delivered;
    uint32_t events_dropped;     /* queue overflows, all handles */
    uint32_t frames_received;
    uint32_t frames_rejected;    /* bad signature, length or checksum */
    uint32_t journal_next_seq;
    uint32_t events_short;       /* completions cut short (SHORT_NEXT) */
    uint32_t short_next;         /* bytes of the armed short completion, 0xFFFFFFFF if none */
    uint32_t device_lost;        /* 1 while the platform device is lost (DEVICE_PRESENT 0) */
    uint32_t short_mode;         /* bytes of every wait's completion (SHORT_MODE), QEBSIM_SHORT_OFF if off */
    uint32_t waits_short;        /* waits completed short by SHORT_MODE */
} QEBSIM_STATE;

enum {
    QEBSIM_REC_FRAME = 1,           /* code = ioctl; data = frame as received; status = result */
    QEBSIM_REC_EVENT_RAISED = 2,    /* code = event code */
    QEBSIM_REC_EVENT_DELIVERED = 3, /* handle_id, code = event code */
    QEBSIM_REC_EVENT_DROPPED = 4,   /* handle_id, code = event code */
    QEBSIM_REC_WAIT_PENDED = 5,     /* handle_id: a wait is outstanding */
    QEBSIM_REC_WAIT_ENDED = 6,      /* handle_id: wait completed without event; status */
    QEBSIM_REC_OPEN = 7,            /* handle_id */
    QEBSIM_REC_CLOSE = 8,           /* handle_id */
    QEBSIM_REC_NOTE = 9,            /* code = source; data = UTF-16 text */
    QEBSIM_REC_FEATURE_SET = 10,    /* code = feature index; status = value set */
    QEBSIM_REC_DISK = 11,           /* code = SMART ioctl; handle_id = drive; status */
    QEBSIM_REC_EVENT_SHORT = 12,    /* handle_id, code = event code; status = bytes completed */
    QEBSIM_REC_DEVICE = 13          /* code = 0 lost, 1 back; status = handles made dead */
};

#define QEBSIM_RECORD_DATA 192u

typedef struct QEBSIM_RECORD {
    uint32_t seq;          /* 1, 2, 3 ... never reused */
    uint32_t kind;         /* QEBSIM_REC_* */
    int64_t time_qpc;      /* performance counter at the time of the record */
    uint32_t handle_id;    /* per-open number of a \\.\QEBI handle, 0 if none */
    uint32_t code;
    int32_t status;        /* NTSTATUS or value, by kind */
    uint32_t length;       /* full length of the data the record is about */
    uint32_t data_len;     /* bytes kept in data (at most QEBSIM_RECORD_DATA) */
    uint8_t data[QEBSIM_RECORD_DATA];
} QEBSIM_RECORD;

typedef struct QEBSIM_JOURNAL_HEADER {
    uint32_t oldest_seq;   /* oldest record still held (the journal is a ring) */
    uint32_t next_seq;     /* sequence number the next record will get */
    uint32_t count;        /* records that follow */
    uint32_t reserved;
    int64_t qpc_frequency; /* counts per second of time_qpc */
} QEBSIM_JOURNAL_HEADER;

#define QEBSIM_JOURNAL_CAPACITY 8192u

/* Simulated physical drive N (0 to 9), answering SMART_GET_VERSION,
 * SMART_SEND_DRIVE_COMMAND and SMART_RCV_DRIVE_DATA. */
enum {
    QEBSIM_DISK_PRESENT = 1,
    QEBSIM_DISK_FAIL_VERSION = 2,
    QEBSIM_DISK_FAIL_ENABLE = 4,
    QEBSIM_DISK_FAIL_READ = 8
};

typedef struct QEBSIM_DISK_CONFIG {
    uint32_t drive;        /* 0 to 9 */
    uint32_t flags;        /* QEBSIM_DISK_*; 0 removes the drive */
    uint8_t smart_data[512];  /* SMART READ DATA sector (attribute table at offset 2) */
} QEBSIM_DISK_CONFIG;

#pragma pack(pop)

#endif
