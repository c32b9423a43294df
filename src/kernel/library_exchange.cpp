#include "kernel/library_exchange.h"

#include <unistd.h>

#include <algorithm>
#include <limits>
#include <nlohmann/json.hpp>

#include "base/paths.h"
#include "base/text_utils.h"
#include "kernel/zrxkernel.h"

namespace zrx {

namespace {

using Json = nlohmann::ordered_json;

// The kernel loads elements into the working database; the command line has no window that made
// one, so it is created on first use.
void EnsureWorkingDatabase() {
    if (DB_CurHier() != 0) return;
    char hierarchy[] = "MAINHIER";
    char page[] = "MAINPAGE";
    DB_CreateDataBase("Untitled", hierarchy, page);
}

// An open library that, once closed, leaves no lock behind: the exchange runs as one command.
class OpenLibrary {
public:
    OpenLibrary(const std::string& path, LibraryKind kind, bool write)
        // file-access: a library the user names on the command line, opened once (a link refused)
        : m_handle(E_OpenLibrary(path.c_str(), KindString(kind), write ? -1 : 0)) {}
    ~OpenLibrary() {
        if (m_handle > 0) {
            E_CloseLibrary(m_handle);
            E_FlushLibraries();
        }
    }
    OpenLibrary(const OpenLibrary&) = delete;
    OpenLibrary& operator=(const OpenLibrary&) = delete;
    int32_t Handle() const { return m_handle; }
    explicit operator bool() const { return m_handle > 0; }

private:
    int32_t m_handle;
};

std::string OpenFailure(const std::string& path) {
    return path + ": " + StringFromPointer(E_LastError());
}

// How an element's texts are carried: as UTF-8 for a document (a text in another encoding shown
// as Windows-1252), or byte for byte for a value that is saved again (a merge).
enum class Texts { Display, Exact };

std::string TextFrom(const char* text, Texts texts) {
    return texts == Texts::Display ? ToDisplayUtf8(StringFromPointer(text)) : StringFromPointer(text);
}

Json PinsToJson(int32_t pinArray, int32_t count, Texts texts) {
    Json pins = Json::array();
    pins.get_ref<Json::array_t&>().reserve(static_cast<size_t>(std::max(count, 0)));
    for (int32_t i = 1; i <= count; ++i) {
        ZK_PinRecord pin{};
        if (D_ReadPin(pinArray, i, &pin) <= 0) break;
        Json& item = pins.emplace_back(Json::value_t::object);
        item["number"] = pin.number;
        item["name"] = TextFrom(pin.name, texts);
    }
    return pins;
}

std::optional<Json> ElementToJson(int32_t library, LibraryKind kind, const std::string& name,
                                  Texts texts = Texts::Display) {
    const int32_t cursor = E_OpenLibToRead(library, name.c_str());
    if (cursor <= 0) return std::nullopt;
    // Built member by member: an initializer list builds each member as an array first, then copies
    // it, which was most of a merge's time.
    Json element(Json::value_t::object);
    element["name"] = TextFrom(name.c_str(), texts);
    if (kind == LibraryKind::Part) {
        const int32_t device = D_LoadDevice(ZK_SLOT_PART, cursor);
        ZK_DeviceRecord record{};
        if (device == 0 || D_ReadDevice(device, &record) <= 0) return std::nullopt;
        Json groups = Json::array();
        groups.get_ref<Json::array_t&>().reserve(static_cast<size_t>(std::max(record.groupCount, 0)));
        for (int32_t g = 1; g <= record.groupCount; ++g) {
            ZK_GroupRecord group{};
            if (D_ReadGroup(device, g, &group) <= 0) return std::nullopt;
            Json& added = groups.emplace_back(Json::value_t::object);
            added["name"] = TextFrom(group.name, texts);
            added["text2"] = TextFrom(group.text2, texts);
            added["pins"] = PinsToJson(D_GroupPinArray(device, g), group.pinCount, texts);
        }
        Json& fields = element["device"] = Json(Json::value_t::object);
        fields["text1"] = TextFrom(record.text1, texts);
        fields["text2"] = TextFrom(record.text2, texts);
        fields["supply_pins"] = PinsToJson(D_SupplyPinArray(device), record.supplyPinCount, texts);
        fields["groups"] = std::move(groups);
        OM_Delete(DB_DeviceMap(), device);
    } else {
        const int32_t symbol = S_LoadSymbol(ZK_SLOT_SYMBOL, cursor);
        ZK_SymbolRecord record{};
        if (symbol == 0 || S_ReadSymbol(symbol, &record) <= 0) return std::nullopt;
        Json items = Json::array();
        const int32_t array = S_SymbolItemArray(symbol);
        for (int32_t i = 0;; ++i) {
            const int32_t link = IA_SearchMaskLink(array, std::numeric_limits<int32_t>::min(),
                                                   std::numeric_limits<int32_t>::max(), i);
            if (link == 0) break;
            ZK_ItemRecord item{};
            I_ReadItem(S_SymbolItem(array, link), &item);
            Json& added = items.emplace_back(Json::value_t::object);
            added["kind"] = item.kind;
            added["text"] = TextFrom(item.text, texts);
        }
        Json& fields = element["symbol"] = Json(Json::value_t::object);
        fields["class"] = record.symbolClass;
        fields["items"] = std::move(items);
        OM_Delete(DB_SymbMap(), symbol);
    }
    return element;
}

// ---- Checking an imported document -------------------------------------------------------

struct ImportError {
    std::string message;
};

const Json& Member(const Json& object, const char* key, const std::string& where) {
    const auto it = object.find(key);
    if (it == object.end()) throw ImportError{where + ": \"" + key + "\" is missing"};
    return *it;
}

std::string TextOf(const Json& value, const std::string& where, bool mayBeEmpty = true) {
    if (!value.is_string()) throw ImportError{where + ": expected a text"};
    std::string text = value.get<std::string>();
    if (text.find('\0') != std::string::npos) throw ImportError{where + ": a text must not contain NUL"};
    if (!mayBeEmpty && TrimBlanks(text).empty()) throw ImportError{where + ": must not be empty"};
    return text;
}

int32_t IntOf(const Json& value, const std::string& where) {
    if (!value.is_number_integer()) throw ImportError{where + ": expected a whole number"};
    const auto v = value.get<int64_t>();
    if (value.is_number_unsigned() && value.get<uint64_t>() > static_cast<uint64_t>(INT32_MAX))
        throw ImportError{where + ": number out of range"};
    if (v < INT32_MIN || v > INT32_MAX) throw ImportError{where + ": number out of range"};
    return static_cast<int32_t>(v);
}

const Json& ArrayOf(const Json& object, const char* key, const std::string& where) {
    const Json& value = Member(object, key, where);
    if (!value.is_array()) throw ImportError{where + "." + key + ": expected a list"};
    return value;
}

struct PendingPin {
    int32_t number;
    std::string name;
};
struct PendingGroup {
    std::string name, text2;
    std::vector<PendingPin> pins;
};
struct PendingElement {
    std::string name;
    std::string text1, text2;
    std::vector<PendingPin> supplyPins;
    std::vector<PendingGroup> groups;
    int32_t symbolClass = 0;
    std::vector<std::pair<int32_t, std::string>> items;
};

std::vector<PendingPin> PinsOf(const Json& object, const char* key, const std::string& where) {
    std::vector<PendingPin> pins;
    const Json& list = ArrayOf(object, key, where);
    for (size_t i = 0; i < list.size(); ++i) {
        const std::string at = where + "." + key + "[" + std::to_string(i) + "]";
        if (!list[i].is_object()) throw ImportError{at + ": expected an object"};
        pins.push_back({IntOf(Member(list[i], "number", at), at + ".number"),
                        TextOf(Member(list[i], "name", at), at + ".name")});
    }
    return pins;
}

PendingElement CheckElement(const Json& e, LibraryKind kind, const std::string& at) {
    if (!e.is_object()) throw ImportError{at + ": expected an object"};
    PendingElement element;
    element.name = TextOf(Member(e, "name", at), at + ".name", false);
    if (kind == LibraryKind::Part) {
        if (e.contains("symbol")) throw ImportError{at + ": a part library holds devices, not symbols"};
        const std::string dat = at + ".device";
        const Json& d = Member(e, "device", at);
        if (!d.is_object()) throw ImportError{dat + ": expected an object"};
        element.text1 = TextOf(Member(d, "text1", dat), dat + ".text1");
        element.text2 = TextOf(Member(d, "text2", dat), dat + ".text2");
        element.supplyPins = PinsOf(d, "supply_pins", dat);
        const Json& groups = ArrayOf(d, "groups", dat);
        for (size_t g = 0; g < groups.size(); ++g) {
            const std::string gat = dat + ".groups[" + std::to_string(g) + "]";
            if (!groups[g].is_object()) throw ImportError{gat + ": expected an object"};
            element.groups.push_back({TextOf(Member(groups[g], "name", gat), gat + ".name"),
                                      TextOf(Member(groups[g], "text2", gat), gat + ".text2"),
                                      PinsOf(groups[g], "pins", gat)});
        }
    } else {
        if (e.contains("device")) throw ImportError{at + ": a symbol library holds symbols, not devices"};
        const std::string sat = at + ".symbol";
        const Json& s = Member(e, "symbol", at);
        if (!s.is_object()) throw ImportError{sat + ": expected an object"};
        element.symbolClass = IntOf(Member(s, "class", sat), sat + ".class");
        const Json& items = ArrayOf(s, "items", sat);
        for (size_t k = 0; k < items.size(); ++k) {
            const std::string iat = sat + ".items[" + std::to_string(k) + "]";
            if (!items[k].is_object()) throw ImportError{iat + ": expected an object"};
            const int32_t itemKind = IntOf(Member(items[k], "kind", iat), iat + ".kind");
            std::string text = items[k].contains("text") ? TextOf(items[k]["text"], iat + ".text") : "";
            element.items.emplace_back(itemKind, std::move(text));
        }
    }
    return element;
}

std::vector<PendingElement> CheckDocument(const Json& doc, LibraryKind& kind) {
    if (!doc.is_object()) throw ImportError{"the document must be an object"};
    const std::string kindText = TextOf(Member(doc, "kind", "document"), "kind");
    if (kindText == ZK_KIND_PART_LIBRARY) kind = LibraryKind::Part;
    else if (kindText == ZK_KIND_SYMBOL_LIBRARY) kind = LibraryKind::Symbol;
    else throw ImportError{"kind: \"" + kindText + "\" is neither " ZK_KIND_PART_LIBRARY " nor " ZK_KIND_SYMBOL_LIBRARY};
    const Json& elements = ArrayOf(doc, "elements", "document");
    std::vector<PendingElement> result;
    for (size_t i = 0; i < elements.size(); ++i)
        result.push_back(CheckElement(elements[i], kind, "elements[" + std::to_string(i) + "]"));
    return result;
}

// Makes the element in the working database; its object's number, 0 when the kernel refuses it.
int32_t MakeObject(LibraryKind kind, const PendingElement& e) {
    if (kind == LibraryKind::Part) {
        const int32_t object = D_CreateDevice(0, e.name.c_str(), e.text1.c_str(), e.text2.c_str());
        if (object == 0) return 0;
        const int32_t supply = D_SupplyPinArray(object);
        for (const PendingPin& pin : e.supplyPins) D_AddPin(supply, pin.number, pin.name.c_str());
        for (const PendingGroup& group : e.groups) {
            const int32_t g = D_AddGroup(object, group.name.c_str(), group.text2.c_str());
            const int32_t pins = D_GroupPinArray(object, g);
            for (const PendingPin& pin : group.pins) D_AddPin(pins, pin.number, pin.name.c_str());
        }
        return object;
    }
    const int32_t object = S_CreateSymbol(e.name.c_str(), e.symbolClass);
    if (object != 0)
        for (const auto& [itemKind, text] : e.items) S_AddItem(object, itemKind, text.c_str());
    return object;
}

bool SaveElement(int32_t library, LibraryKind kind, const PendingElement& e) {
    const int32_t object = MakeObject(kind, e);
    if (object == 0) return false;
    const int32_t cursor = E_OpenLibToWrite(library, e.name.c_str());
    bool saved = false;
    if (cursor > 0) {
        saved = (kind == LibraryKind::Part ? D_SaveDevice(object, cursor) : S_SaveSymbol(object, cursor)) != 0;
        E_CloseLibWrite(library);
    }
    OM_Delete(kind == LibraryKind::Part ? DB_DeviceMap() : DB_SymbMap(), object);
    return saved;
}

std::string LineAndColumn(std::string_view text, size_t byte) {
    size_t line = 1, column = 1;
    for (size_t i = 0; i + 1 < byte && i < text.size(); ++i) {
        if (text[i] == '\n') ++line, column = 1;
        else ++column;
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

}  // namespace

const char* KindString(LibraryKind kind) {
    return kind == LibraryKind::Part ? ZK_KIND_PART_LIBRARY : ZK_KIND_SYMBOL_LIBRARY;
}

Result<LibraryKind> DetectLibraryKind(const std::string& path) {
    if (!IsRegularFile(path)) {  // file-access: a library file the user names to the lib command
        return Failure{path + ": the file does not exist"};
    }
    for (const LibraryKind kind : {LibraryKind::Part, LibraryKind::Symbol}) {
        OpenLibrary library(path, kind, false);
        if (library) return kind;
        const std::string reason = StringFromPointer(E_LastError());
        // A library of the other kind is refused for its kind only; any other reason is final.
        if (reason.find("other kind") == std::string::npos) return Failure{path + ": " + reason};
    }
    return Failure{path + ": the file is not a library"};
}

Outcome CreateLibrary(const std::string& path, LibraryKind kind) {
    if (::access(path.c_str(), F_OK) == 0) {  // file-access: a library file the user names to the lib command
        return Failure{path + ": the file already exists"};
    }
    OpenLibrary library(path, kind, true);
    if (!library) return Failure{OpenFailure(path)};
    return {};
}

Result<std::vector<std::string>> ListLibrary(const std::string& path) {
    const auto kind = DetectLibraryKind(path);
    if (!kind) return Failure{kind.Why()};
    OpenLibrary library(path, *kind, false);
    std::vector<std::string> names;
    for (int32_t i = 0;; ++i) {
        const char* name = E_GetLibDirName(library.Handle(), i);
        if (name == nullptr) break;
        names.push_back(StringFromPointer(name));
    }
    return names;
}

Result<std::string> ExportLibrary(const std::string& path) {
    const auto kind = DetectLibraryKind(path);
    if (!kind) return Failure{kind.Why()};
    EnsureWorkingDatabase();
    OpenLibrary library(path, *kind, false);
    Json elements = Json::array();
    for (int32_t i = 0;; ++i) {
        const char* name = E_GetLibDirName(library.Handle(), i);
        if (name == nullptr) break;
        const std::string elementName = StringFromPointer(name);
        auto element = ElementToJson(library.Handle(), *kind, elementName);
        if (!element)
            return Failure{path + ": the element \"" + elementName +
                           "\" cannot be read (the library is damaged)"};
        elements.push_back(std::move(*element));
    }
    Json doc = {{"kind", KindString(*kind)}, {"elements", std::move(elements)}};
    try {
        return doc.dump(2) + "\n";
    } catch (const Json::exception&) {
        return Failure{
            path + ": an element holds text that is not UTF-8, which a JSON document cannot carry as it is"};
    }
}

Result<std::string> ElementJson(int32_t library, LibraryKind kind, const std::string& name) {
    EnsureWorkingDatabase();
    auto element = ElementToJson(library, kind, name);
    if (!element) return Failure{"no element named \"" + name + "\""};
    try {
        return element->dump(2) + "\n";
    } catch (const Json::exception&) {
        return Failure{"the element \"" + name +
                       "\" holds text that is not UTF-8, which JSON cannot carry as it is"};
    }
}

Result<Json> ElementValue(int32_t library, LibraryKind kind, const std::string& name) {
    EnsureWorkingDatabase();
    auto element = ElementToJson(library, kind, name, Texts::Exact);
    if (!element) return Failure{"no element named \"" + name + "\""};
    return std::move(*element);
}

Result<int32_t> ElementObject(LibraryKind kind, const std::string& name, const Json& value) {
    EnsureWorkingDatabase();
    try {
        Json named = value;  // a value's own name (a base's is its digest) is none of the element's
        named["name"] = name;
        const PendingElement element = CheckElement(named, kind, "element");
        const int32_t object = MakeObject(kind, element);
        if (object == 0)
            return Failure{"the kernel refused the element " + name + ": " +
                           StringFromPointer(E_LastError())};
        return object;
    } catch (const ImportError& e) {
        return Failure{e.message};
    }
}

Result<std::string> ExportElement(const std::string& path, const std::string& name) {
    const auto kind = DetectLibraryKind(path);
    if (!kind) return Failure{kind.Why()};
    EnsureWorkingDatabase();
    OpenLibrary library(path, *kind, false);
    auto element = ElementJson(library.Handle(), *kind, name);
    if (!element) return Failure{path + ": " + element.Why()};
    return element;
}

Outcome ImportLibrary(const std::string& path, std::string_view json) {
    Json doc;
    try {
        doc = Json::parse(json);
    } catch (const Json::parse_error& e) {
        return Failure{"bad JSON at " + LineAndColumn(json, e.byte) + ": " + e.what()};
    } catch (const Json::exception& e) {
        // A number too large for any type, for example.
        return Failure{std::string("bad JSON: ") + e.what()};
    }
    LibraryKind kind = LibraryKind::Part;
    std::vector<PendingElement> elements;
    try {
        elements = CheckDocument(doc, kind);
    } catch (const ImportError& e) {
        return Failure{e.message};
    }
    if (::access(path.c_str(), F_OK) == 0) {  // file-access: a library file the user names to the lib command
        const auto existing = DetectLibraryKind(path);
        if (!existing) return existing.AsOutcome();
        if (*existing != kind)
            return Failure{path + ": the document is a " + std::string(KindString(kind)) +
                           " library, the file a " + KindString(*existing) + " library"};
    }
    EnsureWorkingDatabase();
    OpenLibrary library(path, kind, true);
    if (!library) return Failure{OpenFailure(path)};
    for (const PendingElement& element : elements) {
        if (!SaveElement(library.Handle(), kind, element))
            return Failure{path + ": the element \"" + element.name + "\" could not be saved"};
    }
    E_FlushLibraries();
    return {};
}

}  // namespace zrx
