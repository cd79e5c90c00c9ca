// The terminal front end on Linux: the hidraw edge, and what to tell a user whose unit is
// present but whose device node may not be opened.
#include "cli/native_hid.h"
#include "platform/linux/hid_linux.h"

const HidPlatform* NativeHidPlatform() { return &kLinuxHidPlatform; }

bool ExplainMissingUnit(std::FILE* out)
{
    const char* node = LinuxHidRefusedNode();
    if (node == nullptr) return false;
    std::fprintf(out,
                 "velquor-flash: a programming unit is connected at %s, but permission to open it was refused.\n"
                 "Install the udev rule 70-velquor.rules (cmake --install puts it in lib/udev/rules.d under\n"
                 "the prefix; copy it to /etc/udev/rules.d when the prefix is not /usr), then run\n"
                 "  sudo udevadm control --reload-rules\n"
                 "and unplug the unit and plug it in again.\n",
                 node);
    return true;
}
