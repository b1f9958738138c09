// The frame's native messages: the packed hit-test point, the close command, and the shared
// hit-test rule answered with the system's codes (the rows of the Linux hit-test test).
#include "harness.h"

#include "platform/win32/framemessage.h"

using platform::HitRegion;
using platform::win32::decodeFrameMessage;
using platform::win32::FrameMessage;

namespace {

constexpr int Unbounded = 16777215;
const platform::SizeLimits both { 0, Unbounded, 0, Unbounded };
const platform::SizeLimits widthOnly { 0, Unbounded, 300, 300 };
const platform::SizeLimits heightOnly { 300, 300, 0, Unbounded };
const platform::SizeLimits fixed { 300, 300, 300, 300 };

struct Row
{
    const char *name;
    int x, y, border;
    bool resizeable;
    platform::SizeLimits limits;
    bool caption;
    LRESULT expected; // HTNOWHERE: not handled
    platform::FrameRect rect { 100, 50, 400, 350 };
};

const Row rows[] = {
    { "not resizeable, left edge", 100, 200, 5, false, both, false, HTNOWHERE },
    { "not resizeable, left edge over caption", 100, 60, 5, false, both, true, HTCAPTION },
    { "zero border, left edge", 100, 200, 0, true, both, false, HTNOWHERE },
    { "zero border, corner", 100, 50, 0, true, both, false, HTNOWHERE },
    { "x = L", 100, 200, 5, true, both, false, HTLEFT },
    { "x = L + w - 1", 104, 200, 5, true, both, false, HTLEFT },
    { "x = L + w", 105, 200, 5, true, both, false, HTNOWHERE },
    { "x = L - 1", 99, 200, 5, true, both, false, HTNOWHERE },
    { "x = R - 1", 399, 200, 5, true, both, false, HTRIGHT },
    { "x = R - w", 395, 200, 5, true, both, false, HTRIGHT },
    { "x = R", 400, 200, 5, true, both, false, HTNOWHERE },
    { "y = T", 200, 50, 5, true, both, false, HTTOP },
    { "y = B - 1", 200, 349, 5, true, both, false, HTBOTTOM },
    { "y = B", 200, 350, 5, true, both, false, HTNOWHERE },
    { "border 1, x = L", 100, 200, 1, true, both, false, HTLEFT },
    { "border 1, x = R - 1", 399, 200, 1, true, both, false, HTRIGHT },
    { "top left", 102, 52, 5, true, both, false, HTTOPLEFT },
    { "top right", 399, 50, 5, true, both, false, HTTOPRIGHT },
    { "bottom left", 100, 349, 5, true, both, false, HTBOTTOMLEFT },
    { "bottom right", 399, 349, 5, true, both, false, HTBOTTOMRIGHT },
    { "fixed width, left band", 100, 200, 5, true, heightOnly, false, HTNOWHERE },
    { "fixed width, right band", 399, 200, 5, true, heightOnly, false, HTNOWHERE },
    { "fixed width, top band", 200, 50, 5, true, heightOnly, false, HTTOP },
    { "fixed width, bottom band", 200, 349, 5, true, heightOnly, false, HTBOTTOM },
    { "fixed width, top left corner", 100, 50, 5, true, heightOnly, false, HTTOP },
    { "fixed width, bottom right corner", 399, 349, 5, true, heightOnly, false, HTBOTTOM },
    { "fixed height, top band", 200, 50, 5, true, widthOnly, false, HTNOWHERE },
    { "fixed height, top left corner", 100, 50, 5, true, widthOnly, false, HTLEFT },
    { "fixed height, bottom right corner", 399, 349, 5, true, widthOnly, false, HTRIGHT },
    { "fixed both, corner", 100, 50, 5, true, fixed, false, HTNOWHERE },
    { "fixed both, corner over caption", 100, 50, 5, true, fixed, true, HTCAPTION },
    { "narrow, both bands, width only",
      102,
      200,
      5,
      true,
      widthOnly,
      false,
      HTRIGHT,
      { 100, 50, 106, 350 } },
    { "narrow, both bands and top",
      102,
      50,
      5,
      true,
      both,
      false,
      HTTOPRIGHT,
      { 100, 50, 106, 350 } },
    { "band over caption", 100, 60, 5, true, both, true, HTLEFT },
    { "top band over caption", 200, 52, 5, true, both, true, HTTOP },
    { "inside, caption", 200, 60, 5, true, both, true, HTCAPTION },
    { "inside, not caption", 200, 200, 5, true, both, false, HTNOWHERE },
};

// What the system puts in lParam: the two coordinates as 16-bit halves of its low 32 bits.
LPARAM pack(int x, int y, LPARAM highGarbage = 0)
{
    return (highGarbage << 32) | LPARAM(DWORD(MAKELONG(WORD(x), WORD(y))));
}

LRESULT answerFor(const Row &row, int dx, int dy, LPARAM highGarbage)
{
    const FrameMessage message
        = decodeFrameMessage(WM_NCHITTEST, 0, pack(row.x + dx, row.y + dy, highGarbage));
    if (message.kind != FrameMessage::HitTest)
        return -1;
    const platform::FrameRect rect { row.rect.left + dx, row.rect.top + dy, row.rect.right + dx,
                                     row.rect.bottom + dy };
    const HitRegion region = platform::hitTest(message.x, message.y, rect, row.border,
                                               row.resizeable, row.limits, row.caption);
    // What the window answers: the region's value, or not handled for NotHandled.
    return static_cast<LRESULT>(region);
}

void testRows()
{
    // The same window on the primary monitor and on one left of and above it, where the
    // coordinates are negative.
    const int offsets[][2] = { { 0, 0 }, { -1920, -1080 }, { -300, 0 }, { 2560, 1440 } };
    for (const Row &row : rows) {
        for (const auto &offset : offsets) {
            const LRESULT got = answerFor(row, offset[0], offset[1], offset[0] < 0 ? 0x7ff : 0);
            if (!harness::record(got == row.expected, __FILE__, __LINE__,
                                 std::string(row.name) + " at offset " + std::to_string(offset[0])
                                     + "," + std::to_string(offset[1]) + ": got "
                                     + std::to_string(got) + ", want "
                                     + std::to_string(row.expected)))
                break;
        }
    }
}

void testUnpacking()
{
    const struct
    {
        int x, y;
    } points[] = { { 0, 0 },          { 1, 2 },     { -1, -1 },     { -32768, 32767 },
                   { 32767, -32768 }, { -5, 1000 }, { 3839, -2160 } };
    for (const auto &point : points) {
        const FrameMessage message = decodeFrameMessage(WM_NCHITTEST, 0, pack(point.x, point.y));
        CHECK_EQ(int(message.kind), int(FrameMessage::HitTest));
        CHECK_EQ(message.x, point.x);
        CHECK_EQ(message.y, point.y);
        // Bits above the low 32 of a 64-bit lParam carry nothing.
        const FrameMessage noisy
            = decodeFrameMessage(WM_NCHITTEST, 0, pack(point.x, point.y, 0x12345678));
        CHECK_EQ(noisy.x, point.x);
        CHECK_EQ(noisy.y, point.y);
    }
}

void testKinds()
{
    CHECK_EQ(int(decodeFrameMessage(WM_SHOWWINDOW, TRUE, 0).kind), int(FrameMessage::ShowWindow));
    CHECK_EQ(int(decodeFrameMessage(WM_SHOWWINDOW, FALSE, 0).kind), int(FrameMessage::ShowWindow));
    CHECK_EQ(int(decodeFrameMessage(WM_SYSCOMMAND, SC_CLOSE, 0).kind),
             int(FrameMessage::SystemClose));
    CHECK_EQ(int(decodeFrameMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0).kind),
             int(FrameMessage::SystemCommand));
    CHECK_EQ(int(decodeFrameMessage(WM_SYSCOMMAND, SC_RESTORE, 0).kind),
             int(FrameMessage::SystemCommand));
    // Compared whole: a close command with its low bits set is another command.
    CHECK_EQ(int(decodeFrameMessage(WM_SYSCOMMAND, SC_CLOSE | 0x2, 0).kind),
             int(FrameMessage::SystemCommand));
    CHECK_EQ(int(decodeFrameMessage(WM_CLOSE, 0, 0).kind), int(FrameMessage::Other));
    CHECK_EQ(int(decodeFrameMessage(WM_MOUSEMOVE, 0, pack(5, 5)).kind), int(FrameMessage::Other));
}

} // namespace

int wmain()
{
    testRows();
    testUnpacking();
    testKinds();
    return harness::summary();
}
