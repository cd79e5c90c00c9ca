// The flash commands with which the update rewrites the controller's firmware through the unit.
// Each checks the link first (-1, nothing sent), then sends one request and reads one reply.
#pragma once

#include <cstdint>

constexpr uint8_t CMD_SYSTEM_LOCK = 0x0B;
constexpr uint8_t CMD_WRITE_DATA = 0x1B;
constexpr uint8_t CMD_ERASE_FIRMWARE = 0x1E;
constexpr uint8_t CMD_SET_WRITE_ADDRESS = 0x1F;
constexpr uint8_t CMD_WRITE_PROTECT = 0x20;

constexpr uint32_t FLASH_COMMAND_MAGIC = 0xFEDC1234;
constexpr uint32_t ERASE_REPLY_DELAY_MS = 1000;
constexpr uint32_t MAX_BLOCK_WORDS = 14;

int32_t SetSystemLock();        // 0, -1, -2, -3, or 1627 when reply byte 3 is not 1
void ReleaseSystemLock();       // reply read and not examined
int32_t WriteProtectOff();      // 0, -1, -2, -3, 1627, or the unit's code
void WriteProtectOn();          // reply read and not examined
int32_t EraseFirmware();        // 0, -1, -2, -3, or the unit's code; reads 1000 ms after the write
int32_t SetWriteAddress();      // 0, -1, -2, -3, or the unit's code

// Sends `wordCount` 32-bit words (0 to 14) from `data`, the rest of the payload filled with 0xFF.
// -1 with nothing sent when there is no unit, no data, or wordCount is above 14.
int32_t WriteDataBlock(const uint8_t* data, uint32_t wordCount);
