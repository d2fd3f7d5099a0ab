// Pure helpers of qebictl; see ctl_parse.h.
#include "ctl_parse.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace qebictl {
namespace {

const char* const kFeatureNames[QEB_FEATURE_COUNT] = {
    "wifi", "bt", "mic", "vol", "ambient", "power", "thermal", "cad", "battery", "usb", "fsc", "health"};

std::string Lower(const std::string& s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

bool ParseNumber(const std::string& text, uint32_t* value) {
    if (text.empty()) return false;
    uint64_t v = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        if (text.size() > 10) return false;
        for (size_t i = 2; i < text.size(); ++i) {
            char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
            int d;
            if (c >= '0' && c <= '9') d = c - '0';
            else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
            else return false;
            v = v * 16 + static_cast<uint64_t>(d);
        }
        *value = static_cast<uint32_t>(v);
        return true;
    }
    size_t i = 0;
    bool negative = false;
    if (text[0] == '-') {
        negative = true;
        i = 1;
        if (text.size() == 1) return false;
    }
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + static_cast<uint64_t>(text[i] - '0');
        if (v > 0xFFFFFFFFull) return false;
    }
    if (negative) {
        if (v > 0x80000000ull) return false;
        *value = static_cast<uint32_t>(0u - static_cast<uint32_t>(v));
    } else {
        *value = static_cast<uint32_t>(v);
    }
    return true;
}

int FeatureIndex(const std::string& nameOrIndex) {
    std::string name = Lower(nameOrIndex);
    for (int i = 0; i < QEB_FEATURE_COUNT; ++i)
        if (name == kFeatureNames[i]) return i;
    uint32_t v;
    if (ParseNumber(nameOrIndex, &v) && v < QEB_FEATURE_COUNT && nameOrIndex[0] != '-') return static_cast<int>(v);
    return -1;
}

const char* FeatureName(uint32_t index) {
    return index < QEB_FEATURE_COUNT ? kFeatureNames[index] : "?";
}

bool ParseReadings(const std::vector<std::string>& args, uint8_t out[20]) {
    uint8_t bytes[20];
    if (args.size() == 20) {
        // Hex bytes as `state` and `journal` print them ("2D"), 0x optional.
        for (size_t i = 0; i < 20; ++i) {
            uint32_t v;
            const std::string& a = args[i];
            std::string hex = (a.size() > 2 && a[0] == '0' && (a[1] == 'x' || a[1] == 'X')) ? a : "0x" + a;
            if (a.empty() || !ParseNumber(hex, &v) || v > 0xFF) return false;
            bytes[i] = static_cast<uint8_t>(v);
        }
    } else if (args.size() == 10) {
        for (size_t i = 0; i < 10; ++i) {
            uint32_t v;
            if (!ParseNumber(args[i], &v) || v > 0xFFFF || args[i][0] == '-') return false;
            bytes[2 * i] = static_cast<uint8_t>(v & 0xFF);
            bytes[2 * i + 1] = static_cast<uint8_t>(v >> 8);
        }
    } else {
        return false;
    }
    std::memcpy(out, bytes, sizeof(bytes));
    return true;
}

const char* RecordKindName(uint32_t kind) {
    switch (kind) {
    case QEBSIM_REC_FRAME: return "FRAME";
    case QEBSIM_REC_EVENT_RAISED: return "RAISED";
    case QEBSIM_REC_EVENT_DELIVERED: return "DELIVERED";
    case QEBSIM_REC_EVENT_DROPPED: return "DROPPED";
    case QEBSIM_REC_WAIT_PENDED: return "WAIT_PENDED";
    case QEBSIM_REC_WAIT_ENDED: return "WAIT_ENDED";
    case QEBSIM_REC_OPEN: return "OPEN";
    case QEBSIM_REC_CLOSE: return "CLOSE";
    case QEBSIM_REC_NOTE: return "NOTE";
    case QEBSIM_REC_FEATURE_SET: return "FEATURE_SET";
    case QEBSIM_REC_DISK: return "DISK";
    case QEBSIM_REC_EVENT_SHORT: return "SHORT";
    case QEBSIM_REC_DEVICE: return "DEVICE";
    default: return "UNKNOWN";
    }
}


