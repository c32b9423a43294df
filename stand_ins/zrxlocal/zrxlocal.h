#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Returns the address of the localised, NUL-terminated text for a message number, or 0 when the
// catalog of the user's language has none (or no catalog exists). The text stays valid until
// L32_Object_Reset is called; callers copy it at once.
//
// The language is the language part of the first non-empty of LC_ALL, LC_MESSAGES and LANG
// ("de_DE.UTF-8" -> "de"); "C", "POSIX" and an empty locale mean English, which needs no catalog.
// The catalog "zrxlibug.<language>.msg" is looked up in $ZRXLIBUG_LANG_DIR when that is set, then
// in the "lang" folder beside the running executable, then in the installed data directory.
// A catalog is UTF-8 text of "number<TAB>text" lines; malformed lines are skipped and the first
// line for a number wins.
const char* L32_Object_GetMessage(int32_t number);

// Forgets the loaded catalog, so that the next lookup reads the locale and the catalog again.
void L32_Object_Reset(void);

#ifdef __cplusplus
}
#endif
