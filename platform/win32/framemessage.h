#pragma once

#include "platform/hittest.h"

#include <windows.h>

// The native messages a frameless window reacts to. Its answer to a hit test is the shared
// rule's HitRegion as it stands: the regions carry the system's HT* values.
namespace platform::win32 {

struct FrameMessage
{
    enum Kind { Other, ShowWindow, SystemClose, SystemCommand, HitTest };
    Kind kind = Other;
    // Screen position of a hit test: may be negative on monitors left of or above the
    // primary one.
    int x = 0;
    int y = 0;
};

FrameMessage decodeFrameMessage(UINT message, WPARAM wParam, LPARAM lParam);

} // namespace platform::win32
