// The message-box steps the dialog tests and the real-stack tests share: wait for the box the
// program opens next, press one of its buttons. On failure they say which windows the program
// has open.
#pragma once

#include <gtest/gtest.h>

#include "tests/win32/dialog_driver.h"

namespace dialog_driver {

// A message box appears within this time, or goes within it after its button is pressed.
constexpr Seconds kBoxLimit{30};

// The box `dialog` has open next, or null (with a failure) when none comes within `limit`.
inline HWND WaitForBox(const ChildProgram& program, HWND dialog, Seconds limit = kBoxLimit)
{
    HWND box = WaitForOwnedWindow(dialog, L"#32770", limit);
    if (box == nullptr) ADD_FAILURE() << "no message box; " << program.DescribeWindows();
    return box;
}

// Presses `buttonId` in the box and waits until the box is gone.
inline void AnswerBox(const ChildProgram& program, HWND box, int buttonId)
{
    ASSERT_TRUE(ClickButton(box, buttonId)) << "the box has no button " << buttonId;
    ASSERT_TRUE(WaitUntilGone(box, kBoxLimit)) << "the box stays open; " << program.DescribeWindows();
}

}  // namespace dialog_driver
