// Runs the device search and detection in a process of its own, so the USB
// tests can check what the service's transport sees on a simulated bus.
//
//   usb_probe list VID PID   prints "count=N" and one identity per line
//   usb_probe detect         prints "count=N devType=T imgSize=S"
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "veko2547_drv.h"
#include "vkUsb.h"

int main(int argc, char **argv) {
    char list[kUsbListSize];
    memset(list, 0x5A, sizeof list);
    if (argc == 4 && strcmp(argv[1], "list") == 0) {
        uint32_t vid = static_cast<uint32_t>(strtoul(argv[2], nullptr, 16));
        uint32_t pid = static_cast<uint32_t>(strtoul(argv[3], nullptr, 16));
        int count = ssUsblst(list, vid, pid);
        printf("count=%d\n", count);
        for (const char *name = list; *name != '\0' && name < list + sizeof list; name += strlen(name) + 1)
            printf("%s\n", name);
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "detect") == 0) {
        int count = vkDetectDev(list);
        printf("count=%d devType=%d imgSize=%d\n", count, m_devType, m_imgSize);
        return 0;
    }
    fprintf(stderr, "usage: usb_probe list VID PID | detect\n");
    return 2;
}
