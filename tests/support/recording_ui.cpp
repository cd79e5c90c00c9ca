#include "tests/support/recording_ui.h"

#include "app/app.h"
#include "app/texts.h"

RecordingUi* g_Recording = nullptr;

namespace {

int32_t RecLoadText(uint32_t id, char16_t* buffer, int32_t capacity)
{
    return LoadTableText(id, buffer, capacity);
}

void RecSetControlText(uint32_t controlId, const char16_t* text)
{
    RecordedControl& control = g_Recording->Controls[controlId];
    control.Text = text;
    control.EverSet = true;
}

int32_t RecGetControlTextLength(uint32_t controlId)
{
    return static_cast<int32_t>(g_Recording->Controls[controlId].Text.size());
}

int32_t RecGetControlText(uint32_t controlId, char16_t* buffer, int32_t capacity)
{
    if (capacity <= 0) return 0;
    const std::u16string& text = g_Recording->Controls[controlId].Text;
    int32_t count = static_cast<int32_t>(text.size());
    if (count > capacity - 1) count = capacity - 1;
    for (int32_t i = 0; i < count; ++i) buffer[i] = text[static_cast<size_t>(i)];
    buffer[count] = 0;
    return count;
}

void RecEnableControl(uint32_t controlId, bool enabled)
{
    g_Recording->Controls[controlId].Enabled = enabled;
}

void RecSetWindowTitle(UiWindow, const char16_t* title) { g_Recording->Title = title; }

int32_t RecShowMessageBox(UiWindow owner, const char16_t* text, const char16_t* caption, uint32_t flags)
{
    RecordedBox box = {owner, Utf8(caption), Utf8(text), flags, g_Recording->DefaultAnswer};
    if (!g_Recording->Answers.empty()) {
        box.Answer = g_Recording->Answers.front();
        g_Recording->Answers.erase(g_Recording->Answers.begin());
    }
    g_Recording->Events.push_back("box:" + box.Caption);
    if (g_Recording->WhileBoxOpen) g_Recording->WhileBoxOpen(box);
    g_Recording->Boxes.push_back(box);
    return box.Answer;
}

bool RecGetWindowRect(UiWindow, UiRect* rect)
{
    *rect = g_Recording->MainRect;
    return true;
}

UiWindow RecCreateProgressWindow(UiWindow owner, const char16_t* title, int32_t x, int32_t y, int32_t width,
                                 int32_t height)
{
    g_Recording->Events.push_back("progress:create");
    if (g_Recording->ProgressCreationFails) return 0;
    g_Recording->ProgressOwner = owner;
    g_Recording->ProgressTitle = Utf8(title);
    g_Recording->ProgressX = x;
    g_Recording->ProgressY = y;
    g_Recording->ProgressWidth = width;
    g_Recording->ProgressHeight = height;
    g_Recording->ProgressOpen = true;
    return TEST_PROGRESS_WINDOW;
}

void RecSetProgressPosition(UiWindow, uint32_t position) { g_Recording->ProgressPositions.push_back(position); }

void RecRaiseWindow(UiWindow window)
{
    g_Recording->Events.push_back(window == TEST_PROGRESS_WINDOW ? "raise:progress" : "raise:main");
}

void RecShowWindow(UiWindow window)
{
    g_Recording->Events.push_back(window == TEST_PROGRESS_WINDOW ? "show:progress" : "show:main");
}

UiWindow RecGetForegroundWindow()
{
    if (g_Recording->Foreground != 0) return g_Recording->Foreground;
    return g_Recording->ProgressOpen ? TEST_PROGRESS_WINDOW : TEST_MAIN_WINDOW;
}

void RecDestroyWindow(UiWindow window)
{
    if (window == TEST_PROGRESS_WINDOW) g_Recording->ProgressOpen = false;
    g_Recording->Events.push_back("progress:destroy");
}

UiNotification RecRegister(UiWindow)
{
    ++g_Recording->Registrations;
    return g_Recording->RegistrationFails ? 0 : 0x77;
}

void RecUnregister(UiNotification) { ++g_Recording->Unregistrations; }

void RecReadBroadcast(const void* broadcast, DeviceBroadcast* fields)
{
    const TestBroadcast* test = static_cast<const TestBroadcast*>(broadcast);
    fields->DeviceType = test->DeviceType;
    fields->Name = test->Name.c_str();
}

void RecEndDialog(UiWindow, intptr_t result)
{
    g_Recording->DialogEnded = true;
    g_Recording->DialogResult = result;
}

void RecKeepResponsive(bool on)
{
    g_Recording->Responsive.push_back(on);
    if (on && g_Recording->WhileResponsive) g_Recording->WhileResponsive();
}

void RecSetUnitWaits(UnitWaits waits)
{
    g_Recording->Waits.push_back(waits);
    if (waits == UNIT_WAITS_ANSWERING && g_Recording->WhileAnswering) g_Recording->WhileAnswering();
}

}  // namespace

const UiPlatform kRecordingUi = {
    RecLoadText,        RecSetControlText, RecGetControlTextLength, RecGetControlText,
    RecEnableControl,   RecSetWindowTitle, RecShowMessageBox,       RecGetWindowRect,
    RecCreateProgressWindow, RecSetProgressPosition, RecRaiseWindow, RecShowWindow,
    RecGetForegroundWindow,  RecDestroyWindow,       RecRegister,    RecUnregister,
    RecReadBroadcast,   RecEndDialog,      RecKeepResponsive, RecSetUnitWaits,
};

void StartRecording(RecordingUi* recording)
{
    g_Recording = recording;
    ResetProcessState();
    SelectUiPlatform(&kRecordingUi);
    g_MainWindow = TEST_MAIN_WINDOW;
    static const struct {
        uint32_t Id;
        const char16_t* Text;
        bool Enabled;
    } kTemplate[] = {{2, u"Close", true},          {1002, u"Update", false},      {40010, u"Firmware 1:", true},
                     {1005, u"Firmware 2:", true}, {40013, u"0.00.00", true},     {40014, u"0.00.00", true},
                     {40004, u"", true},           {40011, u"Firmware 3:", true}, {40015, u"0.00.00", true}};
    for (const auto& control : kTemplate) {
        RecordedControl& recorded = recording->Controls[control.Id];
        recorded.Text = control.Text;
        recorded.Enabled = control.Enabled;
    }
    SetTextLanguage(LANGUAGE_ENGLISH);
}

std::string Utf8(const std::u16string& text)
{
    std::string out(text.size() * 3 + 1, '\0');
    int32_t length = Utf16ToUtf8(text.c_str(), out.data(), static_cast<int32_t>(out.size()));
    out.resize(static_cast<size_t>(length));
    return out;
}

std::u16string Utf16(const std::string& text)
{
    std::u16string out(text.size() + 1, u'\0');
    int32_t length = Utf8ToUtf16(text.c_str(), out.data(), static_cast<int32_t>(out.size()));
    out.resize(static_cast<size_t>(length));
    return out;
}

std::string ControlText(uint32_t controlId) { return Utf8(g_Recording->Controls[controlId].Text); }
bool ControlEnabled(uint32_t controlId) { return g_Recording->Controls[controlId].Enabled; }

std::string TableText(uint32_t id)
{
    char16_t buffer[TEXT_BUFFER_SIZE];
    LoadTableText(id, buffer, TEXT_BUFFER_SIZE);
    return Utf8(buffer);
}
