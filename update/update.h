// The update engine: from the press of Update to the last flash command, free of any screen.
//
// It runs the sequence (the two confirmations, the image that fits the controller, the flash
// commands with their pauses, the data loop) through the narrow front end it is given, and
// returns how the run ended. What the user sees of that outcome (boxes, hints, the panel, the
// button, exit statuses) is decided by whoever ran it.
#pragma once

#include <cstdint>

#include "link/device_link.h"

// What the engine asks of the one who runs it. Every member is called on the engine's thread,
// in the order the sequence reaches it.
struct UpdateFrontEnd {
    // The warning before anything is sent; true to go on.
    bool (*ConfirmWarning)(void);
    // The question before writing a version older than or the same as the installed one; true
    // to go on.
    bool (*ConfirmReinstall)(void);
    // Right before the first flash command; the flash commands end when RunUpdate returns.
    void (*FlashCommandsStarting)(void);
    // After the start address, before the first data block.
    void (*TransferStarting)(void);
    // After each data block the unit accepted, before the pause that follows it: how far the
    // transfer has come, in percent of the image (integer, 0 to 100).
    void (*BlockSent)(uint32_t percent);
    // After the last block, or right after a failed one.
    void (*TransferEnded)(void);
};

enum UpdateEnd : uint8_t {
    UPDATE_SUCCEEDED,
    UPDATE_DECLINED_AT_WARNING,
    UPDATE_DECLINED_AT_REINSTALL,
    UPDATE_FAILED,
};

// The step at which a run failed. Those before UPDATE_STEP_LOCK come before any command is sent.
enum UpdateStep : uint8_t {
    UPDATE_STEP_NONE,
    UPDATE_STEP_NO_UNIT,             // no unit open when Update was pressed
    UPDATE_STEP_CONTROLLER_CHANGED,  // another controller than the one the run was started for
    UPDATE_STEP_NO_IMAGE,            // no carried image fits the controller
    UPDATE_STEP_TEST_IMAGES,         // this build carries stand-in images, and the unit is real
    UPDATE_STEP_IMAGE_DAMAGED,       // the image differs from the digest the build took of it
    UPDATE_STEP_IMAGE_UNAVAILABLE,   // the image is carried, but could not be fetched (the page)
    UPDATE_STEP_LOCK,
    UPDATE_STEP_PROTECT_OFF,
    UPDATE_STEP_ERASE,
    UPDATE_STEP_ADDRESS,
    UPDATE_STEP_BLOCK,
    UPDATE_STEP_PROTECT_ON,          // the image is written, but the controller was not sealed
};

struct UpdateOutcome {
    UpdateEnd End;
    UpdateStep FailedStep;    // UPDATE_STEP_NONE unless End is UPDATE_FAILED
    LinkResult Result;        // the failed step's result; a failure before any command is the
                              // link failure LINK_NO_DEVICE, which carries no codes
    uint32_t SystemError;     // the platform's last error, taken when the failure was detected
    uint32_t BlockCount;      // data blocks of the selected image (0 before the image is known)
    uint32_t BlocksSent;      // data blocks the unit accepted
    uint16_t FirmwareBefore;  // the controller's application version when Update was pressed
    uint16_t FirmwareAfter;   // the version it carries now: the new one after success, unchanged
                              // after a failure before the erase, FIRMWARE_VERSION_NONE after one
                              // at or past it (the old application is gone or incomplete)
    bool UnitLeftLocked;      // the closing unlock was sent and failed: the unit stays locked
                              // until it is plugged in anew (a success stays a success)
};

// Runs one update of the controller behind the open unit. On success the installed version
// in the link record becomes the carried one; the link is left as the run left it (the caller
// closes it after a failure). A build that carries the generated stand-in images refuses, before
// it asks anything, to write them to a real unit (UPDATE_STEP_TEST_IMAGES).
UpdateOutcome RunUpdate(const UpdateFrontEnd& frontEnd);

// Whether this program may write its carried images to the unit behind the HID table in use:
// the maker's images always; the stand-ins only to a simulated unit, or in a build made for the
// real-stack tests.
bool CarriedImagesMayBeWritten();

// Data blocks of 48 bytes that an image of `imageSize` bytes takes (the last one padded).
uint32_t TransferBlockCount(uint32_t imageSize);

// The blocks a run would send to the controller admitted now; 0 when no carried image fits it.
uint32_t PlannedTransferBlocks();
