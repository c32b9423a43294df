#pragma once

#include <gtest/gtest.h>

#include <string>

#include "base/text_utils.h"
#include "kernel/library_exchange.h"
#include "kernel/zrxkernel.h"
#include "support/temp_dir.h"

namespace zrx::test {

// A fresh working database, an empty shared string store and a temporary folder for library
// files, whatever ran before in the same process.
class KernelTest : public ::testing::Test {
protected:
    void SetUp() override {
        E_SetString("IniFile", nullptr);
        char hierarchy[] = "MAINHIER";
        char page[] = "MAINPAGE";
        ASSERT_NE(DB_CreateDataBase("Untitled", hierarchy, page), 0);
    }
    void TearDown() override { E_FlushLibraries(); }

    // Writes a library from a JSON document through the exchange import.
    std::string MakeLibrary(const std::string& name, const std::string& json) {
        const std::string path = m_dir / name;
        const Outcome imported = ImportLibrary(path, json);
        EXPECT_TRUE(imported) << imported.Why();
        return path;
    }
    std::string MakePartLibrary(const std::string& name, const std::string& elements) {
        return MakeLibrary(name, R"({"kind":"ZarnixDLL00","elements":[)" + elements + "]}");
    }
    std::string MakeSymbolLibrary(const std::string& name, const std::string& elements) {
        return MakeLibrary(name, R"({"kind":"ZarnixSLL00","elements":[)" + elements + "]}");
    }
    static std::string Part(const std::string& name, const std::string& text1 = "T1") {
        return R"({"name":")" + name + R"(","device":{"text1":")" + text1 +
               R"(","text2":"TTL","supply_pins":[{"number":14,"name":"VCC"},{"number":7,"name":"GND"}],)"
               R"("groups":[{"name":"A","text2":"NAND2","pins":[{"number":1,"name":"A"},{"number":2,"name":"B"}]},)"
               R"({"name":"B","text2":"NAND2","pins":[{"number":4,"name":"A"}]}]}})";
    }
    static std::string Sym(const std::string& name, int cls, const std::string& text1 = "NPN,BJT",
                           const std::string& text2 = "general purpose") {
        return R"({"name":")" + name + R"(","symbol":{"class":)" + std::to_string(cls) +
               R"(,"items":[{"kind":2,"text":""},{"kind":6,"text":")" + text1 + R"("},{"kind":6,"text":")" + text2 +
               R"("}]}})";
    }
    static std::string Name(int32_t object) { return StringFromPointer(O_GetName(object)); }

    TempDir m_dir;
};

}  // namespace zrx::test
