// zrxlibug-cli demo DIR: a sample installation DIR/suite and an upgrade folder DIR/upgrade.
#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>

#include "base/paths.h"
#include "base/text_file.h"
#include "cli/cli_commands.h"
#include "cli/cli_session.h"
#include "kernel/library_exchange.h"
#include "upgrade_list/list_format.h"

namespace zrx::cli {

namespace {

using Json = nlohmann::ordered_json;
namespace fs = std::filesystem;

struct Part {
    const char* name;
    const char* text1;
    const char* family;
    int vcc, gnd;
    std::vector<std::pair<const char*, std::vector<std::pair<int, const char*>>>> groups;
};

Json PartJson(const Part& p) {
    Json groups = Json::array();
    for (const auto& [group, pins] : p.groups) {
        Json pinList = Json::array();
        for (const auto& [number, pin] : pins) pinList.push_back({{"number", number}, {"name", pin}});
        groups.push_back({{"name", group}, {"text2", p.family}, {"pins", std::move(pinList)}});
    }
    Json supply = Json::array();
    if (p.vcc > 0) supply.push_back({{"number", p.vcc}, {"name", "VCC"}});
    if (p.gnd > 0) supply.push_back({{"number", p.gnd}, {"name", "GND"}});
    return {{"name", p.name},
            {"device", {{"text1", p.text1}, {"text2", p.family}, {"supply_pins", supply}, {"groups", groups}}}};
}

// Gates of a quad two-input part: pins A, B, Y of each gate.
std::vector<std::pair<const char*, std::vector<std::pair<int, const char*>>>> QuadGates() {
    return {{"A", {{1, "A"}, {2, "B"}, {3, "Y"}}},
            {"B", {{4, "A"}, {5, "B"}, {6, "Y"}}},
            {"C", {{9, "A"}, {10, "B"}, {8, "Y"}}},
            {"D", {{12, "A"}, {13, "B"}, {11, "Y"}}}};
}

std::vector<std::pair<const char*, std::vector<std::pair<int, const char*>>>> HexInverters() {
    return {{"A", {{1, "A"}, {2, "Y"}}},  {"B", {{3, "A"}, {4, "Y"}}},   {"C", {{5, "A"}, {6, "Y"}}},
            {"D", {{9, "A"}, {8, "Y"}}},  {"E", {{11, "A"}, {10, "Y"}}}, {"F", {{13, "A"}, {12, "Y"}}}};
}

Json SymbolJson(const char* name, int symbolClass, const std::vector<std::pair<int, std::string>>& items) {
    Json list = Json::array();
    for (const auto& [kind, text] : items) list.push_back({{"kind", kind}, {"text", text}});
    return {{"name", name}, {"symbol", {{"class", symbolClass}, {"items", list}}}};
}

// A schematic symbol: a few graphic items and its reference text.
Json Schematic(const char* name, const char* reference) {
    return SymbolJson(name, 1, {{1, ""}, {2, ""}, {6, reference}});
}
Json Package(const char* name, const char* outline) { return SymbolJson(name, 2, {{3, ""}, {6, outline}}); }
// A simulator model: its first text is "type,description", its second a note for the index.
Json Model(const char* name, const char* type, const char* note) {
    return SymbolJson(name, 3, {{6, std::string(type) + "," + note}, {6, note}});
}

void Library(const std::string& path, const char* kind, Json elements) {
    if (const Outcome imported =
            ImportLibrary(path, Json{{"kind", kind}, {"elements", std::move(elements)}}.dump());
        !imported)
        throw std::runtime_error(imported.Why());
}

void Text(const std::string& path, const std::string& content) {
    auto out = TextOutput::Open(path);
    if (!out) throw std::runtime_error(path + ": cannot be written");
    out->Write(content);
    if (const Outcome committed = out->Commit(); !committed)
        throw std::runtime_error(path + ": " + committed.Why());
}

void WritePartLibraries(const std::string& lib);
void WriteSymbolLibraries(const std::string& lib, const std::string& mod);
void WriteFiles(const std::string& suite, const std::string& lib, const std::string& mod, const std::string& sbk);

void WriteSuite(const std::string& suite) {
    const char* dirs[][2] = {{"JobDir", "JOB"},       {"LibDir", "LIB"},       {"SysDir", "SYS"},
                             {"ULM3JobDir", "CADJOB"}, {"ZSMcml", "ZSM_CML"},  {"ZSMudn", "ZSM_UDN"},
                             {"ZSMmod", "ZSM_MOD"},   {"ZSMsbk", "ZSM_SBK"},   {"ZSMwrk", "ZSM_WRK"}};
    std::string ini = "; Zarnix32 installation written by zrxlibug-cli demo\r\n[Zarnix32]\r\n";
    for (const auto& [key, dir] : dirs) {
        fs::create_directories(JoinPath(suite, dir));
        ini += std::string(key) + "=" + JoinPath(suite, dir) + "\r\n";
    }
    Text(JoinPath(suite, "ZARNIX32.INI"), ini);
    const std::string lib = JoinPath(suite, "LIB"), mod = JoinPath(suite, "ZSM_MOD"), sbk = JoinPath(suite, "ZSM_SBK");
    WritePartLibraries(lib);
    WriteSymbolLibraries(lib, mod);
    WriteFiles(suite, lib, mod, sbk);
}

// The two part libraries of the sample installation.
void WritePartLibraries(const std::string& lib) {
    Json logic = Json::array();
    for (const Part& p : std::vector<Part>{{"7400", "QUAD 2-INPUT NAND", "TTL", 14, 7, QuadGates()},
                                           {"7402", "QUAD 2-INPUT NOR", "TTL", 14, 7, QuadGates()},
                                           {"7404", "HEX INVERTER", "TTL", 14, 7, HexInverters()},
                                           {"7408", "QUAD 2-INPUT AND", "TTL", 14, 7, QuadGates()},
                                           {"7432", "QUAD 2-INPUT OR", "TTL", 14, 7, QuadGates()},
                                           {"7486", "QUAD 2-INPUT XOR", "TTL", 14, 7, QuadGates()},
                                           {"74HC00", "QUAD 2-INPUT NAND", "HC", 14, 7, QuadGates()},
                                           {"74HC04", "HEX INVERTER", "HC", 14, 7, HexInverters()},
                                           {"74HC14", "HEX SCHMITT INVERTER", "HC", 14, 7, HexInverters()},
                                           {"4011", "QUAD 2-INPUT NAND", "CMOS", 14, 7, QuadGates()},
                                           {"7474", "DUAL D FLIP-FLOP", "TTL", 14, 7,
                                            {{"A", {{1, "CLR"}, {2, "D"}, {3, "CLK"}, {4, "PRE"}, {5, "Q"}, {6, "QN"}}},
                                             {"B", {{13, "CLR"}, {12, "D"}, {11, "CLK"}, {10, "PRE"}, {9, "Q"}, {8, "QN"}}}}}})
        logic.push_back(PartJson(p));
    Library(JoinPath(lib, "Logic.PART"), "ZarnixDLL00", logic);

    Json analog = Json::array();
    for (const Part& p : std::vector<Part>{
             {"LM741", "OPERATIONAL AMPLIFIER", "LINEAR", 7, 4, {{"A", {{2, "IN-"}, {3, "IN+"}, {6, "OUT"}}}}},
             {"LM358", "DUAL OPERATIONAL AMPLIFIER", "LINEAR", 8, 4,
              {{"A", {{2, "IN-"}, {3, "IN+"}, {1, "OUT"}}}, {"B", {{6, "IN-"}, {5, "IN+"}, {7, "OUT"}}}}},
             {"TL072", "DUAL JFET OPERATIONAL AMPLIFIER", "LINEAR", 8, 4,
              {{"A", {{2, "IN-"}, {3, "IN+"}, {1, "OUT"}}}, {"B", {{6, "IN-"}, {5, "IN+"}, {7, "OUT"}}}}},
             {"LM393", "DUAL COMPARATOR", "LINEAR", 8, 4,
              {{"A", {{2, "IN-"}, {3, "IN+"}, {1, "OUT"}}}, {"B", {{6, "IN-"}, {5, "IN+"}, {7, "OUT"}}}}},
             {"NE555", "TIMER", "LINEAR", 8, 1,
              {{"A", {{2, "TRIG"}, {3, "OUT"}, {4, "RESET"}, {5, "CTRL"}, {6, "THRES"}, {7, "DISCH"}}}}},
             {"LM7805", "5V REGULATOR", "POWER", 0, 2, {{"A", {{1, "IN"}, {3, "OUT"}}}}},
             {"LM317", "ADJUSTABLE REGULATOR", "POWER", 0, 0, {{"A", {{1, "ADJ"}, {2, "OUT"}, {3, "IN"}}}}}})
        analog.push_back(PartJson(p));
    Library(JoinPath(lib, "Analog.PART"), "ZarnixDLL00", analog);
}

// Its symbols, packages and models.
void WriteSymbolLibraries(const std::string& lib, const std::string& mod) {
    Library(JoinPath(lib, "Logic.SYMBOL"), "ZarnixSLL00",
            {Schematic("NAND2", "U?"), Schematic("NOR2", "U?"), Schematic("INV", "U?"), Schematic("AND2", "U?"),
             Schematic("OR2", "U?"), Schematic("XOR2", "U?"), Schematic("DFF", "U?")});
    Library(JoinPath(lib, "I_Analog.SYMBOL"), "ZarnixSLL00",
            {Schematic("OPAMP", "U?"), Schematic("COMPARATOR", "U?"), Schematic("REG3", "U?"), Schematic("TIMER555", "U?")});
    Library(JoinPath(lib, "Standard.PACKAGE"), "ZarnixSLL00",
            {Package("DIP8", "DIL 8 300mil"), Package("DIP14", "DIL 14 300mil"), Package("DIP16", "DIL 16 300mil"),
             Package("SO8", "SOIC 8 150mil"), Package("SO14", "SOIC 14 150mil"), Package("TO220", "TO-220-3"),
             Package("TO92", "TO-92")});
    Library(JoinPath(lib, "Mixed.MPARAM"), "ZarnixSLL00",
            {Model("ADC8", "ADC", "8-bit successive approximation converter"),
             Model("DAC8", "DAC", "8-bit R-2R converter"), Model("PLL1", "PLL", "phase-locked loop")});
    Library(JoinPath(mod, "Diodes.SML"), "ZarnixSLL00",
            {Model("D1N4148", "D", "small-signal switching diode"), Model("D1N4001", "D", "1A 50V rectifier"),
             Model("D1N5819", "D", "1A 40V Schottky rectifier")});
    Library(JoinPath(mod, "Bipolar.SML"), "ZarnixSLL00",
            {Model("Q2N2222", "NPN", "general purpose NPN transistor"),
             Model("Q2N3904", "NPN", "small-signal NPN transistor"),
             Model("Q2N3906", "PNP", "small-signal PNP transistor")});
    Library(JoinPath(mod, "Vendor.SPARAM"), "ZarnixSLL00",
            {Model("J2N3819", "NJF", "N-channel JFET"), Model("MIRF540", "NMOS", "power MOSFET 100V 28A")});
}

// Its index files, subcircuits and loose data files.
void WriteFiles(const std::string& suite, const std::string& lib, const std::string& mod, const std::string& sbk) {
    Text(JoinPath(mod, "modpar.idx"),
         "D||DIODES|D1N4148|small-signal switching diode\r\nD||DIODES|D1N4001|1A 50V rectifier\r\n"
         "D||DIODES|D1N5819|1A 40V Schottky rectifier\r\n\r\nNPN||BIPOLAR|Q2N2222|general purpose NPN transistor\r\n"
         "NPN||BIPOLAR|Q2N3904|small-signal NPN transistor\r\nPNP||BIPOLAR|Q2N3906|small-signal PNP transistor\r\n");
    fs::create_directories(JoinPath(sbk, "OPAMPS"));
    fs::create_directories(JoinPath(sbk, "REGS"));
    Text(JoinPath(sbk, "OPAMPS/UA741.SBC"),
         ".SUBCKT UA741 1 2 3 4 5, macro model\r\n*uA741 operational amplifier, Opamp\r\nR1 1 2 2MEG\r\n.ENDS\r\n");
    Text(JoinPath(sbk, "REGS/LM7805.SBC"),
         ".SUBCKT LM7805 IN OUT GND, macro model\r\n*5V positive voltage regulator, Regulator\r\n.ENDS\r\n");
    Text(JoinPath(sbk, "Subcir.idx"),
         "X|UA741|library|uA741 operational amplifier|OPAMPS| Opamp\r\n"
         "X|LM7805|library|5V positive voltage regulator|REGS| Regulator\r\n");
    Text(JoinPath(lib, "heatsink.TAL"), "TAL 1\r\nHEATSINK TO220 12.5 K/W\r\n");
    Text(JoinPath(suite, "JOB/board.DAT"), "DAT 1\r\nBOARD FR4 1.6mm\r\n");
    Text(JoinPath(suite, "SYS/default.SPC"), "* default simulation profile\r\n.TRAN 1u 1m\r\n");
}

std::string ReadmeText() {
    std::string text;
    for (const std::string_view line : kReadmeRecords) text += std::string(line) + "\r\n";
    return text;
}

void WriteUpgrade(const std::string& upgrade) {
    fs::create_directories(upgrade);
    Library(JoinPath(upgrade, "Upgrade.PART"), "ZarnixDLL00",
            {PartJson({"74HC08", "QUAD 2-INPUT AND", "HC", 14, 7, QuadGates()}),
             PartJson({"7400", "QUAD 2-INPUT NAND GATE", "TTL", 14, 7, QuadGates()}),
             PartJson({"LM2596", "3A STEP-DOWN REGULATOR", "POWER", 0, 3,
                       {{"A", {{1, "VIN"}, {2, "OUT"}, {4, "FB"}, {5, "ON/OFF"}}}}}),
             PartJson({"LM393", "DUAL DIFFERENTIAL COMPARATOR", "LINEAR", 8, 4,
                       {{"A", {{2, "IN-"}, {3, "IN+"}, {1, "OUT"}}}, {"B", {{6, "IN-"}, {5, "IN+"}, {7, "OUT"}}}}})});
    Library(JoinPath(upgrade, "A_Upg.SYMBOL"), "ZarnixSLL00", {Schematic("AND3", "U?"), Schematic("NAND2", "U?")});
    Library(JoinPath(upgrade, "I_Upg.SYMBOL"), "ZarnixSLL00", {Schematic("OPAMP", "U?"), Schematic("LDO", "U?")});
    Library(JoinPath(upgrade, "Upgrade.PACKAGE"), "ZarnixSLL00",
            {Package("SOT23", "SOT-23-3"), Package("TO220", "TO-220-3 vertical")});
    Library(JoinPath(upgrade, "Upgrade.SPARAM"), "ZarnixSLL00",
            {Model("D1N5822", "D", "3A 40V Schottky rectifier"), Model("Q2N2222", "NPN", "general purpose NPN transistor, 600mA"),
             Model("Q2N7000", "NMOS", "small-signal N-channel MOSFET"), Model("J2N5457", "NJF", "N-channel JFET")});
    Library(JoinPath(upgrade, "Upgrade.MPARAM"), "ZarnixSLL00", {Model("ADC12", "ADC", "12-bit pipelined converter")});
    Text(JoinPath(upgrade, "LM2596.SBC"),
         ".SUBCKT LM2596 VIN OUT FB GND, macro model\r\n*3A step-down switching regulator, Regulator\r\n.ENDS\r\n");
    Text(JoinPath(upgrade, "NE5532.SBC"),
         ".SUBCKT NE5532 1 2 3 4 5, macro model\r\n*NE5532 low-noise dual opamp, Opamp\r\n.ENDS\r\n");
    Text(JoinPath(upgrade, "heatsink.TAL"), "TAL 2\r\nHEATSINK TO220 9.8 K/W\r\n");
    Text(JoinPath(upgrade, "fan.TAL"), "TAL 1\r\nFAN 40mm 8 CFM\r\n");
    Text(JoinPath(upgrade, "airflow.DAT"), "DAT 1\r\nAIRFLOW 0.5 m/s\r\n");
    Text(JoinPath(upgrade, "fast.SPC"), "* fast simulation profile\r\n.TRAN 10u 1m\r\n");
    Text(JoinPath(upgrade, "release-notes.txt"), "Library upgrade: new regulators, logic and models.\r\n");

    const std::string list = std::string(kHeaderLine) + "\r\n" +
                             "1,0,1,74HC08,Logic.PART\r\n1,0,1,7400,Logic.PART\r\n1,0,1,LM2596,Analog.PART\r\n"
                             "1,0,1,LM393,Analog.PART\r\n"
                             "2,0,1,AND3,Logic.SYMBOL,A_Upg.SYMBOL\r\n2,0,1,NAND2,Logic.SYMBOL,A_Upg.SYMBOL\r\n"
                             "2,0,1,OPAMP,I_Analog.SYMBOL,I_Upg.SYMBOL\r\n2,0,1,LDO,I_Analog.SYMBOL,I_Upg.SYMBOL\r\n"
                             "3,0,1,SOT23,Standard.PACKAGE\r\n3,0,1,TO220,Standard.PACKAGE\r\n"
                             "4,0,1,release-notes.txt,Release notes\r\n4,0,1,heatsink.TAL\r\n4,0,1,fan.TAL\r\n"
                             "4,0,2,airflow.DAT\r\n4,0,3,fast.SPC\r\n4,0,9,LM2596.SBC,REGS\r\n4,0,9,NE5532.SBC,OPAMPS\r\n"
                             "5,0,5,D1N5822,Diodes.SML\r\n5,0,5,Q2N2222,Bipolar.SML\r\n5,0,5,Q2N7000,Mosfets.SML\r\n"
                             "5,0,5,J2N5457,Vendor.SPARAM\r\n"
                             "6,0,1,ADC12,Mixed.MPARAM\r\n" +
                             ReadmeText() +
                             std::string(kEndLine) + "\r\n";
    Text(JoinPath(upgrade, "Upgrade.lst"), list);
}

}  // namespace

void AddDemoCommand(CLI::App& parent, int& status) {
    static std::string dir;
    CLI::App* demo = parent.add_subcommand("demo", "Write a sample installation DIR/suite and an upgrade DIR/upgrade");
    demo->add_option("DIR", dir, "Folder to write them into")->required();
    demo->callback([&status] {
        // The INI names absolute directories, so that the installation works from anywhere.
        std::error_code error;
        const std::string root = fs::absolute(dir, error).lexically_normal().string();
        const std::string suite = JoinPath(root, "suite"), upgrade = JoinPath(root, "upgrade");
        if (fs::exists(suite) || fs::exists(upgrade)) {
            status = Fail(dir + ": already holds a suite or upgrade folder; choose an empty folder");
            return;
        }
        try {
            fs::create_directories(root);
            WriteSuite(suite);
            // The upgrade's files are written after the installation's, so they are the newer ones.
            WriteUpgrade(upgrade);
        } catch (const std::exception& e) {
            status = Fail(e.what());
            return;
        }
        std::cout << "Installation: " << suite << "\nUpgrade:      " << upgrade << "\n";
        status = 0;
    });
}

}  // namespace zrx::cli
