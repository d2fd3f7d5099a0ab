/*
 * Pure pieces of the simulated firmware: frame checks, the CRC, the firmware
 * state and its answers, the per-handle event queue, the journal ring and the
 * SMART answers of the simulated drives.
 *
 * No Windows or kernel calls here: the driver wraps these functions with its
 * locking and IRP handling, and a user-mode unit test compiles this file as
 * it is. Nothing allocates; callers hand in the storage.
 */
#ifndef QEBISIM_SIM_CORE_H
#define QEBISIM_SIM_CORE_H

#include <stddef.h>
#include <stdint.h>

#include "qebisim/protocol.h"

#ifdef __cplusplus
extern "C" {
#endif

/* CRC-16/XMODEM (poly 0x1021, init 0, no reflection, no final XOR). */
uint16_t qebsim_crc16(const uint8_t *data, size_t len);

/* Outcome of the frame check, in the order the checks are made. */
enum {
    QEBSIM_FRAME_OK = 0,
    QEBSIM_FRAME_TOO_SHORT = 1,      /* input shorter than the header */
    QEBSIM_FRAME_BAD_SIGNATURE = 2,  /* not "PMDB" */
    QEBSIM_FRAME_BAD_LENGTH = 3,     /* Length != input length or != output length */
    QEBSIM_FRAME_BAD_CHECKSUM = 4
};

/* Checks a framed request as received: in_len/out_len are the request's
 * buffer lengths. Reads only the first in_len bytes of frame. */
int qebsim_check_frame(const uint8_t *frame, uint32_t in_len, uint32_t out_len);

/* Stores the CRC of the whole frame (computed with the field zeroed) at
 * offset 8. len must be at least the header size. */
void qebsim_seal_frame(uint8_t *frame, uint32_t len);

/* The firmware's state as the framed requests see it. */
typedef struct QEBSIM_FIRMWARE {
    uint32_t health_status;
    uint32_t power_flags;
    int32_t features[QEB_FEATURE_COUNT];
    uint8_t readings[20];
} QEBSIM_FIRMWARE;

/* A desktop PC in good health (see simulator/README.md). */
void qebsim_firmware_init(QEBSIM_FIRMWARE *fw);

/* Applies a feature setter to the current status word. Returns 1 and the new
 * word in *out when applied; 0 when refused (current word negative, feature
 * absent, or a feature without setter). */
int qebsim_apply_setter(uint32_t index, int32_t current, uint32_t value, int32_t *out);

enum {
    QEBSIM_ANSWER_OK = 0,
    QEBSIM_ANSWER_UNKNOWN_FUNCTION = 1,  /* kind/function not offered */
    QEBSIM_ANSWER_TOO_SHORT = 2          /* payload cannot hold request or response */
};

/* What answering a frame changed, for the journal. */
typedef struct QEBSIM_ANSWER_EFFECT {
    int32_t feature_set;     /* index of the feature word changed, -1 if none */
    int32_t new_word;        /* its new status word */
    uint32_t requested;      /* the value the request asked for */
} QEBSIM_ANSWER_EFFECT;

/* Answers a checked frame in place (response from offset 20, checksum
 * resealed). ioctl is QEB_IOCTL_KSMI or QEB_IOCTL_KNVS. On any result other
 * than QEBSIM_ANSWER_OK the frame is left untouched. */
int qebsim_answer_frame(QEBSIM_FIRMWARE *fw, uint32_t ioctl, uint8_t *frame, uint32_t len,
                        QEBSIM_ANSWER_EFFECT *effect);

/* Bounded FIFO of event codes; slots has room for capacity codes. */
typedef struct QEBSIM_EVENT_QUEUE {
    uint32_t *slots;
    uint32_t capacity;
    uint32_t head;    /* index of the oldest code */
    uint32_t count;
} QEBSIM_EVENT_QUEUE;

void qebsim_queue_init(QEBSIM_EVENT_QUEUE *q, uint32_t *slots, uint32_t capacity);
int qebsim_queue_push(QEBSIM_EVENT_QUEUE *q, uint32_t code);   /* 0 when full */
int qebsim_queue_pop(QEBSIM_EVENT_QUEUE *q, uint32_t *code);   /* 0 when empty */

/* Ring of journal records; record with sequence s sits at (s - 1) % capacity. */
typedef struct QEBSIM_JOURNAL {
    QEBSIM_RECORD *ring;
    uint32_t capacity;
    uint32_t next_seq;   /* starts at 1 */
    uint32_t count;      /* records held, at most capacity */
} QEBSIM_JOURNAL;

void qebsim_journal_init(QEBSIM_JOURNAL *j, QEBSIM_RECORD *ring, uint32_t capacity);
/* Appends a record; data (may be null) is kept up to QEBSIM_RECORD_DATA bytes
 * while length records the full size. Returns the record's sequence number. */
uint32_t qebsim_journal_append(QEBSIM_JOURNAL *j, uint32_t kind, int64_t time_qpc,
                               uint32_t handle_id, uint32_t code, int32_t status,
                               const void *data, uint32_t length);
/* Empties the ring; sequence numbers keep counting. */
void qebsim_journal_clear(QEBSIM_JOURNAL *j);
uint32_t qebsim_journal_oldest(const QEBSIM_JOURNAL *j);
/* Copies the records from from_seq on (or the oldest held, if later), oldest
 * first, at most max of them. Returns the number copied. */
uint32_t qebsim_journal_read(const QEBSIM_JOURNAL *j, uint32_t from_seq,
                             QEBSIM_RECORD *out, uint32_t max);

/* SMART requests of a simulated drive. */
#define QEBSIM_SMART_GET_VERSION   0x00074080u
#define QEBSIM_SMART_SEND_COMMAND  0x0007C084u
#define QEBSIM_SMART_RCV_DATA      0x0007C088u

#define QEBSIM_SMART_IN_SIZE       32u    /* SENDCMDINPARAMS without its buffer byte */
#define QEBSIM_SMART_OUT_HEADER    16u    /* SENDCMDOUTPARAMS without its buffer */
#define QEBSIM_SMART_VERSION_SIZE  24u    /* GETVERSIONINPARAMS */
#define QEBSIM_SMART_SECTOR        512u

enum {
    QEBSIM_SMART_OK = 0,
    QEBSIM_SMART_INVALID = 1,        /* registers, drive number or sizes in the input wrong */
    QEBSIM_SMART_TOO_SMALL = 2,      /* output buffer too small */
    QEBSIM_SMART_DEVICE_ERROR = 3,   /* failure injected for this request kind */
    QEBSIM_SMART_UNSUPPORTED = 4,    /* another request code */
    QEBSIM_SMART_NO_DEVICE = 5       /* drive not present */
};

/* Answers one SMART request of drive `disk`. in and out may be the same
 * buffer (METHOD_BUFFERED): the input is read completely before any output
 * is written. *written gets the bytes of output produced. */
int qebsim_smart_answer(const QEBSIM_DISK_CONFIG *disk, uint32_t ioctl,
                        const uint8_t *in, uint32_t in_len,
                        uint8_t *out, uint32_t out_len, uint32_t *written);

#ifdef __cplusplus
}
#endif

#endif
