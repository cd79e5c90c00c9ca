// The version panel's texts and looks.
#include <gtest/gtest.h>

#include "app/app.h"
#include "link/device_link.h"
#include "resources/resource_ids.h"
#include "tests/support/recording_ui.h"
#include "tests/support/sim_session.h"

namespace {

std::string Formatted(void (*format)(uint32_t, char16_t*, int32_t), uint32_t value)
{
    char16_t text[32];
    format(value, text, 32);
    return Utf8(text);
}

void FormatController(uint32_t value, char16_t* out, int32_t capacity)
{
    FormatControllerVersion(static_cast<uint16_t>(value), out, capacity);
}

TEST(VersionPanel, WorkedExamples)
{
    struct Case {
        void (*Format)(uint32_t, char16_t*, int32_t);
        uint32_t Value;
        const char* Text;
    } cases[] = {
        {FormatUnitVersion, 0x01020300, "2.3"},        {FormatUnitVersion, 0x00011900, "1.25"},
        {FormatUnitVersion, 0x00000119, "1.25"},       {FormatUnitVersion, 0x02000103, "2.1.3"},
        {FormatUnitVersion, 0x01020304, "1.3.4"},      {FormatUnitVersion, 0x00000000, "0.0"},
        {FormatUnitVersion, 0xFFFFFFFF, "255.255.255"},
        {FormatBootloaderVersion, 0x01000203, "1.2.3"}, {FormatBootloaderVersion, 0x00030100, "1.0"},
        {FormatBootloaderVersion, 0x00000105, "1.5"},   {FormatBootloaderVersion, 0x01020300, "1.3.0"},
        {FormatController, 0x0119, "1.25"},             {FormatController, 0x0A05, "10.5"},
        {FormatController, 0xFFFF, "----------"},       {FormatController, 0x0000, "0.0"},
        {FormatController, 0xFFFE, "255.254"},
    };
    for (const Case& c : cases) EXPECT_EQ(Formatted(c.Format, c.Value), c.Text) << std::hex << c.Value;
}

class Panel : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartRecording(&ui);
    }
    void TearDown() override { CloseLink(); }
    RecordingUi ui;
};

TEST_F(Panel, NoUnitShowsThreeZerosGreyedAndKeepsTheLabels)
{
    g_Recording->Controls[IDC_LABEL_UNIT].Text = u"DIALPUCK";
    RefreshVersionPanel();
    for (uint32_t control : {IDC_VALUE_UNIT, IDC_VALUE_BOOTLOADER, IDC_VALUE_CONTROLLER}) {
        EXPECT_EQ(ControlText(control), "0.0.0");
        EXPECT_FALSE(ControlEnabled(control));
    }
    for (uint32_t control : {IDC_LABEL_UNIT, IDC_LABEL_BOOTLOADER, IDC_LABEL_CONTROLLER})
        EXPECT_FALSE(ControlEnabled(control));
    EXPECT_EQ(ControlText(IDC_LABEL_UNIT), "DIALPUCK");
}

TEST_F(Panel, OpenUnitShowsItsVersionsAndName)
{
    struct Case {
        const char* Scenario;
        const char* Label;
        const char* Unit;
        const char* Boot;
        const char* Controller;
    } cases[] = {
        {"", "SETBOX", "1.25", "1.5", "1.24"},
        {"unit=dialpuck,unitver=0x02000103,boot=0x00030100,fw=0x0a05", "DIALPUCK", "2.1.3", "1.0", "10.5"},
        {"fw=0xffff,boot=0x01000203,unitver=0x01020300", "SETBOX", "2.3", "1.2.3", "----------"},
        {"mode=1,unitver=0x00000119", "SETBOX", "1.25", "0.0", "0.0"},
    };
    for (const Case& c : cases) {
        UseScenario(c.Scenario);
        DiscoverUnit();
        ASSERT_TRUE(LinkIsOpen()) << c.Scenario;
        RefreshVersionPanel();
        EXPECT_EQ(ControlText(IDC_LABEL_UNIT), c.Label) << c.Scenario;
        EXPECT_EQ(ControlText(IDC_VALUE_UNIT), c.Unit) << c.Scenario;
        EXPECT_EQ(ControlText(IDC_VALUE_BOOTLOADER), c.Boot) << c.Scenario;
        EXPECT_EQ(ControlText(IDC_VALUE_CONTROLLER), c.Controller) << c.Scenario;
        for (uint32_t control : {IDC_VALUE_UNIT, IDC_VALUE_BOOTLOADER, IDC_VALUE_CONTROLLER, IDC_LABEL_UNIT,
                                 IDC_LABEL_BOOTLOADER, IDC_LABEL_CONTROLLER})
            EXPECT_TRUE(ControlEnabled(control)) << c.Scenario << " " << control;
        CloseLink();
    }
}

}  // namespace
