#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zrx::kernel {

struct Pin {
    int32_t number = 0;
    std::string name;
    bool operator==(const Pin&) const = default;
};

struct Group {
    std::string name;
    std::string text2;
    std::vector<Pin> pins;
    bool operator==(const Group&) const = default;
};

struct Device {
    std::string text1;
    std::string text2;
    std::vector<Pin> supplyPins;
    std::vector<Group> groups;
    bool operator==(const Device&) const = default;
};

struct Item {
    int32_t kind = 0;
    std::string text;
    bool operator==(const Item&) const = default;
};

struct Symbol {
    int32_t symbolClass = 1;
    std::vector<Item> items;
    bool operator==(const Symbol&) const = default;
};

// The stored form of an element: a tag byte, a format byte, the fields (32-bit little-endian
// numbers, texts as length and bytes) and a CRC-32 of everything before it, so that a changed
// byte inside an element is found when it is read.
std::string EncodeDevice(const Device& device);
std::string EncodeSymbol(const Symbol& symbol);
std::optional<Device> DecodeDevice(std::string_view data);
std::optional<Symbol> DecodeSymbol(std::string_view data);

uint32_t Crc32(std::string_view data);
// Whether a stored element is whole (its kind byte, format and CRC), without decoding it.
bool StoredIntact(std::string_view data, bool device);

}  // namespace zrx::kernel
