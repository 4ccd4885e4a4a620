// Numbers read from text the same way whatever the process's locale: a
// user's locale with a decimal comma must not change what a settings file
// or an edit control means.
#pragma once

#include "host/runtime.h"

// The float that TEXT begins with, as strtod reads it in the C locale (blanks
// skipped, then decimal or hexadecimal digits, "inf" or "nan"), narrowed to
// float; a finite value beyond the float range becomes an infinity of its
// sign. 0.0 when TEXT does not begin with a number. END, when given,
// receives the first character not read: TEXT itself when no number was
// read. TEXT must not be null. May be called from any thread.
DUNSMERE_HOST_API float ParseFloatC(const char* text, const char** end = nullptr);
