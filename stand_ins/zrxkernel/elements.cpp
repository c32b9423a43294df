#include "elements.h"

#include <zlib.h>

#include <algorithm>
#include <array>

namespace zrx::kernel {

namespace {

constexpr char kDeviceTag = 'D';
constexpr char kSymbolTag = 'S';
constexpr char kFormat = 1;
// No element holds more than this many pins, groups or items, nor texts longer than this; a
// stored count beyond it is damage.
constexpr uint32_t kMaxCount = 1u << 20;

class Writer {
public:
    explicit Writer(char tag) { m_out += tag, m_out += kFormat; }
    void Int(int32_t v) {
        const auto u = static_cast<uint32_t>(v);
        for (int shift = 0; shift < 32; shift += 8) m_out += static_cast<char>((u >> shift) & 0xFF);
    }
    void Text(std::string_view text) {
        Int(static_cast<int32_t>(text.size()));
        m_out.append(text);
    }
    std::string Finish() {
        Int(static_cast<int32_t>(Crc32(m_out)));
        return std::move(m_out);
    }

private:
    std::string m_out;
};

class Reader {
public:
    Reader(std::string_view data, char tag) {
        if (data.size() < 6 || data[0] != tag || data[1] != kFormat) return;
        const std::string_view body = data.substr(0, data.size() - 4);
        m_data = data.substr(2, data.size() - 6);
        Reader crcReader(data.substr(data.size() - 4));
        int32_t stored = 0;
        if (!crcReader.Int(stored) || static_cast<uint32_t>(stored) != Crc32(body)) return;
        m_ok = true;
    }
    bool Ok() const { return m_ok; }
    bool Int(int32_t& v) {
        if (m_data.size() < 4) return Fail();
        uint32_t u = 0;
        for (int i = 0; i < 4; ++i) u |= static_cast<uint32_t>(static_cast<unsigned char>(m_data[i])) << (8 * i);
        v = static_cast<int32_t>(u);
        m_data.remove_prefix(4);
        return true;
    }
    bool Count(uint32_t& count) {
        int32_t v = 0;
        if (!Int(v) || v < 0 || static_cast<uint32_t>(v) > kMaxCount) return Fail();
        count = static_cast<uint32_t>(v);
        return true;
    }
    bool Text(std::string& text) {
        uint32_t length = 0;
        if (!Count(length) || m_data.size() < length) return Fail();
        text.assign(m_data.substr(0, length));
        m_data.remove_prefix(length);
        return true;
    }
    bool AtEnd() const { return m_ok && m_data.empty(); }

private:
    explicit Reader(std::string_view raw) : m_data(raw), m_ok(true) {}
    bool Fail() {
        m_ok = false;
        return false;
    }
    std::string_view m_data;
    bool m_ok = false;
};

void WritePins(Writer& w, const std::vector<Pin>& pins) {
    w.Int(static_cast<int32_t>(pins.size()));
    for (const Pin& pin : pins) {
        w.Int(pin.number);
        w.Text(pin.name);
    }
}

bool ReadPins(Reader& r, std::vector<Pin>& pins) {
    uint32_t count = 0;
    if (!r.Count(count)) return false;
    pins.resize(count);
    for (Pin& pin : pins)
        if (!r.Int(pin.number) || !r.Text(pin.name)) return false;
    return true;
}

}  // namespace

bool StoredIntact(std::string_view data, bool device) { return Reader(data, device ? kDeviceTag : kSymbolTag).Ok(); }

// The CRC-32 of zlib (the polynomial of ZIP and PNG), which zlib works out several bytes at a time.
uint32_t Crc32(std::string_view data) {
    uLong crc = crc32(0L, Z_NULL, 0);
    while (!data.empty()) {
        const uInt chunk = static_cast<uInt>(std::min<size_t>(data.size(), 1u << 30));
        crc = crc32(crc, reinterpret_cast<const Bytef*>(data.data()), chunk);
        data.remove_prefix(chunk);
    }
    return static_cast<uint32_t>(crc);
}

std::string EncodeDevice(const Device& device) {
    Writer w(kDeviceTag);
    w.Text(device.text1);
    w.Text(device.text2);
    WritePins(w, device.supplyPins);
    w.Int(static_cast<int32_t>(device.groups.size()));
    for (const Group& group : device.groups) {
        w.Text(group.name);
        w.Text(group.text2);
        WritePins(w, group.pins);
    }
    return w.Finish();
}

std::string EncodeSymbol(const Symbol& symbol) {
    Writer w(kSymbolTag);
    w.Int(symbol.symbolClass);
    w.Int(static_cast<int32_t>(symbol.items.size()));
    for (const Item& item : symbol.items) {
        w.Int(item.kind);
        w.Text(item.text);
    }
    return w.Finish();
}

std::optional<Device> DecodeDevice(std::string_view data) {
    Reader r(data, kDeviceTag);
    Device device;
    uint32_t groups = 0;
    if (!r.Ok() || !r.Text(device.text1) || !r.Text(device.text2) || !ReadPins(r, device.supplyPins) ||
        !r.Count(groups))
        return std::nullopt;
    device.groups.resize(groups);
    for (Group& group : device.groups)
        if (!r.Text(group.name) || !r.Text(group.text2) || !ReadPins(r, group.pins)) return std::nullopt;
    if (!r.AtEnd()) return std::nullopt;
    return device;
}

std::optional<Symbol> DecodeSymbol(std::string_view data) {
    Reader r(data, kSymbolTag);
    Symbol symbol;
    uint32_t items = 0;
    if (!r.Ok() || !r.Int(symbol.symbolClass) || !r.Count(items)) return std::nullopt;
    symbol.items.resize(items);
    for (Item& item : symbol.items)
        if (!r.Int(item.kind) || !r.Text(item.text)) return std::nullopt;
    if (!r.AtEnd()) return std::nullopt;
    return symbol;
}

}  // namespace zrx::kernel
