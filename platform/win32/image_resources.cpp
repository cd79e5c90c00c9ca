// The carried firmware images as RCDATA resources of the program's own module, read in place.
#include <windows.h>

#include "catalogue/catalogue.h"

bool LookupImage(uint16_t id, const uint8_t** bytes, uint32_t* size)
{
    *bytes = nullptr;
    *size = 0;
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), RT_RCDATA);
    if (found == nullptr) return false;
    HGLOBAL loaded = LoadResource(nullptr, found);
    if (loaded == nullptr) return false;
    const void* data = LockResource(loaded);
    DWORD length = SizeofResource(nullptr, found);
    if (data == nullptr || length == 0) return false;
    *bytes = static_cast<const uint8_t*>(data);
    *size = length;
    return true;
}
