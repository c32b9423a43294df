#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/outcome.h"

namespace zrx::preview {

// An element's fields, each by its path, in the order the element's JSON (as the library exchange
// writes it) holds them. A path names objects by their members and the items of a list by their
// key, never by their place in the list, so that an item inserted before another leaves the
// other's path as it was:
//   device.text1, device.text2
//   device.supply_pins[number=14].name               supply pins by their number
//   device.groups[name=G1].text2                     groups by their name
//   device.groups[name=G1].pins[number=3].name       a group's pins by their number
//   symbol.class
//   symbol.items[kind=6].text                        symbol items by their kind; the second item
//   symbol.items[kind=6#2].text                      of one kind by its count among them
// The key itself is part of the path, not a field. Two items of one key in a list (which no
// kernel writes, but a document may hold) are told apart by their count, as items of one kind are.
using ElementFields = std::vector<std::pair<std::string, std::string>>;

// The member that keys the items of the list at `path` (or of the list member named so), by the
// list's name after the last dot; nothing for a list keyed by its items' places. The fields and
// the merge of elements key lists by this one rule.
const char* ListKeyOf(std::string_view path);

// The fields of one element's JSON (ExportElement's text); a failure when it is no JSON object.
Result<ElementFields> FieldsOfElement(std::string_view json);
// The same of an element's value (the kernel's ElementValue, texts byte for byte): a text that is
// not UTF-8 is shown as the library exchange shows it.
ElementFields FieldsOfValue(const nlohmann::ordered_json& element);

// A field that differs between the installed element and the upgrade's: its value on each side,
// nothing on the side that lacks it.
struct FieldDifference {
    std::string path;
    std::optional<std::string> installed, upgrade;
    // What the last upgrade installed there, where that is known (`withBase`).
    bool withBase = false;
    std::optional<std::string> base;
};

// The fields whose values differ, the installed element's order first, then the fields only the
// upgrade's has, in its order.
std::vector<FieldDifference> DifferingFields(const ElementFields& installed, const ElementFields& upgrade);

// Fills in each difference's value in the base (the element the last upgrade installed).
void AddBaseValues(std::vector<FieldDifference>& differences, const ElementFields& base);

// One line of a difference: "path: installed -> upgrade", "(none)" for a side that lacks it and
// "" for an empty value, and where the base is known "  (last installed: base)"; characters that
// could drive a terminal are escaped.
std::string DifferenceLine(const FieldDifference& difference);

}  // namespace zrx::preview
