#include "upgrade_list/loaded_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zrx {
namespace {

// Texts of every size, a block's worth and more among them, read back whole and where they were
// put, however many came after them.
TEST(TextArenaTest, TextsStayWholeAndInPlaceAsTheArenaGrows) {
    TextArena arena;
    std::vector<std::string> texts;
    for (const size_t size : {size_t{10}, size_t{1} << 18, size_t{3}, (size_t{1} << 18) - 5, size_t{7},
                              (size_t{1} << 19) + 3, size_t{0}, size_t{100}})
        texts.push_back(std::string(size, static_cast<char>('a' + texts.size())));
    for (int i = 0; i < 20000; ++i) texts.push_back("name" + std::to_string(i));
    std::vector<uint32_t> positions;
    std::vector<const char*> where;
    for (const std::string& text : texts) {
        const auto position = arena.Add(text);
        ASSERT_TRUE(position.has_value());
        positions.push_back(*position);
        where.push_back(arena.At(*position, static_cast<uint32_t>(text.size())).data());
    }
    for (size_t i = 0; i < texts.size(); ++i) {
        const std::string_view text = arena.At(positions[i], static_cast<uint32_t>(texts[i].size()));
        ASSERT_EQ(text, texts[i]) << i;
        if (!texts[i].empty()) {
            EXPECT_EQ(text.data(), where[i]) << i;
        }
    }
}

TEST(LoadedListTest, RecordsKeepTheirNamesAndRepeatedTextsAreKeptOnce) {
    LoadedList list;
    for (int i = 0; i < 3000; ++i) {
        LoadedList::Record* record = list.Add(i % 2 ? kPartRecord : kSymbolRecord, "E" + std::to_string(i));
        ASSERT_NE(record, nullptr);
        record->targetLib = list.Text(i % 3 ? "Logic.PART" : "Other.PART");
        record->extra = list.Text(i % 5 ? "A_Upg.SYMBOL" : "I_Upg.SYMBOL");
    }
    EXPECT_EQ(list.Count(kPartRecord), 1500u);
    EXPECT_EQ(list.Count(kSymbolRecord), 1500u);
    EXPECT_EQ(list.At(kPartRecord, 0).Name, "E1");
    EXPECT_EQ(list.At(kSymbolRecord, 1499).Name, "E2998");
    EXPECT_EQ(list.At(kSymbolRecord, 1499).UpgSymbolLib, "A_Upg.SYMBOL");
    EXPECT_EQ(list.At(kSymbolRecord, 0).TargetLib, "Other.PART");
    EXPECT_EQ(list.Text("Logic.PART"), list.Records(kPartRecord)[0].targetLib);
    EXPECT_EQ(list.Text("I_Upg.SYMBOL"), list.Records(kSymbolRecord)[0].extra);
    EXPECT_EQ(list.Text(""), 0u);
}

}  // namespace
}  // namespace zrx
