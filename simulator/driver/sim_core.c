/* Pure pieces of the simulated firmware; see sim_core.h. */
#include "sim_core.h"

#include <string.h>

static uint16_t get16(const uint8_t *p) { return (uint16_t)(p[0] | (p[1] << 8)); }
static uint32_t get32(const uint8_t *p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
static void put16(uint8_t *p, uint16_t v) { p[0] = (uint8_t)v; p[1] = (uint8_t)(v >> 8); }
static void put32(uint8_t *p, uint32_t v)
{
    p[0] = (uint8_t)v; p[1] = (uint8_t)(v >> 8); p[2] = (uint8_t)(v >> 16); p[3] = (uint8_t)(v >> 24);
}

uint16_t qebsim_crc16(const uint8_t *data, size_t len)
{
    uint16_t crc = 0;
    size_t i;
    int bit;
    for (i = 0; i < len; ++i) {
        crc ^= (uint16_t)(data[i] << 8);
        for (bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000u) ? (uint16_t)((crc << 1) ^ 0x1021u) : (uint16_t)(crc << 1);
    }
    return crc;
}

/* CRC of a frame as if its checksum field were zero, without copying it. */
static uint16_t frame_crc(const uint8_t *frame, uint32_t len)
{
    static const uint8_t zero[2] = {0, 0};
    uint16_t crc = 0;
    uint32_t i;
    int bit;
    for (i = 0; i < len; ++i) {
        uint8_t b = (i == 8 || i == 9) ? zero[i - 8] : frame[i];
        crc ^= (uint16_t)(b << 8);
        for (bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000u) ? (uint16_t)((crc << 1) ^ 0x1021u) : (uint16_t)(crc << 1);
    }
    return crc;
}

int qebsim_check_frame(const uint8_t *frame, uint32_t in_len, uint32_t out_len)
{
    if (frame == NULL || in_len < QEB_FRAME_HEADER_SIZE)
        return QEBSIM_FRAME_TOO_SHORT;
    if (get32(frame) != QEB_FRAME_SIGNATURE)
        return QEBSIM_FRAME_BAD_SIGNATURE;
    if (get16(frame + 4) != in_len || in_len != out_len)
        return QEBSIM_FRAME_BAD_LENGTH;
    if (get16(frame + 8) != frame_crc(frame, in_len))
        return QEBSIM_FRAME_BAD_CHECKSUM;
    return QEBSIM_FRAME_OK;
}

void qebsim_seal_frame(uint8_t *frame, uint32_t len)
{
    put16(frame + 8, frame_crc(frame, len));
}

void qebsim_firmware_init(QEBSIM_FIRMWARE *fw)
{
    /* PCH 45.0, CPU 42.5, VRD 40.0, SYS 35.0, HDD 38.0, GPU 48.0 degrees;
     * fans CPU 1850, SYS 1200, PWR 1500, GFX 1400 rpm. */
    static const uint8_t readings[20] = {
        0x2D, 0x00, 0x2A, 0x05, 0x28, 0x00, 0x23, 0x00, 0x26, 0x00, 0x30, 0x00,
        0x3A, 0x07, 0xB0, 0x04, 0xDC, 0x05, 0x78, 0x05
    };
    memset(fw, 0, sizeof(*fw));
    fw->health_status = 0x00000001u;   /* desktop, no error */
    fw->power_flags = 0;
    fw->features[QEB_FEAT_WIFI] = 0x3;          /* present, on */
    fw->features[QEB_FEAT_BT] = 0x3;            /* present, on */
    fw->features[QEB_FEAT_MIC_LED] = 0x1;       /* present, LED on */
    fw->features[QEB_FEAT_VOL_LED] = 0x1;       /* present, LED on */
    fw->features[QEB_FEAT_AMBIENT_LIGHT] = 0x15;
    fw->features[QEB_FEAT_POWER_METER] = 0x00050031;
    fw->features[QEB_FEAT_THERMAL] = 0x1;
    fw->features[QEB_FEAT_CAD_SUPPORT] = 0x3;
    fw->features[QEB_FEAT_BATTERY] = 0x2;
    fw->features[QEB_FEAT_USB_CHARGE] = 0x0F;
    fw->features[QEB_FEAT_FSC] = 0x1;
    fw->features[QEB_FEAT_PC_HEALTH] = 0x1;
    memcpy(fw->readings, readings, sizeof(readings));
}

int qebsim_apply_setter(uint32_t index, int32_t current, uint32_t value, int32_t *out)
{
    uint32_t w = (uint32_t)current;
    if (current < 0 || (w & 1u) == 0)
        return 0;
    switch (index) {
    case QEB_FEAT_WIFI:
    case QEB_FEAT_BT:
        w = (w & ~2u) | ((value & 1u) << 1);
        break;
    case QEB_FEAT_MIC_LED:
    case QEB_FEAT_VOL_LED:
        w = (w & ~2u) | ((~value & 1u) << 1);
        break;
    case QEB_FEAT_USB_CHARGE:
        w = (w & ~2u) | ((value & 1u) << 1);
        if (w & 4u)
            w = (w & ~8u) | (((value >> 1) & 1u) << 3);
        break;
    case QEB_FEAT_FSC:
        w = (w & ~6u) | ((value & 3u) << 1);
        break;
    default:
        return 0;
    }
    *out = (int32_t)w;
    return 1;
}

int qebsim_answer_frame(QEBSIM_FIRMWARE *fw, uint32_t ioctl, uint8_t *frame, uint32_t len,
                        QEBSIM_ANSWER_EFFECT *effect)
{
    uint16_t function = get16(frame + 10);
    uint32_t room = len - QEB_FRAME_HEADER_SIZE;
    uint8_t *payload = frame + QEB_FRAME_HEADER_SIZE;

    effect->feature_set = -1;
    effect->new_word = 0;
    effect->requested = 0;

    if (ioctl == QEB_IOCTL_KNVS) {
        if (function == QEB_KNVS_HEALTH_STATUS) {
            if (room < 24)
                return QEBSIM_ANSWER_TOO_SHORT;
            put32(payload, fw->health_status);
            memcpy(payload + 4, fw->readings, 20);
        } else if (function == QEB_KNVS_POWER_FLAGS) {
            if (room < 4)
                return QEBSIM_ANSWER_TOO_SHORT;
            put32(payload, fw->power_flags);
        } else {
            return QEBSIM_ANSWER_UNKNOWN_FUNCTION;
        }
    } else if (ioctl == QEB_IOCTL_KSMI) {
        if (function >= QEB_KSMI_READ_FEATURE(0) && function < QEB_KSMI_READ_FEATURE(QEB_FEATURE_COUNT)) {
            uint32_t index = function - QEB_KSMI_READ_FEATURE(0);
            uint32_t need = index == QEB_FEAT_THERMAL ? 24u : 4u;
            if (room < need)
                return QEBSIM_ANSWER_TOO_SHORT;
            put32(payload, (uint32_t)fw->features[index]);
            if (index == QEB_FEAT_THERMAL)
                memcpy(payload + 4, fw->readings, 20);
        } else if (function >= QEB_KSMI_SET_FEATURE(0) && function < QEB_KSMI_SET_FEATURE(QEB_FEATURE_COUNT)) {
            uint32_t index = function - QEB_KSMI_SET_FEATURE(0);
            uint32_t value;
            int32_t word;
            if (room < 4)
                return QEBSIM_ANSWER_TOO_SHORT;
            value = get32(payload);
            effect->requested = value;
            if (qebsim_apply_setter(index, fw->features[index], value, &word)) {
                fw->features[index] = word;
                effect->feature_set = (int32_t)index;
                effect->new_word = word;
                put32(payload, 0);
            } else {
                put32(payload, 0x80000000u);
            }
        } else if (function == QEB_KSMI_BRIGHTNESS) {
            /* Nothing to answer; the payload is left as sent. */
        } else {
            return QEBSIM_ANSWER_UNKNOWN_FUNCTION;
        }
    } else {
        return QEBSIM_ANSWER_UNKNOWN_FUNCTION;
    }
    qebsim_seal_frame(frame, len);
    return QEBSIM_ANSWER_OK;
}

void qebsim_queue_init(QEBSIM_EVENT_QUEUE *q, uint32_t *slots, uint32_t capacity)
{
    q->slots = slots;
    q->capacity = capacity;
    q->head = 0;
    q->count = 0;
}

int qebsim_queue_push(QEBSIM_EVENT_QUEUE *q, uint32_t code)
{
    if (q->count >= q->capacity)
        return 0;
    q->slots[(q->head + q->count) % q->capacity] = code;
    q->count++;
    return 1;
}

int qebsim_queue_pop(QEBSIM_EVENT_QUEUE *q, uint32_t *code)
{
    if (q->count == 0)
        return 0;
    *code = q->slots[q->head];
    q->head = (q->head + 1) % q->capacity;
    q->count--;
    return 1;
}

void qebsim_journal_init(QEBSIM_JOURNAL *j, QEBSIM_RECORD *ring, uint32_t capacity)
{
    j->ring = ring;
    j->capacity = capacity;
    j->next_seq = 1;
    j->count = 0;
}

uint32_t qebsim_journal_append(QEBSIM_JOURNAL *j, uint32_t kind, int64_t time_qpc,
                               uint32_t handle_id, uint32_t code, int32_t status,
                               const void *data, uint32_t length)
{
    uint32_t seq = j->next_seq++;
    QEBSIM_RECORD *r = &j->ring[(seq - 1) % j->capacity];
    uint32_t keep = length < QEBSIM_RECORD_DATA ? length : QEBSIM_RECORD_DATA;
    if (data == NULL)
        keep = 0;
    memset(r, 0, sizeof(*r));
    r->seq = seq;
    r->kind = kind;
    r->time_qpc = time_qpc;
    r->handle_id = handle_id;
    r->code = code;
    r->status = status;
    r->length = length;
    r->data_len = keep;
    if (keep)
        memcpy(r->data, data, keep);
    if (j->count < j->capacity)
        j->count++;
    return seq;
}

void qebsim_journal_clear(QEBSIM_JOURNAL *j)
{
    j->count = 0;
}

uint32_t qebsim_journal_oldest(const QEBSIM_JOURNAL *j)
{
    return j->next_seq - j->count;
}

uint32_t qebsim_journal_read(const QEBSIM_JOURNAL *j, uint32_t from_seq,
                             QEBSIM_RECORD *out, uint32_t max)
{
    uint32_t seq = from_seq;
    uint32_t n = 0;
    if (seq < qebsim_journal_oldest(j))
        seq = qebsim_journal_oldest(j);
    while (seq < j->next_seq && n < max) {
        memcpy(&out[n], &j->ring[(seq - 1) % j->capacity], sizeof(QEBSIM_RECORD));
        ++n;
        ++seq;
    }
    return n;
}

/* IDE registers inside SENDCMDINPARAMS (offset 4): features, sector count,
 * sector number, cylinder low, cylinder high, drive/head, command. */
#define SMART_IN_FEATURES   4
#define SMART_IN_CYL_LOW    7
#define SMART_IN_CYL_HIGH   8
#define SMART_IN_COMMAND    10
#define SMART_IN_DRIVE      12

int qebsim_smart_answer(const QEBSIM_DISK_CONFIG *disk, uint32_t ioctl,
                        const uint8_t *in, uint32_t in_len,
                        uint8_t *out, uint32_t out_len, uint32_t *written)
{
    uint32_t buffer_size;
    uint8_t features, cyl_low, cyl_high, command, drive;

    *written = 0;
    if (!(disk->flags & QEBSIM_DISK_PRESENT))
        return QEBSIM_SMART_NO_DEVICE;

    if (ioctl == QEBSIM_SMART_GET_VERSION) {
        if (out_len < QEBSIM_SMART_VERSION_SIZE)
            return QEBSIM_SMART_TOO_SMALL;
        if (disk->flags & QEBSIM_DISK_FAIL_VERSION)
            return QEBSIM_SMART_DEVICE_ERROR;
        memset(out, 0, QEBSIM_SMART_VERSION_SIZE);
        out[0] = 1;                 /* bVersion */
        out[1] = 1;                 /* bRevision */
        out[3] = 1;                 /* bIDEDeviceMap: primary master */
        put32(out + 4, 0x7);        /* CAP_ATA_ID_CMD | CAP_ATAPI_ID_CMD | CAP_SMART_CMD */
        *written = QEBSIM_SMART_VERSION_SIZE;
        return QEBSIM_SMART_OK;
    }
    if (ioctl != QEBSIM_SMART_SEND_COMMAND && ioctl != QEBSIM_SMART_RCV_DATA)
        return QEBSIM_SMART_UNSUPPORTED;

    if (in == NULL || in_len < QEBSIM_SMART_IN_SIZE)
        return QEBSIM_SMART_INVALID;
    /* Read everything needed before the output overwrites the input. */
    buffer_size = get32(in);
    features = in[SMART_IN_FEATURES];
    cyl_low = in[SMART_IN_CYL_LOW];
    cyl_high = in[SMART_IN_CYL_HIGH];
    command = in[SMART_IN_COMMAND];
    drive = in[SMART_IN_DRIVE];

    if (command != 0xB0 || cyl_low != 0x4F || cyl_high != 0xC2 || drive != (uint8_t)disk->drive)
        return QEBSIM_SMART_INVALID;

    if (ioctl == QEBSIM_SMART_SEND_COMMAND) {
        if (features != 0xD8)
            return QEBSIM_SMART_INVALID;
        if (out_len < QEBSIM_SMART_OUT_HEADER)
            return QEBSIM_SMART_TOO_SMALL;
        if (disk->flags & QEBSIM_DISK_FAIL_ENABLE)
            return QEBSIM_SMART_DEVICE_ERROR;
        memset(out, 0, QEBSIM_SMART_OUT_HEADER);
        *written = QEBSIM_SMART_OUT_HEADER;
        return QEBSIM_SMART_OK;
    }

    if (features != 0xD0 || buffer_size < QEBSIM_SMART_SECTOR)
        return QEBSIM_SMART_INVALID;
    if (out_len < QEBSIM_SMART_OUT_HEADER + QEBSIM_SMART_SECTOR)
        return QEBSIM_SMART_TOO_SMALL;
    if (disk->flags & QEBSIM_DISK_FAIL_READ)
        return QEBSIM_SMART_DEVICE_ERROR;
    memset(out, 0, QEBSIM_SMART_OUT_HEADER);
    put32(out, QEBSIM_SMART_SECTOR);
    memcpy(out + QEBSIM_SMART_OUT_HEADER, disk->smart_data, QEBSIM_SMART_SECTOR);
    *written = QEBSIM_SMART_OUT_HEADER + QEBSIM_SMART_SECTOR;
    return QEBSIM_SMART_OK;
}
