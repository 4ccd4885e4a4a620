#include "eval/messages.h"

#include "host/core.h"

void ShowInfo(Interface& ip, const char* text) { ip.MessageBox(text, kMessageTitle, MB_OK | MB_ICONINFORMATION); }
