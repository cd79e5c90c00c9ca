// The Linux HID edge (see hid_linux.h and the contracts in link/hid_platform.h).
//
// An interface list is a snapshot of the device nodes of subsystem hidraw, in the order udev
// enumerates them. A handle is a small record around the open file: the report descriptor
// tells whether the device numbers its reports, and a device that does not leaves the report
// id out of what read() returns, while the link, like Windows, expects it in byte 0.
//
// Time limits: a read waits with poll() towards an absolute deadline on CLOCK_MONOTONIC,
// resumed after a signal with what is left. A write is handed to the kernel at once, which
// bounds it itself: usbhid gives an interrupt or control transfer USB_CTRL_SET_TIMEOUT (5 s),
// uhid and Bluetooth queue the report and return. (Polling the node for POLLOUT first is no
// bound: kernels before the hidraw poll fix of 5.5 and 4.14.166, 4.19.96, 5.4.12 never report
// POLLOUT there, so such a wait would always run out.)
//
// A unit in use is claimed with flock(LOCK_EX | LOCK_NB) on its node, so that a second program
// (another velquor-flash) leaves it alone; the lock goes with the file's closing.
#include "platform/linux/hid_linux.h"

#include <errno.h>
#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "link/device_link.h"
#include "platform/linux/linux_clock.h"
#include "platform/linux/report_descriptor.h"

