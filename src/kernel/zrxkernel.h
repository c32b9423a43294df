#pragma once

// The design kernel as the program drives it: library files, the in-memory working database with
// its object maps, and the shared string store. Every operation has a C ABI: 32-bit integer
// results, NUL-terminated single-byte texts in and out. Texts returned as pointers belong to the
// kernel; callers copy them at once (they stay valid at least until the next call that changes the
// object or library they came from).
//
// Choices this kernel makes where callers leave them open:
// - Object numbers: the scratch slots are the fixed negative numbers -10, -20, -30 and -98; a load
//   into a slot returns the slot's own number. Every other object gets a positive number, counted
//   up from 1 for the life of the working database and never reused.
// - Maps keep their objects in the order they were created (a load into a slot places the slot's
//   new object at the end). Name searches return every object of that name in this order,
//   including slot objects, whose negative numbers tell callers to go on searching; so of two
//   devices of the same name a caller's search settles on the first one with a positive number.
// - Names compare with case, in libraries and in the working database.
// - E_GetLibDirName lists a library's element names sorted by their bytes (binary order).
// - E_CloseLibrary(0) and other calls with unknown handles do nothing and return 0.
// - The shared string store lives in the process that loads the kernel.
// - Library files are SQLite databases that record their kind and a format version. Saves are
//   atomic per element; the kernel gathers the saves into one database transaction per library
//   and makes them durable and visible to other programs when E_FlushLibraries is called, when the
//   transaction has been open for 200 ms and a write or the library is closed, or when the process
//   ends normally. A crash at any moment leaves every element either as before or as saved.
//   Callers flush before they wait for the user, so that no library stays locked meanwhile.
// - A library opened for reading is read through a read-only connection: reading never writes
//   the file or its side files. A lock held by another program is waited for five seconds, or
//   for the milliseconds the environment variable ZRXKERNEL_LOCK_WAIT_MS gives.

#include <stdint.h>

#if defined(_WIN32)
#define ZK_API __declspec(dllexport)
#else
#define ZK_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Library kinds.
#define ZK_KIND_PART_LIBRARY "ZarnixDLL00"
#define ZK_KIND_SYMBOL_LIBRARY "ZarnixSLL00"

// Scratch slots of the working database.
#define ZK_SLOT_SYMBOL (-10)
#define ZK_SLOT_PACKAGE (-20)
#define ZK_SLOT_PART (-30)
#define ZK_SLOT_MODEL (-98)

// Symbol classes, and the item kind of a text item.
#define ZK_CLASS_SCHEMATIC 1
#define ZK_CLASS_PACKAGE 2
#define ZK_CLASS_MODEL 3
#define ZK_ITEM_TEXT 6

// Records filled by the read operations. Pointers point into the kernel's own storage.
typedef struct ZK_DeviceRecord {
    int32_t reserved1;
    int32_t reserved2;
    const char* text1;
    const char* text2;
    int32_t supplyPinCount;
    int32_t groupCount;
} ZK_DeviceRecord;

typedef struct ZK_GroupRecord {
    const char* name;
    const char* text2;
    int32_t pinCount;
} ZK_GroupRecord;

typedef struct ZK_PinRecord {
    int32_t number;
    const char* name;
} ZK_PinRecord;

typedef struct ZK_SymbolRecord {
    int32_t symbolClass;
    int32_t itemCount;
} ZK_SymbolRecord;

// Thirteen fields; the twelfth points to the text of a text item (kind 6).
typedef struct ZK_ItemRecord {
    int32_t kind;
    int32_t fields[10];
    const char* text;
    int32_t reserved;
} ZK_ItemRecord;

