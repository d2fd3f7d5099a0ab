/*
 * qebisim.sys: the simulated platform firmware.
 *
 * Devices:
 *   \Device\QEBI         (\DosDevices\QEBI)        framed KSMI/KNVS requests and
 *                                                  the event wait; every open
 *                                                  handle is an event listener
 *   \Device\QEBISimCtl   (\DosDevices\QEBISimCtl)  the simulator's control requests
 *   \Device\QEBISimDiskN (\DosDevices\PhysicalDriveN, while the drive is present)
 *                                                  SMART requests of drive N
 *
 * Every request is handled without blocking: Wine dispatches all requests of
 * a driver on one thread, so a wait is pended and completed later by the
 * request that raises the event. Shared state sits behind one spin lock so
 * the driver is also correct where dispatch routines run concurrently.
 * Pended IRPs are completed only after the lock is released.
 */
#include <ntddk.h>

#include "sim_core.h"

#define SIM_TAG 'misQ'
#define SIM_DRIVES 10

enum { DEV_PLATFORM = 1, DEV_CONTROL = 2, DEV_DISK = 3 };

typedef struct SIM_DEVICE_EXT {
    ULONG kind;
    ULONG drive;
} SIM_DEVICE_EXT;

/* Per-open context of a \\.\QEBI handle (FileObject->FsContext). */
typedef struct SIM_HANDLE {
    LIST_ENTRY link;         /* in g.handles while listening */
    ULONG id;
    BOOLEAN listening;
    BOOLEAN waited;          /* has issued an event wait */
    BOOLEAN request_only;    /* first request was a framed one: gets no events until it waits */
    BOOLEAN dead;            /* open when the device was lost: every request fails */
    PIRP pending;            /* the outstanding wait, or NULL */
    ULONG dropped;           /* events refused because the queue was full */
    QEBSIM_EVENT_QUEUE queue;
    uint32_t slots[QEBSIM_QUEUE_BOUND];
} SIM_HANDLE;

static struct {
    KSPIN_LOCK lock;
    PDEVICE_OBJECT platform;
    PDEVICE_OBJECT control;
    PDEVICE_OBJECT disks[SIM_DRIVES];
    BOOLEAN disk_linked[SIM_DRIVES];
    QEBSIM_DISK_CONFIG disk_cfg[SIM_DRIVES];
    QEBSIM_FIRMWARE fw;
    QEBSIM_JOURNAL journal;
    QEBSIM_RECORD *ring;
    LIST_ENTRY handles;
    ULONG next_handle_id;
    ULONG fail_next;
    ULONG events_raised;
    ULONG events_delivered;
    ULONG events_dropped;
    ULONG frames_received;
    ULONG frames_rejected;
    ULONG events_short;
    ULONG short_next;        /* bytes of the next completion, or SIM_NO_SHORT */
    ULONG short_mode;        /* bytes of every wait's completion, or QEBSIM_SHORT_OFF */
    ULONG waits_short;
    BOOLEAN device_lost;     /* \\.\QEBI removed by QEBSIM_IOCTL_DEVICE_PRESENT 0 */
    LIST_ENTRY dead_handles; /* handles open when the device was lost */
    LONGLONG qpc_frequency;
} g;

#define SIM_NO_SHORT 0xFFFFFFFFu

static int64_t now_qpc(void)
{
    return KeQueryPerformanceCounter(NULL).QuadPart;
}

/* Caller holds g.lock. */
static void journal(uint32_t kind, uint32_t handle_id, uint32_t code, int32_t status,
                    const void *data, uint32_t length)
{
    qebsim_journal_append(&g.journal, kind, now_qpc(), handle_id, code, status, data, length);
}

static NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static void complete_list(PLIST_ENTRY list)
{
    while (!IsListEmpty(list)) {
        PLIST_ENTRY e = RemoveHeadList(list);
        PIRP irp = CONTAINING_RECORD(e, IRP, Tail.Overlay.ListEntry);
        IoCompleteRequest(irp, IO_NO_INCREMENT);
    }
}

/* A pended wait has exactly one owner at a time: the handle (h->pending,
 * cancel routine set), or whoever took it from there. take_pending is the
 * one hand-off: it wins the IRP by clearing its cancel routine. When the
 * cancel routine is already running, the IRP is the routine's: it stays
 * recorded in h->pending for the routine to clear (it searches the live and
 * the lost handles, find_waiter), unless detach_handle drops the record
 * first; either way only that routine completes it.
 * Returns the wait taken, or NULL when there is none or its cancel routine
 * is already running. Caller holds g.lock. */
static PIRP take_pending(SIM_HANDLE *h)
{
    PIRP irp = h->pending;
    if (irp == NULL)
        return NULL;
    if (IoSetCancelRoutine(irp, NULL) == NULL)
        return NULL;
    h->pending = NULL;
    return irp;
}

/* The handle whose h->pending is irp, among the listening handles and those
 * left when the device was lost; NULL if none. Caller holds g.lock. */