namespace {

thread_local uint32_t g_LastError = 0;

// What the last list saw of programming units: a node refused for permission, and whether a
// unit was opened after all.
constexpr uint32_t REFUSED_NODE_SIZE = 256;
char g_RefusedNode[REFUSED_NODE_SIZE];
bool g_UnitOpened = false;

bool Fail(int error)
{
    g_LastError = static_cast<uint32_t>(error);
    return false;
}

bool Succeed()
{
    g_LastError = 0;
    return true;
}

struct NodeList {
    uint32_t Count;
    char** Nodes;  // Count entries; null where a device has no node (yet)
};

// The kernel keeps at most this many unread reports for each open hidraw file (HIDRAW_BUFFER_SIZE).
constexpr uint32_t HIDRAW_BUFFER_REPORTS = 64;

struct OpenDevice {
    int Fd;
    bool NumberedReports;
};

OpenDevice* ToDevice(PlatformHandle handle)
{
    if (handle == INVALID_PLATFORM_HANDLE || handle == 0) return nullptr;
    return reinterpret_cast<OpenDevice*>(handle);
}

char* CopyText(const char* text)
{
    size_t length = std::strlen(text);
    char* copy = new (std::nothrow) char[length + 1];
    if (copy != nullptr) std::memcpy(copy, text, length + 1);
    return copy;
}

void FreeNodeList(NodeList* list)
{
    if (list == nullptr) return;
    for (uint32_t i = 0; i < list->Count; ++i) delete[] list->Nodes[i];
    delete[] list->Nodes;
    delete list;
}

// ---- Text conversion: device nodes are UTF-8 below this edge, UTF-16 above it -------------

// Length in UTF-16 units of a UTF-8 text, writing the units when `out` is not null; -1 when
// the text is not valid UTF-8.
int32_t Utf8ToUtf16(const char* text, char16_t* out)
{
    int32_t units = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != 0) {
        uint32_t c = *p;
        uint32_t extra = 0;
        if (c < 0x80) {
            extra = 0;
        } else if ((c & 0xE0) == 0xC0) {
            c &= 0x1F;
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            c &= 0x0F;
            extra = 2;
        } else if ((c & 0xF8) == 0xF0) {
            c &= 0x07;
            extra = 3;
        } else {
            return -1;
        }
        ++p;
        for (uint32_t i = 0; i < extra; ++i, ++p) {
            if ((*p & 0xC0) != 0x80) return -1;
            c = (c << 6) | (*p & 0x3Fu);
        }
        static const uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
        if (c < kSmallest[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return -1;
        if (c >= 0x10000) {
            if (out != nullptr) {
                out[units] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
                out[units + 1] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
            }
            units += 2;
        } else {
            if (out != nullptr) out[units] = static_cast<char16_t>(c);
            units += 1;
        }
    }
    return units;
}

// A UTF-16 path as UTF-8 in `out` (capacity bytes, terminated). False when it is not valid
// UTF-16 or does not fit.
bool Utf16ToUtf8(const char16_t* text, char* out, uint32_t capacity)
{
    uint32_t length = 0;
    for (uint32_t i = 0; text[i] != u'\0'; ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            uint32_t low = text[i + 1];
            if (low < 0xDC00 || low > 0xDFFF) return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
        uint8_t bytes[4];
        uint32_t count = 0;
        if (c < 0x80) {
            bytes[count++] = static_cast<uint8_t>(c);
        } else if (c < 0x800) {
            bytes[count++] = static_cast<uint8_t>(0xC0 | (c >> 6));
            bytes[count++] = static_cast<uint8_t>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            bytes[count++] = static_cast<uint8_t>(0xE0 | (c >> 12));
            bytes[count++] = static_cast<uint8_t>(0x80 | ((c >> 6) & 0x3F));
            bytes[count++] = static_cast<uint8_t>(0x80 | (c & 0x3F));
        } else {
            bytes[count++] = static_cast<uint8_t>(0xF0 | (c >> 18));
            bytes[count++] = static_cast<uint8_t>(0x80 | ((c >> 12) & 0x3F));
            bytes[count++] = static_cast<uint8_t>(0x80 | ((c >> 6) & 0x3F));
            bytes[count++] = static_cast<uint8_t>(0x80 | (c & 0x3F));
        }
        if (length + count >= capacity) return false;
        std::memcpy(out + length, bytes, count);
        length += count;
    }
    if (capacity == 0) return false;
    out[length] = '\0';
    return true;
}

// ---- udev ---------------------------------------------------------------------------------

// Vendor and product of the hidraw node `node` as udev knows them (the HID_ID property of its
// HID device, "bus:vendor:product" in hex): readable without opening the node.
bool NodeIdsFromUdev(const char* node, uint16_t* vendorId, uint16_t* productId)
{
    struct stat status;
    if (stat(node, &status) != 0 || !S_ISCHR(status.st_mode)) return false;
    bool found = false;
    struct udev* context = udev_new();
    if (context == nullptr) return false;
    struct udev_device* device = udev_device_new_from_devnum(context, 'c', status.st_rdev);
    if (device != nullptr) {
        struct udev_device* hid = udev_device_get_parent_with_subsystem_devtype(device, "hid", nullptr);
        const char* id = hid != nullptr ? udev_device_get_property_value(hid, "HID_ID") : nullptr;
        unsigned bus = 0, vendor = 0, product = 0;
        if (id != nullptr && std::sscanf(id, "%x:%x:%x", &bus, &vendor, &product) == 3) {
            *vendorId = static_cast<uint16_t>(vendor);
            *productId = static_cast<uint16_t>(product);
            found = true;
        }
        udev_device_unref(device);
    }
    udev_unref(context);
    return found;
}

bool IsProgrammingUnit(uint16_t vendorId, uint16_t productId)
{
    return vendorId == UNIT_VENDOR_ID && (productId == PRODUCT_ID_DIALPUCK || productId == PRODUCT_ID_SETBOX);
}

// ---- The table ------------------------------------------------------------------------------

InterfaceList OpenInterfaceList()
{
    g_RefusedNode[0] = '\0';
    g_UnitOpened = false;

    NodeList* list = nullptr;
    struct udev_list_entry* entry = nullptr;
    uint32_t count = 0;
    int error = ENOMEM;
    struct udev* context = udev_new();
    struct udev_enumerate* enumeration = context != nullptr ? udev_enumerate_new(context) : nullptr;
    if (enumeration == nullptr) goto done;
    if (udev_enumerate_add_match_subsystem(enumeration, "hidraw") < 0 || udev_enumerate_scan_devices(enumeration) < 0) {
        error = errno != 0 ? errno : EIO;
        goto done;
    }

    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration)) ++count;
    list = new (std::nothrow) NodeList{0, nullptr};
    if (list == nullptr) goto done;
    list->Nodes = new (std::nothrow) char*[count == 0 ? 1 : count];
    if (list->Nodes == nullptr) {
        delete list;
        list = nullptr;
        goto done;
    }
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration))
    {
        if (list->Count == count) break;
        char* node = nullptr;
        struct udev_device* device = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
        if (device != nullptr) {
            const char* devnode = udev_device_get_devnode(device);
            if (devnode != nullptr) node = CopyText(devnode);
            udev_device_unref(device);
        }
        list->Nodes[list->Count++] = node;
    }

done:
    if (enumeration != nullptr) udev_enumerate_unref(enumeration);
    if (context != nullptr) udev_unref(context);
    if (list == nullptr) {
        Fail(error);
        return 0;
    }
    Succeed();
    return reinterpret_cast<InterfaceList>(list);
}

int32_t GetInterfacePath(InterfaceList handle, uint32_t index, char16_t* path, uint32_t capacity)
{
    const NodeList* list = reinterpret_cast<const NodeList*>(handle);
    if (list == nullptr) {
        Fail(EBADF);
        return INTERFACE_LIST_END;
    }
    if (index >= list->Count) return INTERFACE_LIST_END;
    const char* node = list->Nodes[index];
    if (node == nullptr) return INTERFACE_NO_DETAIL;
    int32_t length = Utf8ToUtf16(node, nullptr);
    if (length <= 0) return INTERFACE_NO_DETAIL;
    if (path != nullptr && capacity > static_cast<uint32_t>(length)) {
        Utf8ToUtf16(node, path);
        path[length] = u'\0';
    }
    return length;
}

