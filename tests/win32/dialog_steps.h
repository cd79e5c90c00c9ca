// What the dialog tests and the real-stack tests share: the texts the dialog shows, and the
// message-box steps (wait for the box the program opens next, press one of its buttons; on
// failure they say which windows the program has open).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "app/texts.h"
#include "tests/win32/dialog_driver.h"

namespace dialog_driver {

// Text `id` of the string table in `language`, as the dialog shows it.
inline std::wstring TableText(TextLanguage language, uint32_t id)
{
    char16_t buffer[TEXT_BUFFER_SIZE];
    int32_t length = LoadTableTextIn(language, id, buffer, TEXT_BUFFER_SIZE);
    EXPECT_GT(length, 0) << "the string table has no text " << id;
    return std::wstring(reinterpret_cast<const wchar_t*>(buffer), static_cast<size_t>(length));
}

// A rejection's hint: the status text, an empty line, the connection instructions.
inline std::wstring HintWithSteps(TextLanguage language, uint32_t statusId)
{
    return TableText(language, statusId) + L"\r\n\r\n" + TableText(language, TEXT_CONNECTION_STEPS);
}

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
