#include "shortname/lastcomponent.h"

#include "platform/platform.h"

const char* LastPathComponent(const char* path)
{
    const char separator = plat::PathSeparator();
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (plat::IsDBCSLeadByte(static_cast<unsigned char>(*p))) {
            // Skip the trail byte, which may equal the separator; a lead
            // byte at the very end stands alone.
            if (p[1] == '\0')
                break;
            ++p;
        } else if (*p == separator) {
            name = p + 1;
        }
    }
    return name;
}