void CloseInterfaceList(InterfaceList list) { FreeNodeList(reinterpret_cast<NodeList*>(list)); }

PlatformHandle Open(const char16_t* path)
{
    char node[REFUSED_NODE_SIZE];
    if (path == nullptr || !Utf16ToUtf8(path, node, sizeof node)) {
        Fail(EINVAL);
        return INVALID_PLATFORM_HANDLE;
    }
    int fd = open(node, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        int error = errno;
        uint16_t vendorId = 0, productId = 0;
        if ((error == EACCES || error == EPERM) && NodeIdsFromUdev(node, &vendorId, &productId) &&
            IsProgrammingUnit(vendorId, productId) && g_RefusedNode[0] == '\0')
            std::memcpy(g_RefusedNode, node, sizeof node);
        Fail(error);
        return INVALID_PLATFORM_HANDLE;
    }
    OpenDevice* device = new (std::nothrow) OpenDevice{fd, true};
    if (device == nullptr) {
        close(fd);
        Fail(ENOMEM);
        return INVALID_PLATFORM_HANDLE;
    }
    Succeed();
    return reinterpret_cast<PlatformHandle>(device);
}

bool GetIds(PlatformHandle handle, uint16_t* vendorId, uint16_t* productId)
{
    OpenDevice* device = ToDevice(handle);
    if (device == nullptr) return Fail(EBADF);
    if (vendorId == nullptr || productId == nullptr) return Fail(EINVAL);
    struct hidraw_devinfo info;
    if (ioctl(device->Fd, HIDIOCGRAWINFO, &info) < 0) return Fail(errno);
    *vendorId = static_cast<uint16_t>(info.vendor);
    *productId = static_cast<uint16_t>(info.product);
    if (IsProgrammingUnit(*vendorId, *productId)) g_UnitOpened = true;
    return Succeed();
}

bool GetReportLengths(PlatformHandle handle, uint16_t* inputLength, uint16_t* outputLength)
{
    OpenDevice* device = ToDevice(handle);
    if (device == nullptr) return Fail(EBADF);
    if (inputLength == nullptr || outputLength == nullptr) return Fail(EINVAL);
    int size = 0;
    if (ioctl(device->Fd, HIDIOCGRDESCSIZE, &size) < 0) return Fail(errno);
    if (size <= 0 || size > HID_MAX_DESCRIPTOR_SIZE) return Fail(EBADMSG);
    struct hidraw_report_descriptor descriptor;
    std::memset(&descriptor, 0, sizeof descriptor);
    descriptor.size = static_cast<uint32_t>(size);
    if (ioctl(device->Fd, HIDIOCGRDESC, &descriptor) < 0) return Fail(errno);
    ReportDescriptorLengths lengths;
    if (ParseReportDescriptor(descriptor.value, descriptor.size, &lengths) != REPORT_DESCRIPTOR_OK)
        return Fail(EBADMSG);
    device->NumberedReports = lengths.NumberedReports;
    *inputLength = lengths.InputLength;
    *outputLength = lengths.OutputLength;
    return Succeed();
}

uint32_t ReadDescriptorOf(PlatformHandle handle, uint8_t* out, uint32_t capacity)
{
    OpenDevice* device = ToDevice(handle);
    if (device == nullptr || out == nullptr) return 0;
    int size = 0;
    if (ioctl(device->Fd, HIDIOCGRDESCSIZE, &size) < 0 || size <= 0 || size > HID_MAX_DESCRIPTOR_SIZE) return 0;
    if (static_cast<uint32_t>(size) > capacity) return 0;
    struct hidraw_report_descriptor descriptor;
    std::memset(&descriptor, 0, sizeof descriptor);
    descriptor.size = static_cast<uint32_t>(size);
    if (ioctl(device->Fd, HIDIOCGRDESC, &descriptor) < 0) return 0;
    std::memcpy(out, descriptor.value, descriptor.size);
    return descriptor.size;
}

// Waits until `fd` shows one of `events` or the deadline passes: the poll revents, 0 at the
// deadline, -1 on failure (errno set).
int WaitForFd(int fd, short events, const timespec& deadline)
{
    for (;;) {
        struct pollfd entry = {fd, events, 0};
        int result = poll(&entry, 1, MonotonicMsUntil(deadline));
        if (result > 0) return entry.revents;
        if (result < 0 && errno != EINTR) return -1;
        if (result == 0 && MonotonicMsUntil(deadline) == 0) return 0;
    }
}

