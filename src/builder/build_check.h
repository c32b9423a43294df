#pragma once

#include <string>
#include <vector>

#include "builder/builder_tables.h"

namespace zrx {

class Directory;
struct Environment;

// Reads a built upgrade folder back with the update run's own reader and compares what it offers
// with what was chosen: every chosen element and loose file named in Upgrade.lst with its kind,
// target library, upgrade library, target directory, description and subdirectory as chosen, and
// (unless only the list was made) every element in its upgrade library with its source's stored
// content and every loose file with its source's bytes. Returns each difference as a sentence
// that names the element or file; none when the folder is what was chosen.
// The folder is read through `destination`, the handle the build wrote through (`folder` names it).
std::vector<std::string> CheckBuiltUpgrade(const BuilderTables& tables, const Environment& env,
                                           const Directory& destination, const std::string& folder,
                                           bool listOnly);

}  // namespace zrx
