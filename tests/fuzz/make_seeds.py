#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target (corpus/<target>/seed-*) from
the cases of the unit tests, encoded as each target reads its input
(fuzz_check.h: little-endian words, wide strings as 16-bit units ending at
a 0 unit). Findings (finding-*) are kept beside them and never rewritten."""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def u8(v): return struct.pack('<B', v & 0xFF)
def u16(v): return struct.pack('<H', v & 0xFFFF)
def u32(v): return struct.pack('<I', v & 0xFFFFFFFF)
def wide(s, end=True): return s.encode('utf-16-le') + (b'\0\0' if end else b'')


def smart_output(entries):
    # SENDCMDOUTPARAMS header (16 bytes), then the sector: revision, 30 entries.
    sector = bytearray(512)
    for i, (ident, raw) in enumerate(entries):
        sector[2 + 12 * i] = ident
        sector[2 + 12 * i + 5] = raw
    return bytes(16) + bytes(sector) + bytes(3)


STATUS = [0x00000001, 0x00000006, 0x00000041, 0x12345600, 0x3FFFFFFF, 0x7FFFFFC0, 0x7FFFFFF8,
          0x7FFFFFF9, 0x7FFFFFFC, 0x7FFFFFFD, 0x7FFFFFFF, 0x80000000, 0x80000001, 0x8000003F]
READINGS = [[0x002D, 0x0534, 0x0028, 0x0223, 0x0026, 0x0000, 1200, 900, 0, 0],
            [0x002D, 0x1964, 0x0028, 0x0223, 0x0026, 0x003D, 1200, 65535, 0, 3000],
            [0xFFFF] * 10, [0] * 10]
HEALTH = [0x00400001, 0x00500000, 0x7FF00001, 0x000FFFFE, 0x0010ABCD, 0x1042, 0x1043]
RUN_LINES = ["QEBEvent.exe -CAD -HALT", "QEBEvent.exe -HALT", "QEBEvent.exe -VOLUMEDOWN -VOLUMEUP",
             "QEBEvent.exe -VOLUMEUP -CAD", "QEBEvent.exe -VolumeUp", "QEBEvent.exe /HALT",
             "QEBEvent.exe x-VOLUMEDOWNx", "C:\\Program Files\\Kestil\\QEB\\QEBEvent.exe", ""]
SWITCHES = ["/wlon", "  /WLON  ", "\t/GetAllStatD \r\n", "/BtOfF", "/getallstatdd", "/wlo", "-wlon",
            "/wlon /bton", "/alloff", "/allon", "/", "   ", ""]
CODES = [0x1001, 0x1002, 0x1003, 0x1004, 0x1005, 0x1010, 0x1011, 0x1021, 0x1022, 0x1031, 0x1041,
         0x1042, 0x1043, 0, 0xABCDEF01, 0xFFFFFFFF]


def time(day, month, hour, minute, second, ms):
    return b''.join(u16(v) for v in (2026, month - 1, day - 1, hour, minute, second, ms))


def seeds():
    s = {}
    s['service_smart'] = [smart_output([(1, 5), (9, 200), (194, 40), (197, 3)]),
                          smart_output([(0, 99), (0, 98), (194, 37)]),
                          smart_output([(194, 31), (194, 55)]), smart_output([(9, 1)]),
                          smart_output([(194, 40)])[:-4]]
    s['service_health_text'] = [u32(h) + bytes(range(20)) + wide("QEBEvent service started") for h in HEALTH]
    s['service_frame'] = [u8(1) + u16(r) + u16(f) + u16(p) + d for r, f, p, d in
                          [(4, 7, 0, b''), (24, 7, 0, b''), (4, 3, 1, u32(0x80000003)), (0, 9, 0, b'\x11\x22'),
                           (4, 0x12, 0, bytes(12))]] + [u8(0) + u16(0x8000) + u16(7) + u16(0), u8(0) + u16(32758) + u16(7) + u16(0)]
    s['service_command_line'] = [u8(m) + wide(line, end=False) for m, line in
                                 zip([1, 2, 3, 4, 0, 5, -1 & 0xFF, 1, 2], RUN_LINES)]
    s['tovrel_panels'] = [u32(st) + u32(1) + u32(1) + u32(2) + u8(k) + u32(st) + u32(st ^ 2) + u32(3) + u32(st)
                          + u32(0) + u32(st) for k in (0, 1) for st in STATUS]
    s['tovrel_thermal'] = [u32(st) + b''.join(u16(r) for r in rd) for st in STATUS[:8] for rd in READINGS]
    s['tovrel_trace_line'] = [u8(1) + wide("Get_FSC_Status") + u32(3),
                              u8(1) + wide("Set_FSC_Status") + bytes([0xD4, 0xC3, 0xB2, 0xA1, 0x0F]),
                              u8(1) + wide("x" * 300) + bytes(4), u8(0) + wide("") + bytes(100)]
    events = b''.join(u8(1) + time(5, 12, 20, 41, 53, 7) + u32(c) for c in CODES)
    s['tovrel_event_log'] = [wide(sw) + u32(0) + u32(0) + u32(998) + events + u8(0) + events for sw in SWITCHES] \
        + [wide("/wlon") + u32(1) + u32(1234) + u32(0) + u8(0x81) + bytes(14) + u32(0x1003)] \
        + [wide("/bton") + u32(0) + u32(0) + u32(0) + events + u8(0x42) + u32(1) + u8(0x42) + u32(0xFFFFFFFF)
           + u8(0x42) + u32(0) + u8(0)]
    s['tovrel_event_queue'] = [bytes([0, 5, 4, 10, 4, 200]), bytes([1, 63, 2, 3, 4, 255, 4, 255]),
                               bytes([0, 10, 5, 0, 0, 3]), bytes([0, 2, 2, 0, 1, 3, 4, 1, 4, 9]),
                               bytes([1, 63] * 9 + [4, 255, 0, 1, 4, 255])]  # fills the queue
    frame = bytearray(24)
    frame[0:4] = b'PMDB'
    frame[4:6] = u16(24)
    frame[6:8] = u16(1)
    frame[10:12] = u16(7)
    sim = [u8(0) + u8(1 | 4 | 8) + u16(24) + bytes(frame),
           u8(0) + u8(0 | 4 | 8) + u16(24) + bytes(frame[:10]) + u16(0x12) + bytes(frame[12:]),
           u8(1) + u8(0) + u8(1) + u8(2) + bytes(2) + u8(0xC2) + u8(2) + u8(33) + bytes(33) + u16(531),
           u8(1) + u8(2) + u8(1) + u8(0) + u8(0) + u8(24) + bytes(24) + u16(24),
           u8(2) + u8(3) + u16(4) + b'note' + u16(300) + bytes(300) + u16(0) + u8(1)]
    s['sim_core'] = sim
    record = u32(12) + u32(1) + struct.pack('<q', 25000) + u32(3) + u32(0x222404) + u32(0xC000003F) \
        + u32(24) + u32(3) + bytes([0x50, 0x4D, 0x0A]) + bytes(189)
    ctl = []
    for words in ["0x2D 0x05", "2D 05 28 00 23 02 26 00 00 00 B0 04 84 03 00 00 00 00 00 00",
                  "45 1280 40 547 38 0 1200 900 0 0", "-1 -2147483648 4294967295 0xFFFFFFFF wifi BT 11 12",
                  "health 0x 0X1f -0 007"]:
        ctl.append(u16(len(words)) + words.encode() + record + u32(0) + u8(0) + u32(10000000) + u8(1))
    s['qebictl_parse'] = ctl
    return s


def main():
    for target, items in seeds().items():
        d = os.path.join(HERE, 'corpus', target)
        os.makedirs(d, exist_ok=True)
        for name in os.listdir(d):
            if name.startswith('seed-'):
                os.remove(os.path.join(d, name))
        for i, data in enumerate(items):
            with open(os.path.join(d, 'seed-%02d' % i), 'wb') as f:
                f.write(data)
    return 0


if __name__ == '__main__':
    sys.exit(main())
