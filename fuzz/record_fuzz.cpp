// Fuzz target: the record reader on arbitrary text, and the replaying unit on whatever record it
// accepts. The link identifies the record's unit and runs every flash command against it; the
// replay may stop at a difference, which is no finding. Besides the sanitizers' checks: a record
// that was accepted has every report of the length its header declares, and its events' lines
// are in order.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "link/device_link.h"
#include "link/flash_commands.h"
#include "record/record_reader.h"
#include "record/replay_unit.h"

namespace {

void IgnoreStop(const char*) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1u << 20) return 0;
    ParsedRecord record;
    char error[256];
    if (ParseRecord(reinterpret_cast<const char*>(data), static_cast<uint32_t>(size), &record, error, sizeof error) != 0) {
        if (error[0] == '\0' || std::strlen(error) >= sizeof error) __builtin_trap();
        return 0;
    }
    for (uint32_t i = 0; i < record.EventCount; ++i) {
        const RecordEvent& event = record.Events[i];
        if (i > 0 && event.Line <= record.Events[i - 1].Line) __builtin_trap();
        bool report = event.Kind == RECORD_WRITE_EVENT || (event.Kind == RECORD_READ_EVENT && !event.Failed);
        uint32_t length = event.Kind == RECORD_WRITE_EVENT ? record.OutputLength : record.InputLength;
        if (report && event.ByteCount != length) __builtin_trap();
    }

    StartReplay(&record, false);
    SetReplayStopHook(IgnoreStop);
    SelectHidPlatform(&kReplayHidPlatform);
    ResetLink();
    (void)DiscoverUnit();
    if (LinkIsOpen()) {
        uint8_t block[4 * MAX_BLOCK_WORDS];
        std::memset(block, 0x5A, sizeof block);
        (void)SetSystemLock();
        (void)WriteProtectOff();
        (void)EraseFirmware();
        (void)SetWriteAddress();
        (void)WriteDataBlock(block, MAX_BLOCK_WORDS);
        (void)WriteProtectOn();
        (void)ReleaseSystemLock();
    }
    CloseLink();
    (void)ReplayOutcome("success firmware 1.25");
    (void)ReplayEnd();
    FreeParsedRecord(&record);
    return 0;
}