static SIM_HANDLE *find_waiter(PIRP irp)
{
    PLIST_ENTRY lists[2] = {&g.handles, &g.dead_handles};
    PLIST_ENTRY e;
    int i;
    for (i = 0; i < 2; i++)
        for (e = lists[i]->Flink; e != lists[i]; e = e->Flink) {
            SIM_HANDLE *h = CONTAINING_RECORD(e, SIM_HANDLE, link);
            if (h->pending == irp)
                return h;
        }
    return NULL;
}

static VOID NTAPI cancel_wait(PDEVICE_OBJECT device, PIRP irp)
{
    KIRQL irql;
    SIM_HANDLE *h;
    ULONG id = 0;

    IoReleaseCancelSpinLock(irp->CancelIrql);
    KeAcquireSpinLock(&g.lock, &irql);
    /* Find the owner through the lists, not FsContext: a close may already
     * have unlinked and freed it; a lost device moved it to dead_handles. */
    h = find_waiter(irp);
    if (h != NULL) {
        h->pending = NULL;
        id = h->id;
    }
    journal(QEBSIM_REC_WAIT_ENDED, id, 0, (int32_t)STATUS_CANCELLED, NULL, 0);
    KeReleaseSpinLock(&g.lock, irql);
    complete(irp, STATUS_CANCELLED, 0);
}

/* Completes a wait with an event code: all four bytes, or once after
 * QEBSIM_IOCTL_SHORT_NEXT only the armed number of them (the rest of the
 * caller's buffer is left as it was). Returns the bytes completed.
 * Caller holds g.lock. */
static ULONG fill_event(PIRP irp, SIM_HANDLE *h, uint32_t code)
{
    ULONG bytes = sizeof(uint32_t);
    if (g.short_next != SIM_NO_SHORT) {
        bytes = g.short_next;
        g.short_next = SIM_NO_SHORT;
    }
    RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, &code, bytes);
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = bytes;
    if (bytes == sizeof(uint32_t)) {
        g.events_delivered++;
        journal(QEBSIM_REC_EVENT_DELIVERED, h->id, code, 0, NULL, 0);
    } else {
        g.events_short++;
        journal(QEBSIM_REC_EVENT_SHORT, h->id, code, (int32_t)bytes, NULL, 0);
    }
    return bytes;
}

/* Completes a wait at once with g.short_mode zero bytes and no event.
 * Caller holds g.lock; the caller completes the IRP. */
static void fill_short(PIRP irp)
{
    RtlZeroMemory(irp->AssociatedIrp.SystemBuffer, g.short_mode);
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = g.short_mode;
    g.waits_short++;
}

/* Offers one event to every listener, in the order the handles were opened. */
static void raise_event(uint32_t code, QEBSIM_RAISE_RESULT *result)
{
    LIST_ENTRY done;
    KIRQL irql;
    PLIST_ENTRY e;

    InitializeListHead(&done);
    RtlZeroMemory(result, sizeof(*result));
    KeAcquireSpinLock(&g.lock, &irql);
    g.events_raised++;
    journal(QEBSIM_REC_EVENT_RAISED, 0, code, 0, NULL, 0);
    for (e = g.handles.Flink; e != &g.handles; e = e->Flink) {
        SIM_HANDLE *h = CONTAINING_RECORD(e, SIM_HANDLE, link);
        PIRP irp;
        if (h->request_only)
            continue;
        irp = take_pending(h);
        result->listeners++;
        if (irp != NULL) {
            fill_event(irp, h, code);
            InsertTailList(&done, &irp->Tail.Overlay.ListEntry);
            result->completed++;
        } else if (qebsim_queue_push(&h->queue, code)) {
            result->queued++;
        } else {
            result->dropped++;
            h->dropped++;
            g.events_dropped++;
            journal(QEBSIM_REC_EVENT_DROPPED, h->id, code, (int32_t)h->dropped, NULL, 0);
        }
        if (h->queue.count > result->max_depth)
            result->max_depth = h->queue.count;
    }
    KeReleaseSpinLock(&g.lock, irql);
    complete_list(&done);
}

/* Stops a handle listening and completes its pended wait with `status`.
 * Safe to call more than once (cleanup, then close). A handle left from a
 * lost device leaves the lost list in the same hold of the lock, so that no
 * cancel routine ever looks for its wait between the two moves. */
static void detach_handle(SIM_HANDLE *h, NTSTATUS status, uint32_t record)
{
    KIRQL irql;
    PIRP irp = NULL;

    KeAcquireSpinLock(&g.lock, &irql);
    if (h->dead) {
        RemoveEntryList(&h->link);
        h->dead = FALSE;
    }
    if (h->listening) {
        RemoveEntryList(&h->link);
        h->listening = FALSE;
    }
    irp = take_pending(h);
    if (irp != NULL)
        journal(QEBSIM_REC_WAIT_ENDED, h->id, 0, (int32_t)status, NULL, 0);
    /* A cancel routine already running completes the IRP itself; the handle
     * forgets it, since it may be freed before that routine looks. */
    h->pending = NULL;
    if (record)
        journal(record, h->id, 0, 0, NULL, 0);
    KeReleaseSpinLock(&g.lock, irql);
    if (irp != NULL)
        complete(irp, status, 0);
}