// ---- Libraries ------------------------------------------------------------------------------
// Opens a library of the given kind; write flag 0 reads, -1 writes and creates a missing library
// (its directory must exist). A missing file (for reading), a file that is not a library, a
// library of the other kind or of a newer format, or a damaged one gives 0; the file is not
// touched.
// file-access: the declaration of the kernel's opener
ZK_API int32_t E_OpenLibrary(const char* path, const char* kind, int32_t writeFlag);
// A read cursor (above 0) when the library holds an element of that name, else 0.
ZK_API int32_t E_OpenLibToRead(int32_t library, const char* name);
// Compares what two open libraries (of one kind) store for two elements, without loading them into
// the working database: 1 when the stored elements are identical, 0 when they differ, -1 when the
// first library has no element `nameA`, -2 when the second has no element `nameB` (the first
// holds it, undamaged), -3 when a handle is not open or an element is damaged (E_LastError says
// which). Names compare exactly. Nothing is written. An element compared with itself tells
// whether it is there and undamaged.
ZK_API int32_t E_CompareElements(int32_t libraryA, const char* nameA, int32_t libraryB, const char* nameB);
// Copies what one open library stores for an element into another open library of the same kind
// (a write handle), under `toName`, as it is stored: nothing goes through the working database.
// 1 copied (a save like any other: durable at E_FlushLibraries), -1 when the first library has no
// such element, 0 when it cannot be written (E_LastError says why).
ZK_API int32_t E_CopyElement(int32_t fromLibrary, const char* name, int32_t toLibrary, const char* toName);
// Removes an element from a library opened for writing; 1 when the library no longer holds it
// (also when it never did), 0 when it cannot be written. Durable like a save.
ZK_API int32_t E_DeleteElement(int32_t library, const char* name);
// A digest of what an open library stores for an element: 64 hex digits of the SHA-256 of its
// stored form, equal for two elements exactly when they are stored alike; the empty text when
// the library has no such element, or when it cannot be read (then E_LastError says why).
ZK_API const char* E_ElementDigest(int32_t library, const char* name);
// A write cursor (above 0) for saving an element under that name, else 0 (read-only handle,
// empty name).
ZK_API int32_t E_OpenLibToWrite(int32_t library, const char* name);
// Ends the write of the last save on that library.
ZK_API int32_t E_CloseLibWrite(int32_t library);
ZK_API int32_t E_CloseLibrary(int32_t library);
// The name of element `index` (from 0) in binary name order, or 0 past the end.
ZK_API const char* E_GetLibDirName(int32_t library, int32_t index);
// Why the last E_OpenLibrary that failed refused its file, as a short text ("" after a success).
ZK_API const char* E_LastError(void);
// Makes every save so far durable and visible to other processes. 0 when a save that was
// reported as done could not be made durable after all (a full disk, say): E_FailedSave lists the
// names of those elements and E_FailedSaveLibrary the real paths of their libraries (index from 0;
// 0 past the end) until E_ClearFailedSaves.
ZK_API int32_t E_FlushLibraries(void);
// The same for one open library.
ZK_API int32_t E_FlushLibrary(int32_t library);
ZK_API const char* E_FailedSave(int32_t index);
ZK_API const char* E_FailedSaveLibrary(int32_t index);
ZK_API int32_t E_ClearFailedSaves(void);
// A caller that must be durable before any save is (a record of what the saves replace) sets a
// hook: the kernel calls it before it commits the gathered saves of any library, and commits
// nothing when it returns 0 (those saves then count as failed saves). While the hook runs, the
// commits it makes itself (E_FlushLibrary) do not call it again. A null hook removes it.
typedef int32_t (*ZK_CommitHook)(void* context);
ZK_API int32_t E_SetCommitHook(ZK_CommitHook hook, void* context);

// ---- Shared string store -------------------------------------------------------------------
// Stores a text under a key; a null value removes the key.
ZK_API int32_t E_SetString(const char* key, const char* value);
// The stored value, or the empty text for an unknown key.
ZK_API const char* E_GetString(const char* key);

// ---- Working database ----------------------------------------------------------------------
ZK_API int32_t DB_DiscardDataBase(void);
// Creates an empty database with one root hierarchy and one page of the given names; non-zero on
// success. The name buffers are not changed.
ZK_API int32_t DB_CreateDataBase(const char* database, char* hierarchy, char* page);
ZK_API int32_t DB_HierarchyMap(void);
ZK_API int32_t DB_PageMap(void);
ZK_API int32_t DB_FileMap(void);
ZK_API int32_t DB_SymbMap(void);
ZK_API int32_t DB_DeviceMap(void);
// The component maps of the current hierarchy.
ZK_API int32_t DB_SchCompMap(void);
ZK_API int32_t DB_LayCompMap(void);
ZK_API int32_t DB_CurHier(void);
ZK_API int32_t DB_SetCurHier(int32_t hierarchy);
ZK_API int32_t DB_SetCurPage(int32_t page);
// Creates a file object of that name; its number, 0 on failure.
ZK_API int32_t F_CreateFile(int32_t reserved, const char* name);
// Creates a hierarchy of that name (besides the root); its number.
ZK_API int32_t DB_CreateHierarchy(const char* name);

