/* The library's version, for the Windows version resource (Dunsmere.rc)
   and for the code. Plain macros, because the resource compiler reads this
   file too. */
#ifndef DUNSMERE_PLUGIN_VERSION_H
#define DUNSMERE_PLUGIN_VERSION_H

#define DUNSMERE_VERSION_BINARY 0, 2, 5, 0
#define DUNSMERE_VERSION_TEXT "0.2.5.0"
#define DUNSMERE_PRODUCT_NAME "Dunsmere"

#endif
