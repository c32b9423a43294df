#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zrx {

enum class LibraryKind { Part, Symbol };

// The kind string a library of this kind records.
const char* KindString(LibraryKind kind);

// Library maintenance through the kernel, for the command line: listing, creating, and the JSON
// exchange form
//   {"kind": "ZarnixDLL00", "elements": [{"name": ..., "device": {...}} | {"name": ..., "symbol": {...}}]}
// Every routine reports a failure as a text for the user and leaves the library as it was.

// Opens the library for reading as either kind; the kind, or nothing (with the reason).
std::optional<LibraryKind> DetectLibraryKind(const std::string& path, std::string& error);
bool CreateLibrary(const std::string& path, LibraryKind kind, std::string& error);
std::optional<std::vector<std::string>> ListLibrary(const std::string& path, std::string& error);
// The whole library, or one element of it, as JSON text.
std::optional<std::string> ExportLibrary(const std::string& path, std::string& error);
std::optional<std::string> ExportElement(const std::string& path, const std::string& name, std::string& error);
// Adds or replaces the document's elements by name; creates the library when it is missing. The
// whole document is checked first: bad JSON (reported with its line and column), a wrong kind or a
// malformed element changes nothing.
bool ImportLibrary(const std::string& path, std::string_view json, std::string& error);

}  // namespace zrx
