// String-table ids. Plain numbers so that resource scripts can include this file too.
#pragma once

#define TEXT_READY_HINT              40000  // an admitted controller is ready
#define TEXT_CONNECTION_STEPS        40001  // the four numbered connection steps
#define TEXT_UPDATE_FAILED_CAPTION   40002
#define TEXT_LOCK_BIT_NOT_SET        40003  // carried, not shown
#define TEXT_LOCK_BIT_NOT_RESET      40004  // carried, not shown
#define TEXT_PROTECT_ON_FAILED       40005  // carried, not shown
#define TEXT_PROTECT_OFF_FAILED      40006  // carried, not shown
#define TEXT_PURGE_FAILED            40007  // carried, not shown
#define TEXT_ADDRESS_FAILED          40008
#define TEXT_BLOCK_FAILED            40009
#define TEXT_REGISTRATION_FAILED     40011
#define TEXT_APPLICATION_ERROR       40012
#define TEXT_WRONG_MODE_HINT         40015
#define TEXT_NO_CONTROLLER_HINT      40016
#define TEXT_NO_UNIT_HINT            40017
#define TEXT_CONNECTION_LOST_HINT    40020
#define TEXT_UNIT_NOT_DETECTED       40022
#define TEXT_OLDER_FIRMWARE_QUESTION 40023
#define TEXT_NEWER_FIRMWARE_CAPTION  40025
#define TEXT_LOCK_FAILED             40026
#define TEXT_PROTECT_OFF_FAILED_STEP 40027
#define TEXT_ERASE_FAILED            40028
#define TEXT_PROGRESS_TITLE          40029
#define TEXT_FAILURE_HINT            40030
#define TEXT_WRITE_ERROR_DETAIL      40031  // carried, not shown
#define TEXT_UPDATE_SUCCESS          40032
#define TEXT_INCOMPATIBLE_CAPTION    40033
#define TEXT_INCOMPATIBLE_MESSAGE    40034  // one %s: the supported type name
#define TEXT_INCOMPATIBLE_HINT       40035
#define TEXT_ERROR_CODE_LINE         40036  // two %08x: result code, system error code
#define TEXT_WARNING_CAPTION         40037
#define TEXT_WARNING                 40038
#define TEXT_LABEL_UNIT              40039
#define TEXT_LABEL_BOOTLOADER        40040
#define TEXT_LABEL_CONTROLLER        40041
#define TEXT_NO_IMAGE_FOR_CONTROLLER 40042  // no carried firmware fits the attached controller
#define TEXT_CONTROLLER_CHANGED      40043  // another controller than the one the update was started for
#define TEXT_PROTECT_ON_FAILED_STEP  40044  // the image is written, the protection not on again
#define TEXT_TEST_IMAGES_REFUSED     40045  // a build with stand-in images and a real unit
#define TEXT_FLASH_BLOCKS_SHUTDOWN   40046  // the reason given to the system for holding off its end
#define TEXT_IMAGE_DAMAGED           40047  // the carried image differs from its digest
#define TEXT_IMAGE_NOT_DOWNLOADED    40048  // the page could not fetch the carried image
#define TEXT_UNIT_IN_USE_HINT        40049  // hint: a unit is there, another program holds it
#define TEXT_UNIT_SILENT_HINT        40050  // hint: a unit is there and was opened, but does not answer
#define TEXT_SAVE_LOG_MENU           40051  // the system menu's "Save log..."
#define TEXT_SAVE_LOG_FILE_TYPE      40052  // the Save dialog's file type
#define TEXT_SAVE_LOG_FAILED         40053  // the chosen file could not be written
#define TEXT_SAVE_LOG_TITLE          40054  // the Save dialog's title, the caption of its failure box
// 60001..60008: texts of a programming-unit update, carried, not shown.
