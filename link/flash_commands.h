// The flash commands with which the update rewrites the controller's firmware through the unit.
// Each checks the link first (LINK_NO_DEVICE, nothing sent), then sends one request and reads one
// reply. The results keep their kind (link/device_link.h: LinkResult).
#pragma once

#include <cstdint>

#include "link/device_link.h"

constexpr uint8_t CMD_SYSTEM_LOCK = 0x0B;
constexpr uint8_t CMD_WRITE_DATA = 0x1B;
constexpr uint8_t CMD_ERASE_FIRMWARE = 0x1E;
constexpr uint8_t CMD_SET_WRITE_ADDRESS = 0x1F;
constexpr uint8_t CMD_WRITE_PROTECT = 0x20;

constexpr uint32_t FLASH_COMMAND_MAGIC = 0xFEDC1234;
constexpr uint32_t ERASE_REPLY_DELAY_MS = 1000;
constexpr uint32_t MAX_BLOCK_WORDS = 14;

LinkResult SetSystemLock();     // ok, a link failure, or unconfirmed when reply byte 3 is not 1
LinkResult ReleaseSystemLock(); // ok, a link failure, or the unit's refusal (standard reply check)
LinkResult WriteProtectOff();   // ok, a link failure, the unit's refusal, or unconfirmed
LinkResult WriteProtectOn();    // ok, a link failure, or the unit's refusal (standard reply check)
LinkResult EraseFirmware();     // ok, a link failure, or the unit's refusal; reads 1000 ms after the write
LinkResult SetWriteAddress();   // ok, a link failure, or the unit's refusal

// Sends `wordCount` 32-bit words (0 to 14) from `data`, the rest of the payload filled with 0xFF.
// LINK_NO_DEVICE when there is no unit, LINK_BAD_ARGUMENT (also -1) without data or with more
// than 14 words; nothing is sent then.
LinkResult WriteDataBlock(const uint8_t* data, uint32_t wordCount);
