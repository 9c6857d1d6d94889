#include "platform/EventWait.h"

#include "platform/win32/StopEvent.h"

#include <io.h>

void WaitForWake(int wakeFd, int64_t waitMs)
{
    HANDLE handles[2] = {StopEvent(), nullptr};
    DWORD count = 1;
    if (wakeFd >= 0) {
        // Only a console's input can be waited on; it is signalled while
        // input records (keys, but also mouse and focus events, which the
        // key reader throws away) are waiting.
        HANDLE input = reinterpret_cast<HANDLE>(_get_osfhandle(wakeFd));
        DWORD mode = 0;
        if (input != INVALID_HANDLE_VALUE && GetConsoleMode(input, &mode))
            handles[count++] = input;
    }
    DWORD timeout = waitMs < 0 ? INFINITE : static_cast<DWORD>(waitMs < 0x7FFFFFFE ? waitMs : 0x7FFFFFFE);
    WaitForMultipleObjects(count, handles, FALSE, timeout);
}
