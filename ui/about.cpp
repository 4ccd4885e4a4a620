// The About box: centred over the host's main window, closed by its OK
// button (also Enter) or its close box, but not by Escape.
#include "host/core.h"
#include "host/export_guard.h"
#include "ui/panel.h"

namespace dunsmere {

INT_PTR AboutDlgProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM)
{
    return CallGuarded<INT_PTR>("AboutDlgProc", __LINE__, FALSE, [&]() -> INT_PTR {
        switch (msg) {
        case WM_INITDIALOG: {
            Interface* core = GetCOREInterface();
            CenterWindow(hWnd, core ? core->GetMainWindow() : nullptr);
            return TRUE;
        }
        case WM_CLOSE:
            EndDialog(hWnd, 1);
            return TRUE;
        case WM_COMMAND:
            // Any other command, IDCANCEL (Escape) included, leaves it open.
            if (LOWORD(wParam) == IDOK) EndDialog(hWnd, 1);
            return FALSE;
        default: return FALSE;
        }
    });
}

}  // namespace dunsmere
