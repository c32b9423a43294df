#include "preview/element_fields.h"

#include <nlohmann/json.hpp>

#include <map>
#include <unordered_map>

#include "base/text_utils.h"

namespace zrx::preview {

namespace {

using Json = nlohmann::ordered_json;

std::string ScalarText(const Json& value) {
    if (value.is_string()) return ToDisplayUtf8(value.get_ref<const std::string&>());
    if (value.is_null()) return "null";
    return value.dump();
}

// An element's fields, path by path: the path is one buffer, grown by a member or an item and
// cut back after it, so that only the fields themselves are new strings.
class Flattener {
public:
    explicit Flattener(ElementFields& fields) : m_fields(fields) {}

    // The fields of `value`, at the path so far.
    void Value(const Json& value) {
        if (value.is_object()) {
            for (const auto& [member, inner] : value.items()) Member(member, inner);
        } else if (value.is_array()) {
            List(value, ListKeyOf(m_path));
        } else {
            m_fields.emplace_back(m_path, ScalarText(value));
        }
    }

private:
    void Member(const std::string& member, const Json& inner) {
        const size_t length = m_path.size();
        if (length > 0) m_path += '.';
        m_path += member;
        Value(inner);
        m_path.resize(length);
    }

    void List(const Json& list, const char* key) {
        std::unordered_map<std::string, int> seen;
        const size_t length = m_path.size();
        for (size_t i = 0; i < list.size(); ++i) {
            const Json& item = list[i];
            std::string itemKey = key != nullptr && item.is_object() && item.contains(key)
                                      ? std::string(key) + "=" + ScalarText(item[key])
                                      : std::to_string(i);
            const int count = ++seen[itemKey];
            if (count > 1) itemKey += "#" + std::to_string(count);
            m_path += '[';
            m_path += itemKey;
            m_path += ']';
            if (!item.is_object()) {
                m_fields.emplace_back(m_path, ScalarText(item));
            } else {
                for (const auto& [member, inner] : item.items())
                    if (key == nullptr || member != key) Member(member, inner);
            }
            m_path.resize(length);
        }
    }

    ElementFields& m_fields;
    std::string m_path;
};

}  // namespace

const char* ListKeyOf(std::string_view path) {
    const std::string_view list = path.substr(path.rfind('.') + 1);
    if (list == "supply_pins" || list == "pins") return "number";
    if (list == "groups") return "name";
    if (list == "items") return "kind";
    return nullptr;
}

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
    Flattener(fields).Value(element);
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
