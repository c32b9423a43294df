#include "preview/element_merge.h"

#include <git2.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
#include <optional>
#include <unordered_map>

#include "base/directory.h"
#include "history/installed_base.h"
#include "kernel/library_exchange.h"

namespace zrx::preview {

namespace {

using Json = nlohmann::ordered_json;
using Side = std::optional<Json>;  // nothing: the field or item is not there

// The member that keys a list's items, as ElementFields reads them.
const char* KeyOf(const std::string& list) {
    if (list == "supply_pins" || list == "pins") return "number";
    if (list == "groups") return "name";
    if (list == "items") return "kind";
    return nullptr;
}

// A list's items by their keys ("number=3", a second item of one key "number=3#2"), in order.
std::vector<std::pair<std::string, Json>> Keyed(const Json& list, const char* key) {
    std::vector<std::pair<std::string, Json>> items;
    std::unordered_map<std::string, int> seen;
    for (const Json& item : list) {
        const Json& keyed = item.is_object() && item.contains(key) ? item[key] : item;
        std::string name = keyed.is_string() ? keyed.get<std::string>() : keyed.dump();
        const int count = ++seen[name];
        if (count > 1) name += "#" + std::to_string(count);
        items.emplace_back(std::move(name), item);
    }
    return items;
}

Side Find(const std::vector<std::pair<std::string, Json>>& items, const std::string& key) {
    for (const auto& [name, item] : items)
        if (name == key) return item;
    return std::nullopt;
}

class Merger {
public:
    std::vector<std::string> conflicts;

    Side Merge(const Side& base, const Side& local, const Side& upgrade, const std::string& path) {
        if (local == upgrade) return local;
        if (local == base) return upgrade;
        if (upgrade == base) return local;
        if (local && upgrade && local->is_object() && upgrade->is_object() && (!base || base->is_object()))
            return Objects(base, *local, *upgrade, path);
        if (local && upgrade && local->is_array() && upgrade->is_array() && (!base || base->is_array()))
            if (const char* key = KeyOf(LastMember(path))) return Lists(base, *local, *upgrade, path, key);
        conflicts.push_back(path);
        return local;
    }

private:
    static std::string LastMember(const std::string& path) {
        const size_t dot = path.rfind('.');
        return dot == std::string::npos ? path : path.substr(dot + 1);
    }

    Json Objects(const Side& base, const Json& local, const Json& upgrade, const std::string& path) {
        std::vector<std::string> members;
        for (const Json* side : {&upgrade, &local, base ? &*base : nullptr})
            if (side != nullptr)
                for (const auto& [member, value] : side->items())
                    if (std::find(members.begin(), members.end(), member) == members.end())
                        members.push_back(member);
        Json merged = Json::object();
        const auto at = [](const Side& side, const std::string& member) -> Side {
            if (!side || !side->contains(member)) return std::nullopt;
            return (*side)[member];
        };
        for (const std::string& member : members)
            if (Side value =
                    Merge(at(base, member), local.contains(member) ? Side(local[member]) : std::nullopt,
                          upgrade.contains(member) ? Side(upgrade[member]) : std::nullopt,
                          path.empty() ? member : path + "." + member))
                merged[member] = std::move(*value);
        return merged;
    }

