#include "eval/messages.h"

#include "host/core.h"

namespace dunsmere {

void ShowInfo(Interface& ip, const char* text) { ip.MessageBox(text, kMessageTitle, MB_OK | MB_ICONINFORMATION); }

}  // namespace dunsmere