// ---- Object maps ----------------------------------------------------------------------------
// The number of the first object of that name in the map, or 0.
ZK_API int32_t OM_FindName(int32_t map, const char* name);
// A search cursor at the first object of the map.
ZK_API int32_t OM_GetFirst(int32_t map);
// The next object from the cursor whose symbol class is maskA or maskB ((0, 0): any object), and
// the cursor moves past it; 0 at the end.
ZK_API int32_t OM_SearchMask(int32_t map, int32_t* cursor, int32_t maskA, int32_t maskB);
// The next object of that name from the cursor (numbers below 0 are slot objects: go on); 0 at
// the end.
ZK_API int32_t OM_SearchName(int32_t map, int32_t* cursor, const char* name);
ZK_API int32_t OM_SearchNameMask(int32_t map, int32_t* cursor, const char* name, int32_t maskA, int32_t maskB);
// Deletes the object (and the components or items that hang on it); non-zero when deleted.
ZK_API int32_t OM_Delete(int32_t map, int32_t object);
ZK_API int32_t O_Rename(int32_t object, const char* name);
// The object's name, or the empty text for an unknown object.
ZK_API const char* O_GetName(int32_t object);

// ---- Devices --------------------------------------------------------------------------------
// Loads the element of a read cursor into a slot; the slot's number, 0 on failure.
ZK_API int32_t D_LoadDevice(int32_t slot, int32_t readCursor);
// Saves a device under the name of the write cursor; non-zero on success.
ZK_API int32_t D_SaveDevice(int32_t device, int32_t writeCursor);
// The device object (for O_Rename) when the number holds a device, else 0.
ZK_API int32_t D_Device(int32_t device);
// Above 0 when the device exists; fills the record.
ZK_API int32_t D_ReadDevice(int32_t device, ZK_DeviceRecord* record);
ZK_API int32_t D_CreateDevice(int32_t reserved, const char* name, const char* text1, const char* text2);
// Adds a group; its index (from 1), 0 on failure.
ZK_API int32_t D_AddGroup(int32_t device, const char* name, const char* text2);
// Pin arrays: the supply pins of a device, or the pins of one group (index from 1).
ZK_API int32_t D_SupplyPinArray(int32_t device);
ZK_API int32_t D_GroupPinArray(int32_t device, int32_t group);
ZK_API int32_t D_AddPin(int32_t pinArray, int32_t number, const char* name);
ZK_API int32_t D_ReadGroup(int32_t device, int32_t group, ZK_GroupRecord* record);
// Reads pin `index` (from 1) of a pin array; above 0 when it exists.
ZK_API int32_t D_ReadPin(int32_t pinArray, int32_t index, ZK_PinRecord* record);

// ---- Symbols and items ----------------------------------------------------------------------
ZK_API int32_t S_LoadSymbol(int32_t slot, int32_t readCursor);
ZK_API int32_t S_SaveSymbol(int32_t symbol, int32_t writeCursor);
ZK_API int32_t S_Symbol(int32_t symbol);
ZK_API int32_t S_ReadSymbol(int32_t symbol, ZK_SymbolRecord* record);
// A copy of the symbol under a new number; 0 on failure.
ZK_API int32_t S_CopySymbol(int32_t symbol, int32_t reserved);
ZK_API int32_t S_CreateSymbol(const char* name, int32_t symbolClass);
ZK_API int32_t S_AddItem(int32_t symbol, int32_t kind, const char* text);
// The item array of a symbol; 0 for no symbol.
ZK_API int32_t S_SymbolItemArray(int32_t symbol);
// The link of item number `index` (from 0) among the items whose kind lies between kindLow and
// kindHigh; 0 when there is none.
ZK_API int32_t IA_SearchMaskLink(int32_t itemArray, int32_t kindLow, int32_t kindHigh, int32_t index);
// The item behind a link.
ZK_API int32_t S_SymbolItem(int32_t itemArray, int32_t link);
// Fills the record and returns the item's kind; 0 for no item.
ZK_API int32_t I_ReadItem(int32_t item, ZK_ItemRecord* record);

// ---- Components -----------------------------------------------------------------------------
// Create a component on the current hierarchy's schematic or layout; its number.
ZK_API int32_t C_CreateComponent(const char* name, int32_t device, int32_t symbol);
ZK_API int32_t L_CreateComponent(const char* name, int32_t device, int32_t symbol);
// The first component of the current hierarchy that uses the device or symbol, else 0.
ZK_API int32_t C_SearchDevice(int32_t device);
ZK_API int32_t L_SearchDevice(int32_t device);
ZK_API int32_t C_SearchSymbol(int32_t symbol);
ZK_API int32_t L_SearchSymbol(int32_t symbol);
// The component object (for O_GetName), else 0.
ZK_API int32_t C_Component(int32_t component);
ZK_API int32_t L_Component(int32_t component);

#ifdef __cplusplus
}
#endif
