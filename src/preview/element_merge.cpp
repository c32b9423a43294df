#include "preview/element_merge.h"

#include <git2.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "base/directory.h"
#include "history/installed_base.h"
#include "kernel/library_exchange.h"
#include "preview/element_fields.h"

namespace zrx::preview {

namespace {

using Json = nlohmann::ordered_json;

// A side of a merge at one place: the value there, or null where the field or item is not there.
// The merge reads the three sides where they are and copies only what it keeps.
using Side = const Json*;

bool Same(Side a, Side b) {
    return a == b || (a != nullptr && b != nullptr && *a == *b);
}

// A list's items by their keys ("number=3", a second item of one key "number=3#2"), in order.
std::vector<std::pair<std::string, Side>> Keyed(Side list, const char* key) {
    std::vector<std::pair<std::string, Side>> items;
    if (list == nullptr) return items;
    items.reserve(list->size());
    std::unordered_map<std::string, int> seen;
    for (const Json& item : *list) {
        const Json& keyed = item.is_object() && item.contains(key) ? item[key] : item;
        std::string name = keyed.is_string() ? keyed.get<std::string>() : keyed.dump();
        const int count = ++seen[name];
        if (count > 1) name += "#" + std::to_string(count);
        items.emplace_back(std::move(name), &item);
    }
    return items;
}

Side Find(const std::vector<std::pair<std::string, Side>>& items, const std::string& key) {
    for (const auto& [name, item] : items)
        if (name == key) return item;
    return nullptr;
}

Side MemberOf(Side side, const std::string& member) {
    if (side == nullptr) return nullptr;
    const auto it = side->find(member);
    return it == side->end() ? nullptr : &*it;
}

class Merger {
public:
    std::vector<std::string> conflicts;

    // The merge at the path so far (whose last member is `member`, empty for a list's item) into
    // `out`; false where it keeps nothing there (a field removed on one side and unchanged on the
    // other).
    bool Merge(Side base, Side local, Side upgrade, std::string_view member, Json& out) {
        Side kept = nullptr;
        if (Same(local, upgrade))
            kept = local;
        else if (Same(local, base))
            kept = upgrade;
        else if (Same(upgrade, base))
            kept = local;
        else if (local != nullptr && upgrade != nullptr && local->is_object() && upgrade->is_object() &&
                 (base == nullptr || base->is_object()))
            return Objects(base, *local, *upgrade, out);
        else if (const char* key = ListKeyOf(member);
                 key != nullptr && local != nullptr && upgrade != nullptr && local->is_array() &&
                 upgrade->is_array() && (base == nullptr || base->is_array()))
            return Lists(base, *local, *upgrade, key, out);
        else {
            conflicts.push_back(m_path);
            kept = local;
        }
        if (kept == nullptr) return false;
        out = *kept;
        return true;
    }

private:
    std::string m_path;  // where the merge is, as a conflict names it

    // Appends `step` to the path for the length of a call.
    template <typename F>
    bool At(std::string_view separator, std::string_view step, F&& merge) {
        const size_t length = m_path.size();
        if (length > 0) m_path += separator;
        m_path += step;
        const bool kept = merge();
        m_path.resize(length);
        return kept;
    }

    bool Objects(Side base, const Json& local, const Json& upgrade, Json& out) {
        std::vector<const std::string*> members;
        for (const Json* side : {&upgrade, &local, base})
            if (side != nullptr)
                for (const auto& [member, value] : side->items())
                    if (std::none_of(members.begin(), members.end(),
                                     [&](const std::string* seen) { return *seen == member; }))
                        members.push_back(&member);
        Json merged = Json::object();
        for (const std::string* member : members) {
            Json value;
            if (At(".", *member, [&] {
                    return Merge(MemberOf(base, *member), MemberOf(&local, *member),
                                 MemberOf(&upgrade, *member), *member, value);
                }))
                merged[*member] = std::move(value);
        }
        out = std::move(merged);
        return true;
    }

    bool Lists(Side base, const Json& local, const Json& upgrade, const char* key, Json& out) {
        const auto baseItems = Keyed(base, key), localItems = Keyed(&local, key),
                   upgradeItems = Keyed(&upgrade, key);
        // The upgrade's order, then what only the installed list holds, then what only the base
        // held (taken back out below unless a side still has it).
        std::vector<const std::string*> order;
        for (const auto* items : {&upgradeItems, &localItems, &baseItems})
            for (const auto& [name, item] : *items)
                if (std::none_of(order.begin(), order.end(),
                                 [&](const std::string* seen) { return *seen == name; }))
                    order.push_back(&name);
        Json merged = Json::array();
        for (const std::string* name : order) {
            Json item;
            if (At("", "[" + std::string(key) + "=" + *name + "]", [&] {
                    return Merge(Find(baseItems, *name), Find(localItems, *name), Find(upgradeItems, *name),
                                 {}, item);
                }))
                merged.push_back(std::move(item));
        }
        out = std::move(merged);
        return true;
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
    Json merged;
    if (!merger.Merge(&base, &local, &upgrade, {}, merged)) merged = Json::object();
    return {std::move(merged), std::move(merger.conflicts)};
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