    Json Lists(const Side& base, const Json& local, const Json& upgrade, const std::string& path,
               const char* key) {
        const auto baseItems = base ? Keyed(*base, key) : std::vector<std::pair<std::string, Json>>{};
        const auto localItems = Keyed(local, key), upgradeItems = Keyed(upgrade, key);
        // The upgrade's order, then what only the installed list holds, then what only the base
        // held (taken back out below unless a side still has it).
        std::vector<std::string> order;
        for (const auto* items : {&upgradeItems, &localItems, &baseItems})
            for (const auto& [name, item] : *items)
                if (std::find(order.begin(), order.end(), name) == order.end()) order.push_back(name);
        Json merged = Json::array();
        for (const std::string& name : order)
            if (Side item = Merge(Find(baseItems, name), Find(localItems, name), Find(upgradeItems, name),
                                  path + "[" + std::string(key) + "=" + name + "]"))
                merged.push_back(std::move(*item));
        return merged;
    }
};

// libgit2 is started once for the program's life.
struct GitLibrary {
    GitLibrary() { git_libgit2_init(); }
    ~GitLibrary() { git_libgit2_shutdown(); }
};

}  // namespace

Result<ElementMerge> MergeElements(std::string_view base, std::string_view local, std::string_view upgrade) {
    Json sides[3];
    const std::string_view texts[3] = {base, local, upgrade};
    for (int i = 0; i < 3; ++i) {
        try {
            sides[i] = Json::parse(texts[i]);
        } catch (const Json::exception& e) {
            return Failure{std::string("not an element: ") + e.what()};
        }
    }
    ElementValueMerge merged = MergeElementValues(sides[0], sides[1], sides[2]);
    return ElementMerge{merged.element.dump(2) + "\n", std::move(merged.conflicts)};
}

ElementValueMerge MergeElementValues(const Json& base, const Json& local, const Json& upgrade) {
    Merger merger;
    const Side merged = merger.Merge(base, local, upgrade, {});
    return {merged.value_or(Json::object()), std::move(merger.conflicts)};
}

Result<TextMerge> MergeText(std::string_view base, std::string_view local, std::string_view upgrade) {
    static GitLibrary library;
    git_merge_file_input inputs[3];
    const std::string_view texts[3] = {base, local, upgrade};
    for (int i = 0; i < 3; ++i) {
        git_merge_file_input_init(&inputs[i], GIT_MERGE_FILE_INPUT_VERSION);
        inputs[i].ptr = texts[i].data();
        inputs[i].size = texts[i].size();
    }
    git_merge_file_options options = GIT_MERGE_FILE_OPTIONS_INIT;
    options.ancestor_label = "last installed";
    options.our_label = "installed";
    options.their_label = "upgrade";
    git_merge_file_result result{};
    if (git_merge_file(&result, &inputs[0], &inputs[1], &inputs[2], &options) != 0) {
        const git_error* error = git_error_last();
        return Failure{std::string("the files cannot be merged: ") +
                       (error ? error->message : "unknown error")};
    }
    TextMerge merged{std::string(result.ptr, result.len), result.automergeable == 0};
    git_merge_file_result_free(&result);
    return merged;
}

const char* const kBaseLost =
    "edited here, and what the last upgrade installed there is not kept whole any more to merge with";

// The most of a data file a merge reads: text files, which are far smaller.
constexpr size_t kMostMergedBytes = 64 * 1024 * 1024;

std::string BaseLost(const history::InstalledBases& bases) {
    const std::string& problem = bases.StoreProblem();
    return problem.empty() ? std::string(kBaseLost) : std::string(kBaseLost) + " (" + problem + ")";
}

MergeStep StepOf(const std::string& base, const std::string& installed, const std::string& offered) {
    if (installed.empty() || installed == base || offered == installed) return MergeStep::None;
    return offered == base ? MergeStep::Keep : MergeStep::Merge;
}

std::string ConflictReason(const std::vector<std::string>& fields) {
    if (fields.empty()) return "edited here, and the upgrade changes the same lines differently";
    std::string text = "edited here, and the upgrade changes the same fields differently: ";
    for (size_t i = 0; i < fields.size(); ++i) text += (i > 0 ? ", " : "") + fields[i];
    return text;
}

Result<ElementValueMerge> MergeElementWithBase(history::InstalledBases& bases, const std::string& base,
                                               bool part, int32_t installed, const std::string& installedName,
                                               int32_t upgrade, const std::string& upgradeName) {
    const LibraryKind kind = part ? LibraryKind::Part : LibraryKind::Symbol;
    const int32_t kept = bases.Element(part, base);
    if (kept == 0) return Failure{BaseLost(bases)};
    auto baseValue = ElementValue(kept, kind, base);
    if (!baseValue) return Failure{BaseLost(bases)};
    auto local = ElementValue(installed, kind, installedName);
    if (!local) return Failure{"the installed element cannot be read: " + local.Why()};
    auto offered = ElementValue(upgrade, kind, upgradeName);
    if (!offered) return Failure{"the upgrade's element cannot be read: " + offered.Why()};
    return MergeLoadedElements(std::move(*baseValue), std::move(*local), std::move(*offered));
}

ElementValueMerge MergeLoadedElements(Json base, Json local, Json upgrade) {
    // Kept under its digest, the base's name is none of the element's: the name is no field here.
    for (Json* value : {&base, &local, &upgrade}) value->erase("name");
    return MergeElementValues(base, local, upgrade);
}

Result<TextMerge> MergeFileWithBase(history::InstalledBases& bases, const std::string& base, int installed,
                                    int upgrade) {
    const auto kept = bases.File(base, kMostMergedBytes);
    if (!kept) return Failure{BaseLost(bases)};
    if (::lseek(installed, 0, SEEK_SET) != 0 || ::lseek(upgrade, 0, SEEK_SET) != 0)
        return Failure{"edited here, and the files cannot be read to be merged"};
    const auto local = ReadDescriptor(installed, "the installed file", kMostMergedBytes);
    const auto offered = ReadDescriptor(upgrade, "the upgrade's file", kMostMergedBytes);
    if (!local || !offered)
        return Failure{"edited here, and it cannot be read to be merged: " +
                       (local ? offered.Why() : local.Why())};
    for (const std::string_view side :
         {std::string_view(*kept), std::string_view(*local), std::string_view(*offered)})
        if (side.find('\0') != std::string_view::npos)
            return Failure{"edited here, and it is no text file, which is not merged"};
    return MergeText(*kept, *local, *offered);
}

}  // namespace zrx::preview
