// An element's fields by their paths, as a property: items of keyed lists are found by their key
// wherever they stand, so that reordering a list changes no field; one value changed is one field
// that differs, under its path; an item taken out is each of its fields, on the upgrade's side
// none. Elements merge three ways by the same keys, text files by lines; text files differ as a
// unified diff.
#include "preview/element_fields.h"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <functional>
#include <nlohmann/json.hpp>
#include <random>
#include <set>

#include "preview/element_merge.h"
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

// Sorted, so that two elements of the same fields in another order compare equal.
ElementFields Sorted(ElementFields fields) {
    std::sort(fields.begin(), fields.end());
    return fields;
}

// Each place an edit can go, and who edits it: nobody, the installation, the upgrade, both alike,
// both differently.
enum class Who { Nobody, Local, Upgrade, BothAlike, BothDiffer };

RC_GTEST_PROP(ElementMergeTest, EditsOfOneSideAreTakenAndConflictsAreWhereBothDiffer, ()) {
    const Json base = Device();
    Json local = base, upgrade = base, expected = base;
    bool conflict = false;
    // A value edited as its slot's owner says; what the merge should give is worked out beside it.
    const auto edit = [&](const std::function<Json&(Json&)>& at) {
        const Who who =
            *rc::gen::element(Who::Nobody, Who::Local, Who::Upgrade, Who::BothAlike, Who::BothDiffer);
        const std::string was = at(expected).get<std::string>();
        if (who == Who::Local || who == Who::BothAlike || who == Who::BothDiffer) at(local) = was + "+local";
        if (who == Who::Upgrade) at(upgrade) = was + "+upgrade";
        if (who == Who::BothAlike) at(upgrade) = was + "+local";
        if (who == Who::BothDiffer) at(upgrade) = was + "+upgrade", conflict = true;
        if (who != Who::Nobody && who != Who::BothDiffer)
            at(expected) = who == Who::Upgrade ? was + "+upgrade" : was + "+local";
    };
    edit([](Json& e) -> Json& { return e["device"]["text1"]; });
    edit([](Json& e) -> Json& { return e["device"]["text2"]; });
    for (size_t g = 0; g < base["device"]["groups"].size(); ++g) {
        edit([g](Json& e) -> Json& { return e["device"]["groups"][g]["text2"]; });
        for (size_t p = 0; p < base["device"]["groups"][g]["pins"].size(); ++p)
            edit([g, p](Json& e) -> Json& { return e["device"]["groups"][g]["pins"][p]["name"]; });
    }
    // A supply pin added here, another (of a number nobody uses) by the upgrade.
    if (*rc::gen::arbitrary<bool>()) {
        const Json pin = {{"number", 100}, {"name", "LOCAL"}};
        local["device"]["supply_pins"].push_back(pin);
        expected["device"]["supply_pins"].push_back(pin);
    }
    if (*rc::gen::arbitrary<bool>()) {
        const Json pin = {{"number", 101}, {"name", "UPGRADE"}};
        upgrade["device"]["supply_pins"].insert(upgrade["device"]["supply_pins"].begin(), pin);
        expected["device"]["supply_pins"].push_back(pin);
    }

    const auto merged = MergeElements(base.dump(), local.dump(), upgrade.dump());
    RC_ASSERT(static_cast<bool>(merged));
    RC_ASSERT(merged->conflicts.empty() == !conflict);
    const auto swapped = MergeElements(base.dump(), upgrade.dump(), local.dump());
    RC_ASSERT(std::set(merged->conflicts.begin(), merged->conflicts.end()) ==
              std::set(swapped->conflicts.begin(), swapped->conflicts.end()));
    if (conflict) return;
    RC_ASSERT(Sorted(*FieldsOfElement(merged->json)) == Sorted(Fields(expected)));
    RC_ASSERT(Sorted(*FieldsOfElement(swapped->json)) == Sorted(Fields(expected)));
    // One side as it was installed: the other side's element, whole.
    RC_ASSERT(Sorted(*FieldsOfElement(MergeElements(base.dump(), base.dump(), upgrade.dump())->json)) ==
              Sorted(Fields(upgrade)));
    RC_ASSERT(Sorted(*FieldsOfElement(MergeElements(base.dump(), local.dump(), base.dump())->json)) ==
              Sorted(Fields(local)));
}

TEST(ElementMergeTest, AnItemRemovedOnOneSideAndChangedOnTheOtherIsAConflict) {
    const std::string base = R"({"name":"E","device":{"groups":[{"name":"A","text2":"t","pins":[]}]}})";
    const std::string removed = R"({"name":"E","device":{"groups":[]}})";
    const std::string changed = R"({"name":"E","device":{"groups":[{"name":"A","text2":"u","pins":[]}]}})";
    EXPECT_EQ(MergeElements(base, removed, changed)->conflicts,
              std::vector<std::string>{"device.groups[name=A]"});
    EXPECT_TRUE(MergeElements(base, removed, base)->conflicts.empty());
    EXPECT_EQ(*FieldsOfElement(MergeElements(base, removed, base)->json), *FieldsOfElement(removed));
}

TEST(ElementMergeTest, AListIsKeyedByItsNameAfterTheLastDotAsItsFieldsAre) {
    const std::string base = R"({"a.pins":[{"number":1,"name":"A"},{"number":2,"name":"B"}]})";
    const std::string local = R"({"a.pins":[{"number":1,"name":"L"},{"number":2,"name":"B"}]})";
    const std::string upgrade = R"({"a.pins":[{"number":1,"name":"A"},{"number":2,"name":"U"}]})";
    const auto merged = MergeElements(base, local, upgrade);
    EXPECT_TRUE(merged->conflicts.empty());
    EXPECT_EQ(Json::parse(merged->json)["a.pins"],
              Json::parse(R"([{"number":1,"name":"L"},{"number":2,"name":"U"}])"));
}

TEST(TextMergeTest, LinesChangedOnOneSideMergeAndTheSameLineChangedTwiceConflicts) {
    const auto clean = MergeText("a\nb\nc\nd\ne\n", "A\nb\nc\nd\ne\n", "a\nb\nc\nd\nE\n");
    ASSERT_TRUE(clean);
    EXPECT_FALSE(clean->conflicted);
    EXPECT_EQ(clean->text, "A\nb\nc\nd\nE\n");
    const auto conflict = MergeText("a\n", "local\n", "upgrade\n");
    ASSERT_TRUE(conflict);
    EXPECT_TRUE(conflict->conflicted);
    EXPECT_NE(conflict->text.find("<<<<<<< installed"), std::string::npos);
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