static NTSTATUS platform_create(PIRP irp, PIO_STACK_LOCATION stack)
{
    KIRQL irql;
    SIM_HANDLE *h;
    if (g.device_lost)  /* reached by its NT name; the link is gone */
        return complete(irp, STATUS_NO_SUCH_DEVICE, 0);
    h = ExAllocatePoolWithTag(NonPagedPool, sizeof(SIM_HANDLE), SIM_TAG);
    if (h == NULL)
        return complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    RtlZeroMemory(h, FIELD_OFFSET(SIM_HANDLE, slots));
    qebsim_queue_init(&h->queue, h->slots, QEBSIM_QUEUE_BOUND);
    KeAcquireSpinLock(&g.lock, &irql);
    h->id = ++g.next_handle_id;
    h->listening = TRUE;
    InsertTailList(&g.handles, &h->link);
    journal(QEBSIM_REC_OPEN, h->id, 0, 0, NULL, 0);
    KeReleaseSpinLock(&g.lock, irql);
    stack->FileObject->FsContext = h;
    return complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS frame_request(PIRP irp, PIO_STACK_LOCATION stack, SIM_HANDLE *h)
{
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG in_len = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out_len = stack->Parameters.DeviceIoControl.OutputBufferLength;
    uint8_t *frame = irp->AssociatedIrp.SystemBuffer;
    uint8_t raw[QEBSIM_RECORD_DATA];
    ULONG keep = in_len < sizeof(raw) ? in_len : sizeof(raw);
    QEBSIM_ANSWER_EFFECT effect;
    NTSTATUS status;
    KIRQL irql;
    int check;

    if (frame == NULL)
        keep = 0;
    if (keep)
        RtlCopyMemory(raw, frame, keep);
    effect.feature_set = -1;

    KeAcquireSpinLock(&g.lock, &irql);
    /* A handle that asks for frames before it ever waits for an event is a
     * request handle, as a feature library keeps one open for its queries:
     * events are no longer held for it (they would pile up unread) until it
     * waits for one. */
    if (h != NULL && !h->waited && !h->request_only) {
        h->request_only = TRUE;
        qebsim_queue_init(&h->queue, h->slots, QEBSIM_QUEUE_BOUND);
    }
    g.frames_received++;
    check = qebsim_check_frame(frame, frame ? in_len : 0, out_len);
    if (check != QEBSIM_FRAME_OK) {
        g.frames_rejected++;
        status = check == QEBSIM_FRAME_BAD_CHECKSUM ? STATUS_CRC_ERROR : STATUS_INVALID_PARAMETER;
    } else if (g.fail_next > 0) {
        g.fail_next--;
        status = STATUS_IO_DEVICE_ERROR;
    } else {
        switch (qebsim_answer_frame(&g.fw, code, frame, in_len, &effect)) {
        case QEBSIM_ANSWER_OK: status = STATUS_SUCCESS; break;
        case QEBSIM_ANSWER_TOO_SHORT: status = STATUS_BUFFER_TOO_SMALL; break;
        default: status = STATUS_INVALID_DEVICE_REQUEST; break;
        }
    }
    qebsim_journal_append(&g.journal, QEBSIM_REC_FRAME, now_qpc(), h ? h->id : 0, code,
                          (int32_t)status, keep ? raw : NULL, in_len);
    if (effect.feature_set >= 0)
        journal(QEBSIM_REC_FEATURE_SET, h ? h->id : 0, (uint32_t)effect.feature_set,
                effect.new_word, &effect.requested, sizeof(effect.requested));
    KeReleaseSpinLock(&g.lock, irql);
    return complete(irp, status, NT_SUCCESS(status) ? in_len : 0);
}

static NTSTATUS wait_request(PIRP irp, PIO_STACK_LOCATION stack, SIM_HANDLE *h)
{
    KIRQL irql;
    uint32_t code;

    if (stack->Parameters.DeviceIoControl.OutputBufferLength < sizeof(uint32_t) ||
        irp->AssociatedIrp.SystemBuffer == NULL)
        return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    if (h == NULL)
        return complete(irp, STATUS_INVALID_DEVICE_STATE, 0);

    KeAcquireSpinLock(&g.lock, &irql);
    if (!h->listening) {
        KeReleaseSpinLock(&g.lock, irql);
        return complete(irp, STATUS_DELETE_PENDING, 0);
    }
    h->waited = TRUE;
    h->request_only = FALSE;
    /* One wait per handle: a second concurrent one is refused. */
    if (h->pending != NULL) {
        KeReleaseSpinLock(&g.lock, irql);
        return complete(irp, STATUS_DEVICE_BUSY, 0);
    }
    if (g.short_mode != QEBSIM_SHORT_OFF) {
        fill_short(irp);
        KeReleaseSpinLock(&g.lock, irql);
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_SUCCESS;
    }
    if (qebsim_queue_pop(&h->queue, &code)) {
        fill_event(irp, h, code);
        KeReleaseSpinLock(&g.lock, irql);
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_SUCCESS;
    }
    IoSetCancelRoutine(irp, cancel_wait);
    if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL) {
        KeReleaseSpinLock(&g.lock, irql);
        return complete(irp, STATUS_CANCELLED, 0);
    }
    /* Pended; if a cancel raced in above, its routine finds it here. */
    IoMarkIrpPending(irp);
    h->pending = irp;
    journal(QEBSIM_REC_WAIT_PENDED, h->id, 0, 0, NULL, 0);
    KeReleaseSpinLock(&g.lock, irql);
    return STATUS_PENDING;
}

