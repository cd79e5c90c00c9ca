// The version panel: three installed versions and the unit's name, or the no-unit look.
#include "app/app.h"
#include "app/texts.h"
#include "link/device_link.h"
#include "resources/resource_ids.h"

namespace {

constexpr int32_t VERSION_TEXT_SIZE = 32;
const uint32_t kPanelControls[] = {IDC_VALUE_UNIT,   IDC_VALUE_BOOTLOADER, IDC_VALUE_CONTROLLER,
                                   IDC_LABEL_UNIT,   IDC_LABEL_BOOTLOADER, IDC_LABEL_CONTROLLER};

// "top.mid.low" with the top byte left out when it is 0; bits 16..23 are not shown.
void FormatThreePart(uint32_t version, char16_t* out, int32_t capacity)
{
    out[0] = 0;
    uint32_t top = version >> 24;
    if (top != 0) {
        FormatArg arg = NumberArg(top);
        FormatText(out, capacity, u"%u.", &arg, 1);
    }
    char16_t tail[VERSION_TEXT_SIZE];
    FormatArg args[2] = {NumberArg((version >> 8) & 0xFF), NumberArg(version & 0xFF)};
    FormatText(tail, VERSION_TEXT_SIZE, u"%u.%u", args, 2);
    AppendText(out, capacity, tail);
}

}  // namespace

void FormatUnitVersion(uint32_t version, char16_t* out, int32_t capacity)
{
    if ((version & 0xFF) == 0) version >>= 8;
    FormatThreePart(version, out, capacity);
}

void FormatBootloaderVersion(uint32_t version, char16_t* out, int32_t capacity)
{
    FormatThreePart(version, out, capacity);
}

void FormatControllerVersion(uint16_t version, char16_t* out, int32_t capacity)
{
    if (version == FIRMWARE_VERSION_NONE) {
        CopyText(out, capacity, u"----------");
        return;
    }
    FormatArg args[2] = {NumberArg(static_cast<uint32_t>(version >> 8)), NumberArg(version & 0xFFu)};
    FormatText(out, capacity, u"%u.%u", args, 2);
}

void RefreshVersionPanel()
{
    if (!LinkIsOpen()) {
        g_Ui->SetControlText(IDC_VALUE_UNIT, u"0.0.0");
        g_Ui->SetControlText(IDC_VALUE_BOOTLOADER, u"0.0.0");
        g_Ui->SetControlText(IDC_VALUE_CONTROLLER, u"0.0.0");
        for (uint32_t control : kPanelControls) g_Ui->EnableControl(control, false);
        return;
    }

    for (uint32_t control : kPanelControls) g_Ui->EnableControl(control, true);
    char16_t text[VERSION_TEXT_SIZE];
    FormatUnitVersion(g_Link.UnitVersion, text, VERSION_TEXT_SIZE);
    g_Ui->SetControlText(IDC_VALUE_UNIT, text);
    FormatBootloaderVersion(ControllerBootloaderVersion(), text, VERSION_TEXT_SIZE);
    g_Ui->SetControlText(IDC_VALUE_BOOTLOADER, text);
    FormatControllerVersion(ControllerFirmwareVersion(), text, VERSION_TEXT_SIZE);
    g_Ui->SetControlText(IDC_VALUE_CONTROLLER, text);
    g_Ui->SetControlText(IDC_LABEL_UNIT, g_Link.ProductId == PRODUCT_ID_DIALPUCK ? u"DIALPUCK" : u"SETBOX");
}
