// Identification of a freshly opened programming unit and of the controller attached to it.
#include <cstring>

#include "link/device_link.h"

namespace {

// Sends a request of `command` with its length value and reads the reply. Unset request bytes
// are zero.
int32_t Ask(uint8_t command, uint8_t lengthValue, const uint32_t* values, int valueCount,
            uint8_t reply[REPORT_BUFFER_SIZE])
{
    if (g_Link.DeviceHandle == INVALID_PLATFORM_HANDLE) return LINK_NO_DEVICE;
    uint8_t request[REPORT_BUFFER_SIZE] = {};
    request[0] = REPORT_ID_REQUEST;
    request[1] = command;
    request[2] = lengthValue;
    for (int i = 0; i < valueCount; ++i) WriteLe32(request + 4 + 4 * i, values[i]);
    std::memset(reply, 0, REPORT_BUFFER_SIZE);
    return ExchangeReports(request, reply, 0);
}

}  // namespace

int32_t IdentifyUnit()
{
    if (ReadReportLengths() != LINK_OK) return LINK_NO_DEVICE;

    uint8_t reply[REPORT_BUFFER_SIZE];
    int32_t result = Ask(CMD_GET_STATUS, 0, nullptr, 0, reply);
    if (result != LINK_OK) return result;

    g_Link.UnitMode = reply[3];
    if (g_Link.UnitMode != UNIT_MODE_NORMAL) {
        // The other mode: a packed block of status bytes 4..15, then the unit's version from
        // its memory. No controller is asked.
        g_Link.ModeInfoA = reply[4];
        g_Link.ModeInfoB = ReadLe16(reply + 5);
        g_Link.ModeInfoC = ReadLe32(reply + 7);
        g_Link.ModeInfoD = ReadLe32(reply + 11);
        g_Link.ModeInfoE = reply[15];

        const uint32_t address = UNIT_VERSION_ADDRESS;
        result = Ask(CMD_READ_MEMORY, 12, &address, 1, reply);
        if (result != LINK_OK) return result;
        g_Link.UnitVersion = ReadLe32(reply + 8);
        g_Link.UnitVersionExtra = ReadLe32(reply + 12);
        return LINK_OK;
    }

    g_Link.ControllerState = ReadLe16(reply + 4);
    g_Link.ControllerStateExtra = ReadLe16(reply + 6);
    g_Link.UnitVersion = ReadLe32(reply + 8);
    g_Link.UnitVersionExtra = ReadLe32(reply + 12);
    if (g_Link.ControllerState != CONTROLLER_STATE_READY) return LINK_OK;

    const uint32_t infoRange[2] = {CONTROLLER_INFO_SIZE, 0xFFFFFFE0u};
    result = Ask(CMD_READ_CONTROLLER_INFO, 8, infoRange, 2, reply);
    if (result != LINK_OK) return result;
    if (reply[1] == REPLY_STATUS_ERROR) {
        // The controller requests report only a 16-bit code; 0 leaves the block as it is.
        uint16_t code = ReadLe16(reply + 4);
        if (code != 0) return code;
    } else {
        std::memcpy(g_Link.ControllerInfo, reply + 4, CONTROLLER_INFO_SIZE);
    }

    result = Ask(CMD_GET_CONTROLLER_IDENTITY, 0, nullptr, 0, reply);
    if (result != LINK_OK) return result;
    if (reply[1] == REPLY_STATUS_ERROR) return ReadLe16(reply + 4);
    std::memcpy(g_Link.ControllerIdentity, reply + 4, CONTROLLER_IDENTITY_SIZE);
    return LINK_OK;
}
