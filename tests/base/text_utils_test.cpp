#include "base/text_utils.h"

#include "base/text_keyed_set.h"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace zrx {
namespace {

// A line of a table or a message shows any name without being broken or steered by it: no control
// byte, no C1 control and no mark that reorders the text survives, and a name with none of them
// (nor a backslash, which an escape begins with) is shown as it is.
RC_GTEST_PROP(EscapeControlsProperty, NothingThatDrivesTheTerminalOrReordersTheLineSurvives, ()) {
    const auto piece = rc::gen::weightedElement<std::string>({{20, "a"},
                                                              {6, "\xc3\xa9"},          // é
                                                              {3, "\xe2\x80\xae"},      // U+202E
                                                              {2, "\xe2\x81\xa6"},      // U+2066
                                                              {2, "\xd8\x9c"},          // U+061C
                                                              {3, "\xc2\x9b"},          // U+009B, a C1 control
                                                              {3, "\x1b"},              // ESC
                                                              {2, "\n"},
                                                              {2, "\x7f"},
                                                              {2, "\xe9"},              // Latin-1, no UTF-8
                                                              {1, "\xe2\x80"},          // cut short
                                                              {1, "\xf0\x9f\x98\x80"}});  // U+1F600
    std::string text;
    for (const std::string& p : *rc::gen::container<std::vector<std::string>>(piece)) text += p;
    const std::string shown = EscapeControls(text);
    for (const char c : shown) RC_ASSERT(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f);
    RC_ASSERT(!HasReorderingMark(shown));
    RC_ASSERT(shown.find("\xc2\x9b") == std::string::npos);
    const bool plain = text.find_first_of("\x1b\n\x7f") == std::string::npos && !HasReorderingMark(text) &&
                       text.find("\xc2\x9b") == std::string::npos;
    if (plain) RC_ASSERT(shown == text);
}

// The set of texts by number finds each text's first member, whether members came one at a time
// (growing the set) or many at once, and only texts that are members.
RC_GTEST_PROP(TextKeyedSetProperty, FindsTheFirstMemberOfEachTextAndNoOther, ()) {
    const auto word = rc::gen::container<std::string>(rc::gen::elementOf(std::string("ab")));
    const auto texts = *rc::gen::container<std::vector<std::string>>(word);
    const auto batch = *rc::gen::inRange<size_t>(0, texts.size() + 1);
    const auto keyOf = [&texts](uint32_t id) { return std::string_view(texts[id]); };
    TextKeyedSet set;
    set.Clear(*rc::gen::inRange<size_t>(0, 4));
    std::vector<uint32_t> many(batch);
    for (uint32_t id = 0; id < batch; ++id) many[id] = id;
    set.InsertAll(many, keyOf);
    std::map<std::string, uint32_t> first;
    for (uint32_t id = 0; id < texts.size(); ++id) {
        first.try_emplace(texts[id], id);
        if (id >= batch) RC_ASSERT(set.FindOrAdd(texts[id], keyOf, [id] { return id; }) == first[texts[id]]);
    }
    for (const auto& [text, id] : first) RC_ASSERT(set.Find(text, keyOf) == id);
    RC_ASSERT(set.Find("c", keyOf) == TextKeyedSet::kNone);
}

}  // namespace
}  // namespace zrx
