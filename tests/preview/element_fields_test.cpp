// An element's fields by their paths, as a property: items of keyed lists are found by their key
// wherever they stand, so that reordering a list changes no field; one value changed is one field
// that differs, under its path; an item taken out is each of its fields, on the upgrade's side
// none. Text files differ as a unified diff.
#include "preview/element_fields.h"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <random>
#include <set>

#include "preview/text_diff.h"

namespace zrx::preview {
namespace {

using Json = nlohmann::ordered_json;

std::string Word() {
    return *rc::gen::container<std::string>(rc::gen::elementOf(std::string("abcXY ,\"=[].")));
}

// Pins of distinct numbers.
Json Pins() {
    const auto numbers =
        *rc::gen::unique<std::vector<int>>(*rc::gen::inRange<size_t>(0, 8), rc::gen::inRange(1, 64));
    Json pins = Json::array();
    for (const int number : numbers) pins.push_back({{"number", number}, {"name", Word()}});
    return pins;
}

Json Device() {
    const auto names = *rc::gen::unique<std::vector<std::string>>(*rc::gen::inRange<size_t>(1, 5),
                                                                  rc::gen::nonEmpty(rc::gen::exec(Word)));
    Json groups = Json::array();
    for (const std::string& name : names)
        groups.push_back({{"name", name}, {"text2", Word()}, {"pins", Pins()}});
    return {{"name", "E"},
            {"device", {{"text1", Word()}, {"text2", Word()}, {"supply_pins", Pins()}, {"groups", groups}}}};
}

Json Symbol() {
    Json items = Json::array();
    for (int i = *rc::gen::inRange(0, 6); i > 0; --i)
        items.push_back({{"kind", *rc::gen::inRange(1, 4)}, {"text", Word()}});
    return {{"name", "E"}, {"symbol", {{"class", *rc::gen::inRange(0, 3)}, {"items", items}}}};
}

ElementFields Fields(const Json& element) {
    return *FieldsOfElement(element.dump());
}

// Every list of a device in another order.
Json Shuffled(Json element) {
    Json& device = element["device"];
    std::mt19937 random(*rc::gen::arbitrary<unsigned>());
    const auto shuffle = [&random](Json& list) {
        std::vector<Json> items(list.begin(), list.end());
        std::shuffle(items.begin(), items.end(), random);
        list = Json(items);
    };
    shuffle(device["supply_pins"]);
    for (Json& group : device["groups"]) shuffle(group["pins"]);
    shuffle(device["groups"]);
    return element;
}

RC_GTEST_PROP(ElementFieldsTest, ListsAreReadByTheirKeysAndOneChangeIsOneField, ()) {
    const Json device = Device();
    RC_ASSERT(DifferingFields(Fields(device), Fields(Shuffled(device))).empty());

    // One value changed, wherever it is: that field alone differs.
    const ElementFields fields = Fields(device);
    const auto at = *rc::gen::inRange<size_t>(0, fields.size());
    const std::string value = fields[at].second + "!";
    ElementFields edited = fields;
    edited[at].second = value;
    const auto differences = DifferingFields(fields, edited);
    RC_ASSERT(differences.size() == 1u);
    RC_ASSERT(differences[0].path == fields[at].first);
    RC_ASSERT(*differences[0].upgrade == value);

    // A group taken out: each of its fields, the upgrade's side none.
    Json without = device;
    Json& groups = without["device"]["groups"];
    const auto gone = *rc::gen::inRange<size_t>(0, groups.size());
    const std::string prefix = "device.groups[name=" + groups[gone]["name"].get<std::string>() + "]";
    groups.erase(gone);
    for (const FieldDifference& difference : DifferingFields(fields, Fields(without))) {
        RC_ASSERT(difference.path.starts_with(prefix + "."));
        RC_ASSERT(!difference.upgrade);
    }
}

RC_GTEST_PROP(ElementFieldsTest, SymbolItemsOfOneKindAreCountedAndEveryPathIsOnce, ()) {
    const ElementFields fields = Fields(Symbol());
    std::set<std::string> paths;
    for (const auto& [path, value] : fields) RC_ASSERT(paths.insert(path).second);
}

TEST(TextDiffTest, AChangedLineIsAHunkAndTheSameTextsNone) {
    EXPECT_EQ(UnifiedDiff("a\nb\nc\n", "a\nB\nc\n", "installed", "upgrade"),
              "--- installed\n+++ upgrade\n@@ -1,3 +1,3 @@\n a\n-b\n+B\n c\n");
    EXPECT_EQ(UnifiedDiff("same\n", "same\n", "installed", "upgrade"), "");
    EXPECT_EQ(UnifiedDiff("a", "b", "installed", "upgrade"),
              "--- installed\n+++ upgrade\n@@ -1 +1 @@\n-a\n\\ No newline at end of file\n+b\n\\ No newline "
              "at end of file\n");
    EXPECT_EQ(UnifiedDiff(std::string("a\0b", 3), "ab", "x", "y"), "Binary files x and y differ\n");
}

}  // namespace
}  // namespace zrx::preview