bool Claim(PlatformHandle handle)
{
    OpenDevice* device = ToDevice(handle);
    if (device == nullptr) return Fail(EBADF);
    int result;
    do {
        result = flock(device->Fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) return Succeed();
    if (errno == EWOULDBLOCK) return Fail(EBUSY);
    // A node that takes no locks at all can't be claimed; it is used without a claim.
    return Succeed();
}

bool DiscardInput(PlatformHandle handle)
{
    OpenDevice* device = ToDevice(handle);
    if (device == nullptr) return Fail(EBADF);
    // A read takes one whole report off the queue, whatever the buffer's size.
    uint8_t report[REPORT_BUFFER_SIZE + 1];
    // Reports queued for this file only; a bounded number, so a unit that never stops
    // sending can't hold the caller here.
    for (uint32_t taken = 0; taken < HIDRAW_BUFFER_REPORTS; ++taken) {
        struct pollfd entry = {device->Fd, POLLIN, 0};
        int ready = poll(&entry, 1, 0);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return Fail(errno);
        if (ready == 0) break;
        if ((entry.revents & POLLIN) == 0) return Fail((entry.revents & POLLNVAL) != 0 ? EBADF : ENODEV);
        ssize_t received = read(device->Fd, report, sizeof report);
        if (received < 0 && errno != EINTR && errno != EAGAIN) return Fail(errno);
    }
    return Succeed();
}

bool WriteReport(PlatformHandle handle, const uint8_t* report, uint32_t length, uint32_t /*timeoutMs*/)
{
    OpenDevice* device = ToDevice(handle);
    if (device == nullptr) return Fail(EBADF);
    if (report == nullptr || length == 0) return Fail(EINVAL);
    for (;;) {
        ssize_t written = write(device->Fd, report, length);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return Fail(errno);
        if (static_cast<size_t>(written) != length) return Fail(EIO);
        return Succeed();
    }
}

bool ReadReport(PlatformHandle handle, uint8_t* report, uint32_t length, uint32_t timeoutMs)
{
    OpenDevice* device = ToDevice(handle);
    if (device == nullptr) return Fail(EBADF);
    if (report == nullptr || length == 0 || (!device->NumberedReports && length < 2)) return Fail(EINVAL);
    // Without report ids the kernel hands over the data alone; byte 0 is then the id 0.
    uint8_t* target = device->NumberedReports ? report : report + 1;
    uint32_t wanted = device->NumberedReports ? length : length - 1;

    timespec deadline = MonotonicDeadline(timeoutMs);
    int ready = WaitForFd(device->Fd, POLLIN, deadline);
    if (ready < 0) return Fail(errno);
    if (ready == 0) return Fail(ETIMEDOUT);
    if ((ready & POLLIN) == 0) return Fail((ready & POLLNVAL) != 0 ? EBADF : ENODEV);
    ssize_t received;
    do {
        received = read(device->Fd, target, wanted);
    } while (received < 0 && errno == EINTR);
    if (received < 0) return Fail(errno);
    if (received == 0) return Fail(EIO);
    // A shorter report than declared reads as the declared length with zeros after it.
    std::memset(target + received, 0, wanted - static_cast<uint32_t>(received));
    if (!device->NumberedReports) report[0] = 0;
    return Succeed();
}

void Close(PlatformHandle handle)
{
    OpenDevice* device = ToDevice(handle);
    if (device == nullptr) return;
    close(device->Fd);
    delete device;
}

void Sleep(uint32_t milliseconds)
{
    MonotonicSleep(milliseconds);
}

uint32_t LastError() { return g_LastError; }

uint64_t Milliseconds() { return MonotonicMilliseconds(); }

bool IsSimulation() { return false; }

}  // namespace

const char* LinuxHidRefusedNode()
{
    return g_RefusedNode[0] != '\0' && !g_UnitOpened ? g_RefusedNode : nullptr;
}

const HidPlatform kLinuxHidPlatform = {
    OpenInterfaceList,
    GetInterfacePath,
    CloseInterfaceList,
    Open,
    GetIds,
    GetReportLengths,
    Claim,
    DiscardInput,
    WriteReport,
    ReadReport,
    Close,
    Sleep,
    LastError,
    Milliseconds,
    IsSimulation,
};

uint32_t LinuxHidReadDescriptor(PlatformHandle handle, uint8_t* descriptor, uint32_t capacity)
{
    // The reading leaves the edge's last error as it was: the recorder asks between two calls.
    uint32_t lastError = g_LastError;
    uint32_t length = ReadDescriptorOf(handle, descriptor, capacity);
    g_LastError = lastError;
    return length;
}
