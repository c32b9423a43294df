#include "preview/element_fields.h"

#include <nlohmann/json.hpp>

#include <map>
#include <unordered_map>

#include "base/text_utils.h"

namespace zrx::preview {

namespace {

using Json = nlohmann::ordered_json;

// The member that keys the items of a list, by the list's name; a list not named here is keyed by
// its items' places.
const char* KeyOf(const std::string& list) {
    if (list == "supply_pins" || list == "pins") return "number";
    if (list == "groups") return "name";
    if (list == "items") return "kind";
    return nullptr;
}

std::string ScalarText(const Json& value) {
    if (value.is_string()) return ToDisplayUtf8(value.get_ref<const std::string&>());
    if (value.is_null()) return "null";
    return value.dump();
}

void Flatten(const Json& value, const std::string& path, ElementFields& fields);

void FlattenList(const Json& list, const std::string& path, const std::string& name, ElementFields& fields) {
    const char* key = KeyOf(name);
    std::unordered_map<std::string, int> seen;
    for (size_t i = 0; i < list.size(); ++i) {
        const Json& item = list[i];
        std::string itemKey = key != nullptr && item.is_object() && item.contains(key)
                                  ? std::string(key) + "=" + ScalarText(item[key])
                                  : std::to_string(i);
        const int count = ++seen[itemKey];
        if (count > 1) itemKey += "#" + std::to_string(count);
        const std::string itemPath = path + "[" + itemKey + "]";
        if (!item.is_object()) {
            fields.emplace_back(itemPath, ScalarText(item));
            continue;
        }
        for (const auto& [member, inner] : item.items())
            if (key == nullptr || member != key) Flatten(inner, itemPath + "." + member, fields);
    }
}

void Flatten(const Json& value, const std::string& path, ElementFields& fields) {
    if (value.is_object()) {
        for (const auto& [member, inner] : value.items())
            Flatten(inner, path.empty() ? member : path + "." + member, fields);
    } else if (value.is_array()) {
        const size_t dot = path.rfind('.');
        FlattenList(value, path, dot == std::string::npos ? path : path.substr(dot + 1), fields);
    } else {
        fields.emplace_back(path, ScalarText(value));
    }
}

}  // namespace

Result<ElementFields> FieldsOfElement(std::string_view json) {
    Json element;
    try {
        element = Json::parse(json);
    } catch (const Json::exception& e) {
        return Failure{std::string("not an element: ") + e.what()};
    }
    if (!element.is_object()) return Failure{"not an element: no JSON object"};
    return FieldsOfValue(element);
}

ElementFields FieldsOfValue(const Json& element) {
    ElementFields fields;
    Flatten(element, {}, fields);
    return fields;
}

std::vector<FieldDifference> DifferingFields(const ElementFields& installed, const ElementFields& upgrade) {
    std::unordered_map<std::string_view, const std::string*> theirs;
    theirs.reserve(upgrade.size());
    for (const auto& [path, value] : upgrade) theirs.emplace(path, &value);
    std::vector<FieldDifference> differences;
    std::unordered_map<std::string_view, bool> mine;
    mine.reserve(installed.size());
    for (const auto& [path, value] : installed) {
        mine.emplace(path, true);
        const auto it = theirs.find(path);
        if (it == theirs.end())
            differences.push_back({path, value, std::nullopt});
        else if (*it->second != value)
            differences.push_back({path, value, *it->second});
    }
    for (const auto& [path, value] : upgrade)
        if (!mine.contains(path)) differences.push_back({path, std::nullopt, value});
    return differences;
}

std::string DifferenceLine(const FieldDifference& difference) {
    const auto side = [](const std::optional<std::string>& value) {
        if (!value) return std::string("(none)");
        return value->empty() ? std::string("\"\"") : EscapeControls(*value);
    };
    return EscapeControls(difference.path) + ": " + side(difference.installed) + " -> " +
           side(difference.upgrade) +
           (difference.withBase ? "  (last installed: " + side(difference.base) + ")" : "");
}

void AddBaseValues(std::vector<FieldDifference>& differences, const ElementFields& base) {
    std::unordered_map<std::string_view, const std::string*> values;
    for (const auto& [path, value] : base) values.emplace(path, &value);
    for (FieldDifference& difference : differences) {
        difference.withBase = true;
        const auto it = values.find(difference.path);
        difference.base = it == values.end() ? std::nullopt : std::optional<std::string>(*it->second);
    }
}

}  // namespace zrx::preview
