#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "base/outcome.h"

namespace zrx {

enum class LibraryKind { Part, Symbol };

// The kind string a library of this kind records.
const char* KindString(LibraryKind kind);

// Library maintenance through the kernel, for the command line: listing, creating, and the JSON
// exchange form
//   {"kind": "ZarnixDLL00", "elements": [{"name": ..., "device": {...}} | {"name": ..., "symbol": {...}}]}
// Every routine reports a failure as a text for the user and leaves the library as it was.

// Opens the library for reading as either kind; the kind, or why not.
Result<LibraryKind> DetectLibraryKind(const std::string& path);
Outcome CreateLibrary(const std::string& path, LibraryKind kind);
Result<std::vector<std::string>> ListLibrary(const std::string& path);
// The whole library, or one element of it, as JSON text.
Result<std::string> ExportLibrary(const std::string& path);
Result<std::string> ExportElement(const std::string& path, const std::string& name);
// One element of a library the caller holds open (`library`, a handle of that kind), as
// ExportElement writes it.
Result<std::string> ElementJson(int32_t library, LibraryKind kind, const std::string& name);
// One element as a value with its texts byte for byte (they need not be UTF-8, so the value may not
// be written out as JSON text), for a merge whose result is saved again.
Result<nlohmann::ordered_json> ElementValue(int32_t library, LibraryKind kind, const std::string& name);
// Makes an element of that kind from such a value (its name aside) in the kernel's working
// database under `name`, ready for the kernel's save of its kind: its object's number, or why the
// value is no element.
Result<int32_t> ElementObject(LibraryKind kind, const std::string& name, const nlohmann::ordered_json& value);
// Adds or replaces the document's elements by name; creates the library when it is missing. The
// whole document is checked first: bad JSON (reported with its line and column), a wrong kind or a
// malformed element changes nothing.
Outcome ImportLibrary(const std::string& path, std::string_view json);

}  // namespace zrx
