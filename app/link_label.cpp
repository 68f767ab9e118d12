#include <windows.h>

#include <cstring>

#include "app/program.h"
#include "app/seams.h"
#include "app/texts.h"

namespace {

constexpr COLORREF LinkColour = RGB(0, 0, 255);

// The constant host name is drawn, not the control's text, at the label's
// top-left corner on the button face.
void DrawLabel(HWND label) {
    HDC context = GetDC(label);
    SetBkColor(context, GetSysColor(COLOR_BTNFACE));
    SetTextColor(context, LinkColour);
    SelectObject(context, LinkFont);
    TextOutA(context, 0, 0, VendorHost, static_cast<int>(std::strlen(VendorHost)));
    ReleaseDC(label, context);
}

void Repaint(HWND label) {
    InvalidateRect(label, nullptr, FALSE);
    UpdateWindow(label);
}

void OpenVendorSite() {
    char address[256] = "http://";
    std::strncat(address, VendorHost, sizeof address - std::strlen(address) - 1);
    seamShellExecute(nullptr, "open", address, nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace

LRESULT CALLBACK LinkLabelProc(HWND label, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NCPAINT:
            DrawLabel(label);
            return 0;
        case WM_MOUSEMOVE:
            Repaint(label);
            if (HandCursor != nullptr) SetCursor(HandCursor);
            return 0;
        case WM_LBUTTONDOWN:
            OpenVendorSite();
            return 0;
        case WM_CAPTURECHANGED:
            Repaint(label);
            return 0;
        default:
            return DefWindowProcA(label, message, wParam, lParam);
    }
}
