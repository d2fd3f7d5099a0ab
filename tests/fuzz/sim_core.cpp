// The simulated driver's request core on driver-style buffers (one system
// buffer of the larger of the two lengths, the input at its start): a frame
// is answered only after it passed the check, an answered frame passes the
// check again, a refused one is left as it was; a SMART answer never writes
// past the output length; the journal keeps what it was given, in order.
#include <string.h>

#include <vector>

#include "fuzz_check.h"
#include "sim_core.h"

namespace {

void Frame(FuzzInput& in, QEBSIM_FIRMWARE* fw) {
    const uint8_t how = in.Byte();
    const uint32_t ioctl = (how & 3) == 0 ? QEB_IOCTL_KSMI : (how & 3) == 1 ? QEB_IOCTL_KNVS : in.Dword();
    const std::string input = in.Bytes(in.Word() % 600);
    const uint32_t inLen = static_cast<uint32_t>(input.size());
    const uint32_t outLen = (how & 4) ? inLen : in.Word() % 600;
    std::vector<uint8_t> buffer(inLen > outLen ? inLen : outLen);
    if (inLen) memcpy(buffer.data(), input.data(), inLen);
    if ((how & 8) && inLen >= 20) qebsim_seal_frame(buffer.data(), inLen);  // a right CRC now and then

    if (qebsim_check_frame(buffer.data(), inLen, outLen) != QEBSIM_FRAME_OK) return;
    const std::vector<uint8_t> before = buffer;
    QEBSIM_ANSWER_EFFECT effect;
    effect.feature_set = -1;
    const int answer = qebsim_answer_frame(fw, ioctl, buffer.data(), inLen, &effect);
    if (answer == QEBSIM_ANSWER_OK) {
        const int again = qebsim_check_frame(buffer.data(), inLen, outLen);
        FUZZ_CHECK(again == QEBSIM_FRAME_OK, "answered frame fails the check: %d", again);
        FUZZ_CHECK(effect.feature_set < QEB_FEATURE_COUNT, "feature %d", effect.feature_set);
    } else {
        FUZZ_CHECK(buffer == before, "refused frame (%d) was changed", answer);
    }
}

void Smart(FuzzInput& in) {
    QEBSIM_DISK_CONFIG disk;
    memset(&disk, 0, sizeof(disk));
    disk.drive = in.Byte() % 10;
    disk.flags = in.Byte() & 0x0F;
    const std::string sector = in.Bytes(in.Byte());
    memcpy(disk.smart_data, sector.data(), sector.size());
    static const uint32_t kCodes[] = {QEBSIM_SMART_GET_VERSION, QEBSIM_SMART_SEND_COMMAND, QEBSIM_SMART_RCV_DATA};
    const uint8_t which = in.Byte();
    const uint32_t ioctl = which < 240 ? kCodes[which % 3] : in.Dword();
    const std::string input = in.Bytes(in.Byte() % 64);
    const uint32_t inLen = static_cast<uint32_t>(input.size());
    const uint32_t outLen = in.Word() % 1100;
    std::vector<uint8_t> buffer(inLen > outLen ? inLen : outLen);
    if (inLen) memcpy(buffer.data(), input.data(), inLen);
    uint32_t written = 0xFFFFFFFF;
    const int r = qebsim_smart_answer(&disk, ioctl, buffer.data(), inLen, buffer.data(), outLen, &written);
    FUZZ_CHECK(written <= outLen, "answer %d wrote %u of %u", r, written, outLen);
    FUZZ_CHECK(r != QEBSIM_SMART_OK || written > 0, "answer OK with nothing written");
}

void Journal(FuzzInput& in) {
    QEBSIM_RECORD ring[8];
    QEBSIM_JOURNAL journal;
    qebsim_journal_init(&journal, ring, 8);
    std::vector<uint32_t> lengths;
    for (int n = in.Byte() % 20; n > 0; --n) {
        const std::string payload = in.Bytes(in.Word() % 400);
        const uint32_t seq = qebsim_journal_append(&journal, QEBSIM_REC_NOTE, 0, 0, 0, 0,
                                                   payload.empty() ? nullptr : payload.data(),
                                                   static_cast<uint32_t>(payload.size()));
        lengths.push_back(static_cast<uint32_t>(payload.size()));
        FUZZ_CHECK(seq == lengths.size(), "sequence %u for record %zu", seq, lengths.size());
    }
    QEBSIM_RECORD out[8];
    const uint32_t from = in.Byte() % 24;
    const uint32_t n = qebsim_journal_read(&journal, from, out, 8);
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t seq = out[i].seq;
        FUZZ_CHECK(seq >= 1 && seq <= lengths.size() && (i == 0 || seq == out[i - 1].seq + 1), "record %u seq %u",
                   i, seq);
        const uint32_t length = lengths[seq - 1];
        FUZZ_CHECK(out[i].length == length &&
                       out[i].data_len == (length < QEBSIM_RECORD_DATA ? length : QEBSIM_RECORD_DATA),
                   "record %u: length %u kept %u", seq, out[i].length, out[i].data_len);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    QEBSIM_FIRMWARE fw;
    qebsim_firmware_init(&fw);
    while (!in.Empty()) {
        switch (in.Byte() % 3) {
        case 0: Frame(in, &fw); break;
        case 1: Smart(in); break;
        case 2: Journal(in); break;
        }
    }
    return 0;
}