static NTSTATUS platform_control(PIRP irp, PIO_STACK_LOCATION stack)
{
    SIM_HANDLE *h = stack->FileObject ? stack->FileObject->FsContext : NULL;
    if (h != NULL && h->dead)
        return complete(irp, STATUS_DEVICE_REMOVED, 0);
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case QEB_IOCTL_KSMI:
    case QEB_IOCTL_KNVS:
        return frame_request(irp, stack, h);
    case QEB_IOCTL_WAIT_EVENT:
        return wait_request(irp, stack, h);
    default:
        return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

static NTSTATUS set_disk(const QEBSIM_DISK_CONFIG *cfg)
{
    ULONG n = cfg->drive;
    WCHAR dev_buf[40], link_buf[40];
    UNICODE_STRING dev_name, link_name;
    NTSTATUS status;
    KIRQL irql;

    if (n >= SIM_DRIVES)
        return STATUS_INVALID_PARAMETER;
    RtlInitEmptyUnicodeString(&dev_name, dev_buf, sizeof(dev_buf));
    RtlInitEmptyUnicodeString(&link_name, link_buf, sizeof(link_buf));
    RtlAppendUnicodeToString(&dev_name, L"\\Device\\QEBISimDisk");
    RtlAppendUnicodeToString(&link_name, L"\\DosDevices\\PhysicalDrive");
    dev_buf[dev_name.Length / sizeof(WCHAR)] = (WCHAR)(L'0' + n);
    dev_name.Length += sizeof(WCHAR);
    link_buf[link_name.Length / sizeof(WCHAR)] = (WCHAR)(L'0' + n);
    link_name.Length += sizeof(WCHAR);

    if (!(cfg->flags & QEBSIM_DISK_PRESENT)) {
        /* Removal: the name goes away; the device object stays until unload
         * so handles still open get failures, not a vanished device. */
        KeAcquireSpinLock(&g.lock, &irql);
        g.disk_cfg[n].flags = 0;
        KeReleaseSpinLock(&g.lock, irql);
        if (g.disk_linked[n]) {
            IoDeleteSymbolicLink(&link_name);
            g.disk_linked[n] = FALSE;
        }
        return STATUS_SUCCESS;
    }
    if (g.disks[n] == NULL) {
        PDEVICE_OBJECT dev;
        status = IoCreateDevice(g.platform->DriverObject, sizeof(SIM_DEVICE_EXT), &dev_name,
                                FILE_DEVICE_DISK, 0, FALSE, &dev);
        if (!NT_SUCCESS(status))
            return status;
        ((SIM_DEVICE_EXT *)dev->DeviceExtension)->kind = DEV_DISK;
        ((SIM_DEVICE_EXT *)dev->DeviceExtension)->drive = n;
        dev->Flags &= ~DO_DEVICE_INITIALIZING;
        g.disks[n] = dev;
    }
    KeAcquireSpinLock(&g.lock, &irql);
    RtlCopyMemory(&g.disk_cfg[n], cfg, sizeof(*cfg));
    g.disk_cfg[n].drive = n;
    KeReleaseSpinLock(&g.lock, irql);
    if (!g.disk_linked[n]) {
        status = IoCreateSymbolicLink(&link_name, &dev_name);
        if (!NT_SUCCESS(status)) {
            /* Wine's mount manager owns \\.\PhysicalDrive0 in every prefix
             * (a drive that answers no SMART request): the simulated drive
             * takes the name over for the life of the prefix. */
            IoDeleteSymbolicLink(&link_name);
            status = IoCreateSymbolicLink(&link_name, &dev_name);
        }
        if (!NT_SUCCESS(status)) {
            KeAcquireSpinLock(&g.lock, &irql);
            g.disk_cfg[n].flags = 0;
            KeReleaseSpinLock(&g.lock, irql);
            return status;
        }
        g.disk_linked[n] = TRUE;
    }
    return STATUS_SUCCESS;
}

static void fill_state(QEBSIM_STATE *s)
{
    PLIST_ENTRY e;
    RtlZeroMemory(s, sizeof(*s));
    s->health_status = g.fw.health_status;
    s->power_flags = g.fw.power_flags;
    RtlCopyMemory(s->features, g.fw.features, sizeof(s->features));
    RtlCopyMemory(s->readings, g.fw.readings, sizeof(s->readings));
    s->fail_next = g.fail_next;
    for (e = g.handles.Flink; e != &g.handles; e = e->Flink) {
        SIM_HANDLE *h = CONTAINING_RECORD(e, SIM_HANDLE, link);
        if (h->request_only)
            continue;
        s->listeners++;
        if (h->pending != NULL)
            s->pending_waits++;
    }
    s->events_raised = g.events_raised;
    s->events_delivered = g.events_delivered;
    s->events_dropped = g.events_dropped;
    s->frames_received = g.frames_received;
    s->frames_rejected = g.frames_rejected;
    s->journal_next_seq = g.journal.next_seq;
    s->events_short = g.events_short;
    s->short_next = g.short_next;
    s->device_lost = g.device_lost;
    s->short_mode = g.short_mode;
    s->waits_short = g.waits_short;
}

/* The platform device goes away under its users, as on a surprise removal:
 * pended waits fail, open handles fail every later request, new opens fail.
 * The handles stay allocated until their close. */
static NTSTATUS lose_device(void)
{
    LIST_ENTRY done;
    UNICODE_STRING link;
    KIRQL irql;
    LONG dead = 0;

    InitializeListHead(&done);
    KeAcquireSpinLock(&g.lock, &irql);
    if (g.device_lost) {
        KeReleaseSpinLock(&g.lock, irql);
        return STATUS_SUCCESS;
    }
    g.device_lost = TRUE;
    while (!IsListEmpty(&g.handles)) {
        PLIST_ENTRY e = RemoveHeadList(&g.handles);
        SIM_HANDLE *h = CONTAINING_RECORD(e, SIM_HANDLE, link);
        PIRP irp = take_pending(h);
        h->listening = FALSE;
        h->dead = TRUE;
        qebsim_queue_init(&h->queue, h->slots, QEBSIM_QUEUE_BOUND);
        if (irp != NULL) {
            irp->IoStatus.Status = STATUS_DEVICE_REMOVED;
            irp->IoStatus.Information = 0;
            InsertTailList(&done, &irp->Tail.Overlay.ListEntry);
            journal(QEBSIM_REC_WAIT_ENDED, h->id, 0, (int32_t)STATUS_DEVICE_REMOVED, NULL, 0);
        }
        InsertTailList(&g.dead_handles, &h->link);
        dead++;
    }
    journal(QEBSIM_REC_DEVICE, 0, 0, dead, NULL, 0);
    KeReleaseSpinLock(&g.lock, irql);
    complete_list(&done);
    RtlInitUnicodeString(&link, L"\\DosDevices\\QEBI");
    IoDeleteSymbolicLink(&link);
    return STATUS_SUCCESS;
}

static NTSTATUS restore_device(void)
{
    UNICODE_STRING link, dev;
    NTSTATUS status;
    KIRQL irql;

    if (!g.device_lost)
        return STATUS_SUCCESS;
    RtlInitUnicodeString(&link, L"\\DosDevices\\QEBI");
    RtlInitUnicodeString(&dev, L"\\Device\\QEBI");
    status = IoCreateSymbolicLink(&link, &dev);
    if (!NT_SUCCESS(status))
        return status;
    KeAcquireSpinLock(&g.lock, &irql);
    g.device_lost = FALSE;
    journal(QEBSIM_REC_DEVICE, 0, 1, 0, NULL, 0);
    KeReleaseSpinLock(&g.lock, irql);
    return STATUS_SUCCESS;
}

static NTSTATUS control_request(PIRP irp, PIO_STACK_LOCATION stack)
{
    ULONG in_len = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out_len = stack->Parameters.DeviceIoControl.OutputBufferLength;
    uint8_t *buf = irp->AssociatedIrp.SystemBuffer;
    KIRQL irql;

    if (buf == NULL) {
        in_len = 0;
        out_len = 0;
    }
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case QEBSIM_IOCTL_RAISE_EVENT: {
        QEBSIM_RAISE_RESULT result;
        uint32_t code;
        if (in_len < sizeof(uint32_t))
            return complete(irp, STATUS_INVALID_PARAMETER, 0);
        if (out_len != 0 && out_len < sizeof(result))
            return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        code = *(const uint32_t *)buf;
        raise_event(code, &result);
        if (out_len == 0)
            return complete(irp, STATUS_SUCCESS, 0);
        RtlCopyMemory(buf, &result, sizeof(result));
        return complete(irp, STATUS_SUCCESS, sizeof(result));
    }
    case QEBSIM_IOCTL_DEVICE_PRESENT: {
        uint32_t present;
        if (in_len < sizeof(uint32_t))
            return complete(irp, STATUS_INVALID_PARAMETER, 0);
        present = *(const uint32_t *)buf;
        return complete(irp, present ? restore_device() : lose_device(), 0);
    }
    case QEBSIM_IOCTL_SHORT_NEXT: {
        uint32_t bytes;
        if (in_len < sizeof(uint32_t))
            return complete(irp, STATUS_INVALID_PARAMETER, 0);
        bytes = *(const uint32_t *)buf;
        if (bytes >= sizeof(uint32_t))
            return complete(irp, STATUS_INVALID_PARAMETER, 0);
        KeAcquireSpinLock(&g.lock, &irql);
        g.short_next = bytes;
        KeReleaseSpinLock(&g.lock, irql);
        return complete(irp, STATUS_SUCCESS, 0);
    }
    case QEBSIM_IOCTL_SHORT_MODE: {
        LIST_ENTRY done;
        PLIST_ENTRY e;
        uint32_t bytes;
        if (in_len < sizeof(uint32_t))
            return complete(irp, STATUS_INVALID_PARAMETER, 0);
        bytes = *(const uint32_t *)buf;
        if (bytes >= sizeof(uint32_t) && bytes != QEBSIM_SHORT_OFF)
            return complete(irp, STATUS_INVALID_PARAMETER, 0);
        InitializeListHead(&done);
        KeAcquireSpinLock(&g.lock, &irql);
        g.short_mode = bytes;
        /* The waits outstanding now complete short as well. */
        for (e = g.handles.Flink; bytes != QEBSIM_SHORT_OFF && e != &g.handles; e = e->Flink) {
            SIM_HANDLE *h = CONTAINING_RECORD(e, SIM_HANDLE, link);
            PIRP pending = take_pending(h);
            if (pending != NULL) {
                fill_short(pending);
                InsertTailList(&done, &pending->Tail.Overlay.ListEntry);
            }
        }
        KeReleaseSpinLock(&g.lock, irql);
        complete_list(&done);
        return complete(irp, STATUS_SUCCESS, 0);
    }
    case QEBSIM_IOCTL_SET_HEALTH:
    case QEBSIM_IOCTL_SET_POWER_FLAGS:
    case QEBSIM_IOCTL_FAIL_NEXT: {
        uint32_t v;
        ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
        if (in_len < sizeof(uint32_t))
            return complete(irp, STATUS_INVALID_PARAMETER, 0);
        v = *(const uint32_t *)buf;
        KeAcquireSpinLock(&g.lock, &irql);
        if (code == QEBSIM_IOCTL_SET_HEALTH)
            g.fw.health_status = v;
        else if (code == QEBSIM_IOCTL_SET_POWER_FLAGS)
            g.fw.power_flags = v;
        else
            g.fail_next = v;
        KeReleaseSpinLock(&g.lock, irql);
        return complete(irp, STATUS_SUCCESS, 0);
    }
    case QEBSIM_IOCTL_SET_READINGS:
        if (in_len < sizeof(g.fw.readings))
            return complete(irp, STATUS_INVALID_PARAMETER, 0);
        KeAcquireSpinLock(&g.lock, &irql);
        RtlCopyMemory(g.fw.readings, buf, sizeof(g.fw.readings));
        KeReleaseSpinLock(&g.lock, irql);
        return complete(irp, STATUS_SUCCESS, 0);
    case QEBSIM_IOCTL_SET_FEATURE: {
        QEBSIM_FEATURE_VALUE fv;
        if (in_len < sizeof(fv))
            return complete(irp, STATUS_INVALID_PARAMETER, 0);
        RtlCopyMemory(&fv, buf, sizeof(fv));
        if (fv.index >= QEB_FEATURE_COUNT)
            return complete(irp, STATUS_INVALID_PARAMETER, 0);
        KeAcquireSpinLock(&g.lock, &irql);
        g.fw.features[fv.index] = fv.value;
        KeReleaseSpinLock(&g.lock, irql);
        return complete(irp, STATUS_SUCCESS, 0);
    }
    case QEBSIM_IOCTL_READ_JOURNAL: {
        QEBSIM_JOURNAL_HEADER hdr;
        uint32_t from;
        ULONG max;
        if (in_len < sizeof(uint32_t))
            return complete(irp, STATUS_INVALID_PARAMETER, 0);
        if (out_len < sizeof(hdr))
            return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        from = *(const uint32_t *)buf;
        max = (out_len - sizeof(hdr)) / sizeof(QEBSIM_RECORD);
        RtlZeroMemory(&hdr, sizeof(hdr));
        KeAcquireSpinLock(&g.lock, &irql);
        hdr.oldest_seq = qebsim_journal_oldest(&g.journal);
        hdr.next_seq = g.journal.next_seq;
        hdr.count = qebsim_journal_read(&g.journal, from, (QEBSIM_RECORD *)(buf + sizeof(hdr)), max);
        KeReleaseSpinLock(&g.lock, irql);
        hdr.qpc_frequency = g.qpc_frequency;
        RtlCopyMemory(buf, &hdr, sizeof(hdr));
        return complete(irp, STATUS_SUCCESS, sizeof(hdr) + hdr.count * sizeof(QEBSIM_RECORD));
    }
    case QEBSIM_IOCTL_CLEAR_JOURNAL:
        KeAcquireSpinLock(&g.lock, &irql);
        qebsim_journal_clear(&g.journal);
        KeReleaseSpinLock(&g.lock, irql);
        return complete(irp, STATUS_SUCCESS, 0);
    case QEBSIM_IOCTL_GET_STATE: {
        QEBSIM_STATE s;
        if (out_len < sizeof(s))
            return complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        KeAcquireSpinLock(&g.lock, &irql);
        fill_state(&s);
        KeReleaseSpinLock(&g.lock, irql);
        RtlCopyMemory(buf, &s, sizeof(s));
        return complete(irp, STATUS_SUCCESS, sizeof(s));
    }
    case QEBSIM_IOCTL_NOTE: {
        uint32_t source;
        if (in_len < sizeof(uint32_t))
            return complete(irp, STATUS_INVALID_PARAMETER, 0);
        source = *(const uint32_t *)buf;
        KeAcquireSpinLock(&g.lock, &irql);
        journal(QEBSIM_REC_NOTE, 0, source, 0, buf + sizeof(uint32_t), in_len - sizeof(uint32_t));
        KeReleaseSpinLock(&g.lock, irql);
        return complete(irp, STATUS_SUCCESS, 0);
    }
    case QEBSIM_IOCTL_SET_DISK: {
        QEBSIM_DISK_CONFIG *cfg;
        NTSTATUS status;
        if (in_len < sizeof(QEBSIM_DISK_CONFIG))
            return complete(irp, STATUS_INVALID_PARAMETER, 0);
        cfg = ExAllocatePoolWithTag(NonPagedPool, sizeof(*cfg), SIM_TAG);
        if (cfg == NULL)
            return complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
        RtlCopyMemory(cfg, buf, sizeof(*cfg));
        status = set_disk(cfg);
        ExFreePoolWithTag(cfg, SIM_TAG);
        return complete(irp, status, 0);
    }
    default:
        return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

static NTSTATUS disk_request(PIRP irp, PIO_STACK_LOCATION stack, ULONG drive)
{
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG in_len = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out_len = stack->Parameters.DeviceIoControl.OutputBufferLength;
    uint8_t *buf = irp->AssociatedIrp.SystemBuffer;
    uint32_t written = 0;
    NTSTATUS status;
    KIRQL irql;
    int r;

    if (buf == NULL) {
        in_len = 0;
        out_len = 0;
    }
    KeAcquireSpinLock(&g.lock, &irql);
    r = qebsim_smart_answer(&g.disk_cfg[drive], code, buf, in_len, buf, out_len, &written);
    switch (r) {
    case QEBSIM_SMART_OK: status = STATUS_SUCCESS; break;
    case QEBSIM_SMART_INVALID: status = STATUS_INVALID_PARAMETER; break;
    case QEBSIM_SMART_TOO_SMALL: status = STATUS_BUFFER_TOO_SMALL; break;
    case QEBSIM_SMART_DEVICE_ERROR: status = STATUS_IO_DEVICE_ERROR; break;
    case QEBSIM_SMART_NO_DEVICE: status = STATUS_NO_SUCH_DEVICE; break;
    default: status = STATUS_INVALID_DEVICE_REQUEST; break;
    }
    journal(QEBSIM_REC_DISK, drive, code, (int32_t)status, NULL, in_len);
    KeReleaseSpinLock(&g.lock, irql);
    return complete(irp, status, NT_SUCCESS(status) ? written : 0);
}

static NTSTATUS NTAPI dispatch(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    SIM_DEVICE_EXT *ext = device->DeviceExtension;

    switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
        if (ext->kind == DEV_PLATFORM)
            return platform_create(irp, stack);
        return complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_CLEANUP:
        /* The handle can issue no more waits: stop offering it events. */
        if (ext->kind == DEV_PLATFORM && stack->FileObject && stack->FileObject->FsContext)
            detach_handle(stack->FileObject->FsContext, STATUS_CANCELLED, 0);
        return complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_CLOSE:
        /* Wine sends only this one when a handle closes with a wait pended. */
        if (ext->kind == DEV_PLATFORM && stack->FileObject && stack->FileObject->FsContext) {
            SIM_HANDLE *h = stack->FileObject->FsContext;
            detach_handle(h, STATUS_CANCELLED, QEBSIM_REC_CLOSE);
            stack->FileObject->FsContext = NULL;
            ExFreePoolWithTag(h, SIM_TAG);
        }
        return complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_DEVICE_CONTROL:
        if (ext->kind == DEV_PLATFORM)
            return platform_control(irp, stack);
        if (ext->kind == DEV_CONTROL)
            return control_request(irp, stack);
        return disk_request(irp, stack, ext->drive);
    default:
        return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

static void delete_link(PCWSTR name)
{
    UNICODE_STRING s;
    RtlInitUnicodeString(&s, name);
    IoDeleteSymbolicLink(&s);
}

static VOID NTAPI driver_unload(PDRIVER_OBJECT driver)
{
    LIST_ENTRY done, gone;
    KIRQL irql;
    ULONG n;

    InitializeListHead(&done);
    InitializeListHead(&gone);
    /* Every pended wait fails: the listeners learn the device is gone. */
    KeAcquireSpinLock(&g.lock, &irql);
    while (!IsListEmpty(&g.handles)) {
        PLIST_ENTRY e = RemoveHeadList(&g.handles);
        SIM_HANDLE *h = CONTAINING_RECORD(e, SIM_HANDLE, link);
        PIRP irp = take_pending(h);
        h->listening = FALSE;
        if (irp != NULL) {
            irp->IoStatus.Status = STATUS_DEVICE_REMOVED;
            irp->IoStatus.Information = 0;
            InsertTailList(&done, &irp->Tail.Overlay.ListEntry);
        }
        InsertTailList(&gone, &h->link);
    }
    while (!IsListEmpty(&g.dead_handles))
        InsertTailList(&gone, RemoveHeadList(&g.dead_handles));
    KeReleaseSpinLock(&g.lock, irql);
    complete_list(&done);
    /* Windows unloads only once every handle is closed; Wine unloads on a
     * stop with handles still open and sends no close for them afterwards. */
    while (!IsListEmpty(&gone)) {
        PLIST_ENTRY e = RemoveHeadList(&gone);
        ExFreePoolWithTag(CONTAINING_RECORD(e, SIM_HANDLE, link), SIM_TAG);
    }

    if (!g.device_lost)
        delete_link(L"\\DosDevices\\QEBI");
    delete_link(L"\\DosDevices\\QEBISimCtl");
    for (n = 0; n < SIM_DRIVES; ++n) {
        if (g.disk_linked[n]) {
            WCHAR link[] = L"\\DosDevices\\PhysicalDrive0";
            link[sizeof(link) / sizeof(WCHAR) - 2] = (WCHAR)(L'0' + n);
            delete_link(link);
        }
        if (g.disks[n] != NULL)
            IoDeleteDevice(g.disks[n]);
    }
    if (g.control != NULL)
        IoDeleteDevice(g.control);
    if (g.platform != NULL)
        IoDeleteDevice(g.platform);
    if (g.ring != NULL)
        ExFreePoolWithTag(g.ring, SIM_TAG);
    g.ring = NULL;
}

static NTSTATUS make_device(PDRIVER_OBJECT driver, PCWSTR dev, PCWSTR link, ULONG kind,
                            PDEVICE_OBJECT *out)
{
    UNICODE_STRING dev_name, link_name;
    NTSTATUS status;

    RtlInitUnicodeString(&dev_name, dev);
    RtlInitUnicodeString(&link_name, link);
    status = IoCreateDevice(driver, sizeof(SIM_DEVICE_EXT), &dev_name, FILE_DEVICE_UNKNOWN, 0,
                            FALSE, out);
    if (!NT_SUCCESS(status))
        return status;
    ((SIM_DEVICE_EXT *)(*out)->DeviceExtension)->kind = kind;
    ((SIM_DEVICE_EXT *)(*out)->DeviceExtension)->drive = 0;
    status = IoCreateSymbolicLink(&link_name, &dev_name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(*out);
        *out = NULL;
        return status;
    }
    (*out)->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry)
{
    LARGE_INTEGER freq;
    NTSTATUS status;

    RtlZeroMemory(&g, sizeof(g));
    g.short_next = SIM_NO_SHORT;
    g.short_mode = QEBSIM_SHORT_OFF;
    KeInitializeSpinLock(&g.lock);
    InitializeListHead(&g.handles);
    InitializeListHead(&g.dead_handles);
    qebsim_firmware_init(&g.fw);
    KeQueryPerformanceCounter(&freq);
    g.qpc_frequency = freq.QuadPart;

    g.ring = ExAllocatePoolWithTag(NonPagedPool, sizeof(QEBSIM_RECORD) * QEBSIM_JOURNAL_CAPACITY, SIM_TAG);
    if (g.ring == NULL)
        return STATUS_INSUFFICIENT_RESOURCES;
    qebsim_journal_init(&g.journal, g.ring, QEBSIM_JOURNAL_CAPACITY);

    driver->MajorFunction[IRP_MJ_CREATE] = dispatch;
    driver->MajorFunction[IRP_MJ_CLEANUP] = dispatch;
    driver->MajorFunction[IRP_MJ_CLOSE] = dispatch;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatch;
    driver->DriverUnload = driver_unload;

    status = make_device(driver, L"\\Device\\QEBI", L"\\DosDevices\\QEBI", DEV_PLATFORM, &g.platform);
    if (NT_SUCCESS(status))
        status = make_device(driver, L"\\Device\\QEBISimCtl", L"\\DosDevices\\QEBISimCtl", DEV_CONTROL,
                             &g.control);
    if (!NT_SUCCESS(status)) {
        driver_unload(driver);
        return status;
    }
    return STATUS_SUCCESS;
}
