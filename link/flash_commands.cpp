// The seven flash operations: exact request bytes, reply checks and results.
#include "link/flash_commands.h"

#include <cstring>

#include "link/device_link.h"

namespace {

// A request with its header; bytes the command does not set are zero.
void BuildRequest(uint8_t request[REPORT_BUFFER_SIZE], uint8_t command, uint8_t lengthValue, uint8_t parameter)
{
    std::memset(request, 0, REPORT_BUFFER_SIZE);
    request[0] = REPORT_ID_REQUEST;
    request[1] = command;
    request[2] = lengthValue;
    request[3] = parameter;
}

// Sends a one-byte-parameter command and reads its reply into `reply`.
int32_t SendParameterCommand(uint8_t command, uint8_t parameter, uint8_t reply[REPORT_BUFFER_SIZE])
{
    if (g_Link.DeviceHandle == INVALID_PLATFORM_HANDLE) return LINK_NO_DEVICE;
    uint8_t request[REPORT_BUFFER_SIZE];
    BuildRequest(request, command, 1, parameter);
    std::memset(reply, 0, REPORT_BUFFER_SIZE);
    return ExchangeReports(request, reply, 0);
}

}  // namespace

LinkResult SetSystemLock()
{
    uint8_t reply[REPORT_BUFFER_SIZE];
    int32_t result = SendParameterCommand(CMD_SYSTEM_LOCK, 1, reply);
    if (result != LINK_OK) return LinkFailed(result);
    // Only the reported lock state counts; a refusal that still reports the lock set is taken.
    return reply[3] == 1 ? LinkSucceeded() : UnitUnconfirmed();
}

LinkResult ReleaseSystemLock()
{
    uint8_t reply[REPORT_BUFFER_SIZE];
    int32_t result = SendParameterCommand(CMD_SYSTEM_LOCK, 0, reply);
    if (result != LINK_OK) return LinkFailed(result);
    return StandardReplyCheck(reply);
}

LinkResult WriteProtectOff()
{
    uint8_t reply[REPORT_BUFFER_SIZE];
    int32_t result = SendParameterCommand(CMD_WRITE_PROTECT, 0, reply);
    if (result != LINK_OK) return LinkFailed(result);
    if (reply[1] == REPLY_STATUS_ERROR) return StandardReplyCheck(reply);
    return reply[3] == 0 ? LinkSucceeded() : UnitUnconfirmed();
}

LinkResult WriteProtectOn()
{
    uint8_t reply[REPORT_BUFFER_SIZE];
    int32_t result = SendParameterCommand(CMD_WRITE_PROTECT, 1, reply);
    if (result != LINK_OK) return LinkFailed(result);
    return StandardReplyCheck(reply);
}

LinkResult EraseFirmware()
{
    if (g_Link.DeviceHandle == INVALID_PLATFORM_HANDLE) return LinkFailed(LINK_NO_DEVICE);
    uint8_t request[REPORT_BUFFER_SIZE];
    BuildRequest(request, CMD_ERASE_FIRMWARE, 4, 0);
    WriteLe32(request + 4, FLASH_COMMAND_MAGIC);
    uint8_t reply[REPORT_BUFFER_SIZE] = {};
    int32_t result = ExchangeReports(request, reply, ERASE_REPLY_DELAY_MS);
    if (result != LINK_OK) return LinkFailed(result);
    return StandardReplyCheck(reply);
}

LinkResult SetWriteAddress()
{
    if (g_Link.DeviceHandle == INVALID_PLATFORM_HANDLE) return LinkFailed(LINK_NO_DEVICE);
    uint8_t request[REPORT_BUFFER_SIZE];
    BuildRequest(request, CMD_SET_WRITE_ADDRESS, 9, 1);
    WriteLe32(request + 4, 0);
    WriteLe32(request + 8, FLASH_COMMAND_MAGIC);
    uint8_t reply[REPORT_BUFFER_SIZE] = {};
    int32_t result = ExchangeReports(request, reply, 0);
    if (result != LINK_OK) return LinkFailed(result);
    return StandardReplyCheck(reply);
}

LinkResult WriteDataBlock(const uint8_t* data, uint32_t wordCount)
{
    if (g_Link.DeviceHandle == INVALID_PLATFORM_HANDLE) return LinkFailed(LINK_NO_DEVICE);
    if (wordCount > MAX_BLOCK_WORDS || data == nullptr) return LinkFailed(LINK_BAD_ARGUMENT);
    uint8_t request[REPORT_BUFFER_SIZE];
    BuildRequest(request, CMD_WRITE_DATA, static_cast<uint8_t>(4 * wordCount), 0);
    std::memset(request + 4, 0xFF, REPORT_BUFFER_SIZE - 4);
    std::memcpy(request + 4, data, 4 * wordCount);
    uint8_t reply[REPORT_BUFFER_SIZE] = {};
    int32_t result = ExchangeReports(request, reply, 0);
    if (result != LINK_OK) return LinkFailed(result);
    return StandardReplyCheck(reply);
}