std::string FormatRecord(const QEBSIM_RECORD& r, int64_t baseQpc, int64_t qpcFrequency, bool raw) {
    char head[160];
    // The difference is taken in double: two counter values from a journal
    // can lie further apart than an int64_t holds.
    double ms = qpcFrequency > 0 ? (static_cast<double>(r.time_qpc) - static_cast<double>(baseQpc)) * 1000.0 / static_cast<double>(qpcFrequency) : 0.0;
    std::snprintf(head, sizeof(head), "%6u %10.3fms %-11s", r.seq, ms, RecordKindName(r.kind));
    std::string line(head);
    char buf[160];
    const uint32_t dataLen = r.data_len <= QEBSIM_RECORD_DATA ? r.data_len : QEBSIM_RECORD_DATA;
    switch (r.kind) {
    case QEBSIM_REC_FRAME:
        std::snprintf(buf, sizeof(buf), " handle=%u ioctl=0x%06X status=0x%08X length=%u data=",
                      r.handle_id, r.code, static_cast<uint32_t>(r.status), r.length);
        line += buf;
        line += HexBytes(r.data, dataLen);
        if (r.length > dataLen) line += " ...";
        return line;
    case QEBSIM_REC_EVENT_RAISED:
        std::snprintf(buf, sizeof(buf), " code=0x%04X", r.code);
        break;
    case QEBSIM_REC_EVENT_DELIVERED:
        std::snprintf(buf, sizeof(buf), " handle=%u code=0x%04X", r.handle_id, r.code);
        break;
    case QEBSIM_REC_EVENT_DROPPED:
        std::snprintf(buf, sizeof(buf), " handle=%u code=0x%04X dropped=%d", r.handle_id, r.code, r.status);
        break;
    case QEBSIM_REC_EVENT_SHORT:
        std::snprintf(buf, sizeof(buf), " handle=%u code=0x%04X bytes=%d", r.handle_id, r.code, r.status);
        break;
    case QEBSIM_REC_DEVICE:
        std::snprintf(buf, sizeof(buf), " %s handles_dead=%d", r.code ? "back" : "lost", r.status);
        break;
    case QEBSIM_REC_WAIT_ENDED:
        std::snprintf(buf, sizeof(buf), " handle=%u status=0x%08X", r.handle_id, static_cast<uint32_t>(r.status));
        break;
    case QEBSIM_REC_WAIT_PENDED:
    case QEBSIM_REC_OPEN:
    case QEBSIM_REC_CLOSE:
        std::snprintf(buf, sizeof(buf), " handle=%u", r.handle_id);
        break;
    case QEBSIM_REC_NOTE: {
        std::snprintf(buf, sizeof(buf), " source=%u text=\"", r.code);
        line += buf;
        // UTF-16 text, shown as ASCII (other characters as '?').
        for (uint32_t i = 0; i + 1 < dataLen; i += 2) {
            unsigned c = r.data[i] | (r.data[i + 1] << 8);
            if (c == '\n') line += "\\n";
            else line += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
        }
        line += "\"";
        if (r.length > dataLen) line += " ...";
        return line;
    }
    case QEBSIM_REC_FEATURE_SET:
        std::snprintf(buf, sizeof(buf), " handle=%u feature=%s word=0x%08X", r.handle_id, FeatureName(r.code),
                      static_cast<uint32_t>(r.status));
        break;
    case QEBSIM_REC_DISK:
        std::snprintf(buf, sizeof(buf), " drive=%u ioctl=0x%05X status=0x%08X in=%u", r.handle_id, r.code,
                      static_cast<uint32_t>(r.status), r.length);
        break;
    default:
        std::snprintf(buf, sizeof(buf), " handle=%u code=0x%X status=0x%08X", r.handle_id, r.code,
                      static_cast<uint32_t>(r.status));
        break;
    }
    line += buf;
    if (raw && dataLen) {
        line += " data=";
        line += HexBytes(r.data, dataLen);
    }
    return line;
}

}  // namespace qebictl
