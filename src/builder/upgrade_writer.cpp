#include "builder/upgrade_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <initializer_list>
#include <optional>
#include <set>

#include "apply/data_files.h"
#include "apply/kernel_wrappers.h"
#include "apply/targets.h"
#include "archive/upgrade_archive.h"
#include "base/dialogs.h"
#include "base/messages.h"
#include "base/paths.h"
#include "base/text_file.h"
#include "base/text_utils.h"
#include "builder/build_check.h"
#include "builder/builder_lists.h"
#include "builder/builder_state.h"
#include "kernel/installation.h"
#include "kernel/library_handles.h"
#include "kernel/working_database.h"
#include "kernel/zrxkernel.h"
#include "trust/manifest.h"
#include "trust/minisign.h"
#include "trust/open_upgrade.h"
#include "trust/upgrade_check.h"
#include "upgrade_list/list_format.h"
#include "zrx_version.h"

namespace zrx {

namespace {

std::string SourcePath(const std::vector<SourceLib>& sources, const UpgElement& element) {
    if (element.SourceIndex < 0 || static_cast<size_t>(element.SourceIndex) >= sources.size()) return {};
    const SourceLib& source = sources[static_cast<size_t>(element.SourceIndex)];
    return JoinPath(source.Dir, source.FileName);
}

// An element's source library, open for reading through its folder's handle (the installation's
// folders are held from start-up); each library is opened once for the writer's elements.
int32_t OpenSourceLibrary(LibraryHandles& opened, const Environment& env,
                          const std::vector<SourceLib>& sources, const UpgElement& element,
                          const char* kind) {
    if (element.SourceIndex < 0 || static_cast<size_t>(element.SourceIndex) >= sources.size()) return 0;
    const SourceLib& source = sources[static_cast<size_t>(element.SourceIndex)];
    const auto folder = SourceFolder(env, source.Dir);
    return folder ? opened.Open(**folder, source.FileName, kind) : 0;
}

const std::string& SourceFileName(const std::vector<SourceLib>& sources, const UpgElement& element) {
    static const std::string kNone;
    if (element.SourceIndex < 0 || static_cast<size_t>(element.SourceIndex) >= sources.size()) return kNone;
    return sources[static_cast<size_t>(element.SourceIndex)].FileName;
}

// What differs between the five symbol-type writers.
struct SymbolWriter {
    std::vector<UpgElement> BuilderTables::*chosen;
    std::vector<SourceLib> BuilderTables::*sources;
    size_t library;  // the upgrade library it writes, by its index in kUpgradeLibraries
    enum class Filter { None, NotISymbols, ISymbols } filter;
    int32_t startSlot;
    int32_t maskA, maskB;
    int32_t findKind;   // 0: schematic symbols and models, 1: packages
    int32_t inUseKind;  // 1: schematic components, 0: layout components
};

void WriteSymbols(const BuilderState& builder, const Environment& env, ui::Dialogs& dialogs, bool askOverwrite,
                  const SymbolWriter& writer) {
    const std::string destination = DestinationPath(builder, kUpgradeLibraries[writer.library]);
    if (destination.empty() || !builder.destination) return;
    const Directory& folder = *builder.destination;
    const std::string file = FileNameOf(destination);
    const std::vector<UpgElement>& chosen = builder.tables.*writer.chosen;
    const std::vector<SourceLib>& sources = builder.tables.*writer.sources;
    dialogs.SetBusy(true);
    int32_t slot = writer.startSlot;
    int32_t writeHandle = 0;
    LibraryHandles sourceLibraries;
    for (size_t i = 0; i + 1 < chosen.size(); ++i) {
        const UpgElement& element = chosen[i];
        const std::string& name = element.Name;
        [&] {
            const std::string source = SourcePath(sources, element);
            if (writer.filter != SymbolWriter::Filter::None &&
                IsISymbolLibrary(SourceFileName(sources, element)) != (writer.filter == SymbolWriter::Filter::ISymbols))
                return;
            const int32_t sourceHandle =
                OpenSourceLibrary(sourceLibraries, env, sources, element, ZK_KIND_SYMBOL_LIBRARY);
            if (sourceHandle <= 0) return ShowErrorByCode(dialogs, 6, source);
            ClearWorkingDatabase();
            bool loaded = false;
            if (const int32_t cursor = E_OpenLibToRead(sourceHandle, name.c_str()); cursor > 0) {
                slot = S_LoadSymbol(slot, cursor);
                loaded = slot != 0;
                if (loaded) O_Rename(S_Symbol(slot), name.c_str());
            }
            // A failed load leaves no slot behind; the next element loads into the writer's slot.
            if (slot == 0) slot = writer.startSlot;
            if (!loaded) return ShowErrorByCode(dialogs, 8, name);
            const int32_t copy = S_CopySymbol(slot, 0);
            if (copy == 0) return ShowErrorByCode(dialogs, 8, name);
            O_Rename(S_Symbol(copy), name.c_str());

            const std::string trimmed = TrimBlanks(name);
            // Looked for only where the answer may ask a question.
            const int32_t probe = askOverwrite ? OpenLibraryIn(folder, file, ZK_KIND_SYMBOL_LIBRARY, 0) : 0;
            const bool present = probe > 0 && !trimmed.empty() && E_OpenLibToRead(probe, trimmed.c_str()) > 0;
            E_CloseLibrary(probe);
            if (present) {
                E_FlushLibraries();
                if (!AskYesNo(dialogs, "Symbol(s) with same names are already stored in lib: " + destination +
                                           "." + "\r\v" + "Overwrite anyway ?"))
                    return;
            }
            if (writeHandle <= 0) {
                writeHandle = OpenLibraryIn(folder, file, ZK_KIND_SYMBOL_LIBRARY, -1);
                if (writeHandle <= 0) {
                    writeHandle = 0;
                    return ShowErrorByCode(dialogs, 3, destination);
                }
            }
            if (trimmed.empty()) return;
            const auto symbol = FindSymbolByName(writer.findKind, trimmed);
            bool saved = false;
            if (symbol) {
                if (const int32_t cursor = E_OpenLibToWrite(writeHandle, trimmed.c_str()); cursor >= 1) {
                    saved = S_SaveSymbol(*symbol, cursor) != 0;
                    E_CloseLibWrite(writeHandle);
                }
            }
            if (!saved) ShowErrorByCode(dialogs, 7, trimmed);
        }();
        DropOrphanSymbols(writer.maskA, writer.maskB, writer.inUseKind);
    }
    E_CloseLibrary(writeHandle);
    dialogs.SetBusy(false);
    DropOrphanSymbols(writer.maskA, writer.maskB, writer.inUseKind);
}

}  // namespace

bool IsISymbolLibrary(const std::string& fileName) { return StartsWith(fileName, "I_") || StartsWith(fileName, "i_"); }

void PrepareListValues(BuilderTables& t) {
    for (UpgElement& e : t.UpgParts) e.ListValueA = 0, e.ListValueB = 1;
    for (auto* table : {&t.UpgSymbols, &t.UpgPackages, &t.UpgMparams})
        for (UpgElement& e : *table) e.ListValueA = 1, e.ListValueB = 0;
    for (UpgElement& e : t.UpgSparams) e.ListValueA = 5, e.ListValueB = 0;
    for (UpgDataFile& f : t.UpgSpcFiles) f.KindCode = 3, f.Spare = 0;
    for (UpgDataFile& f : t.UpgDatFiles) f.KindCode = 2, f.Spare = 0;
    for (UpgDataFile& f : t.UpgTalFiles) f.KindCode = 1, f.Spare = 0;
    for (UpgSbcFile& f : t.UpgSbcFiles) f.Spare = 0;
}

std::optional<int32_t> CopyDevice(int32_t source, const std::string& name) {
    ZK_DeviceRecord record{};
    if (D_ReadDevice(source, &record) == 0) return std::nullopt;
    const std::string text1 = StringFromPointer(record.text1), text2 = StringFromPointer(record.text2);
    const int32_t device = D_CreateDevice(0, name.c_str(), text1.c_str(), text2.c_str());
    if (device == 0) return std::nullopt;
    auto copyPins = [](int32_t from, int32_t to, int32_t count) {
        for (int32_t i = 1; i <= count; ++i) {
            ZK_PinRecord pin{};
            if (D_ReadPin(from, i, &pin) == 0) return false;
            const std::string pinName = StringFromPointer(pin.name);
            if (D_AddPin(to, pin.number, pinName.c_str()) == 0) return false;
        }
        return true;
    };
    bool ok = copyPins(D_SupplyPinArray(source), D_SupplyPinArray(device), record.supplyPinCount);
    for (int32_t j = 1; ok && j <= record.groupCount; ++j) {
        ZK_GroupRecord group{};
        ok = D_ReadGroup(source, j, &group) != 0;
        if (!ok) break;
        const std::string groupName = StringFromPointer(group.name), groupText = StringFromPointer(group.text2);
        const int32_t pinCount = group.pinCount;
        const int32_t added = D_AddGroup(device, groupName.c_str(), groupText.c_str());
        ok = added != 0 && copyPins(D_GroupPinArray(source, j), D_GroupPinArray(device, added), pinCount);
    }
    if (!ok) {
        OM_Delete(DB_DeviceMap(), device);
        return std::nullopt;
    }
    return device;
}

void WritePartLibrary(const BuilderState& builder, const Environment& env, ui::Dialogs& dialogs) {
    const std::string destination = DestinationPath(builder, kUpgradeLibraries[0]);
    if (!builder.destination) return;
    const std::string file = FileNameOf(destination);
    const BuilderTables& t = builder.tables;
    dialogs.SetBusy(true);
    int32_t slot = ZK_SLOT_PART;
    int32_t destinationHandle = 0;
    LibraryHandles sourceLibraries;
    for (size_t i = 0; i + 1 < t.UpgParts.size(); ++i) {
        const std::string& name = t.UpgParts[i].Name;
        [&] {
            const UpgElement& element = t.UpgParts[i];
            ClearWorkingDatabase();
            const int32_t source =
                OpenSourceLibrary(sourceLibraries, env, t.PartSources, element, ZK_KIND_PART_LIBRARY);
            const bool loaded = source > 0 && LoadElementFrom(true, source, slot, name);
            if (slot == 0) slot = ZK_SLOT_PART;
            if (!loaded) return ShowErrorByCode(dialogs, 4, name);
            if (const auto copy = CopyDevice(slot, name)) O_Rename(D_Device(*copy), name.c_str());
            const auto device = FindDeviceByName(name);
            if (!device) return ShowErrorByCode(dialogs, 5, name);
            // Opened once, by the first part (which makes it); one that could not be opened is
            // asked for again by the next.
            if (destinationHandle < 1)
                destinationHandle = OpenLibraryIn(*builder.destination, file, ZK_KIND_PART_LIBRARY, -1);
            if (destinationHandle < 1) {
                destinationHandle = 0;
                return ShowErrorByCode(dialogs, 3, name);
            }
            bool saved = false;
            if (const int32_t cursor = E_OpenLibToWrite(destinationHandle, name.c_str()); cursor >= 1) {
                saved = D_SaveDevice(*device, cursor) != 0;
                E_CloseLibWrite(destinationHandle);
            }
            // A part that could not be written is reported, not passed over in silence.
            if (!saved) ShowErrorByCode(dialogs, 2, name);
        }();
        DropOrphanDevices();
    }
    E_CloseLibrary(destinationHandle);
    E_CloseLibrary(0);
    dialogs.SetBusy(false);
    DropOrphanDevices();
}

void WriteSymbolLibrary(const BuilderState& builder, const Environment& env, ui::Dialogs& dialogs, bool askOverwrite) {
    WriteSymbols(builder, env, dialogs, askOverwrite,
                 {&BuilderTables::UpgSymbols, &BuilderTables::SymbolSources, 1,
                  SymbolWriter::Filter::NotISymbols, ZK_SLOT_SYMBOL, 1, 3, 0, 1});
}
void WriteISymbolLibrary(const BuilderState& builder, const Environment& env, ui::Dialogs& dialogs, bool askOverwrite) {
    WriteSymbols(builder, env, dialogs, askOverwrite,
                 {&BuilderTables::UpgSymbols, &BuilderTables::SymbolSources, 2,
                  SymbolWriter::Filter::ISymbols, ZK_SLOT_SYMBOL, 1, 3, 0, 1});
}
void WritePackageLibrary(const BuilderState& builder, const Environment& env, ui::Dialogs& dialogs, bool askOverwrite) {
    WriteSymbols(builder, env, dialogs, askOverwrite,
                 {&BuilderTables::UpgPackages, &BuilderTables::PackageSources, 3,
                  SymbolWriter::Filter::None, ZK_SLOT_SYMBOL, 2, 2, 1, 0});
}
void WriteSparamLibrary(const BuilderState& builder, const Environment& env, ui::Dialogs& dialogs, bool askOverwrite) {
    WriteSymbols(builder, env, dialogs, askOverwrite,
                 {&BuilderTables::UpgSparams, &BuilderTables::SparamSources, 4,
                  SymbolWriter::Filter::None, ZK_SLOT_MODEL, 1, 3, 0, 1});
}
void WriteMparamLibrary(const BuilderState& builder, const Environment& env, ui::Dialogs& dialogs, bool askOverwrite) {
    WriteSymbols(builder, env, dialogs, askOverwrite,
                 {&BuilderTables::UpgMparams, &BuilderTables::MparamSources, 5,
                  SymbolWriter::Filter::None, ZK_SLOT_MODEL, 1, 3, 0, 1});
}

Outcome WriteUpgradeList(const BuilderState& builder, std::vector<std::string>& refusedNames) {
    const std::string path = TrimBlanks(DestinationPath(builder, kListFileName));
    if (path.empty()) return {};
    auto output = builder.destination ? TextOutput::OpenAt(*builder.destination, FileNameOf(path)) : nullptr;
    if (!output) return Failure{"the file cannot be created there"};
    // Writes a record of fields; a record with a name that cannot be written faithfully is left
    // out (it would read back as another element or file) and the name is kept for the report.
    auto record = [&](std::initializer_list<std::string> plain, const std::string& name,
                      std::initializer_list<std::pair<std::string, bool>> more) {
        std::string line;
        for (const std::string& field : plain) line += field + ",";
        const auto written = ListField(name);
        if (!written) return refusedNames.push_back(name);
        line += *written;
        for (const auto& [text, description] : more) {
            const auto field = ListField(description ? ListableDescription(text) : text);
            if (!field) return refusedNames.push_back(text);
            line += "," + *field;
        }
        output->WriteLine(TrimBlanks(line));
    };
    const BuilderTables& t = builder.tables;
    const auto n = [](int32_t value) { return IntToText(value); };
    output->WriteLine(kHeaderLine);
    auto elements = [&](const std::vector<UpgElement>& table, const std::vector<SourceLib>& sources, int type) {
        for (size_t i = 0; i + 1 < table.size(); ++i) {
            const UpgElement& e = table[i];
            const std::string& file = SourceFileName(sources, e);
            // Parts carry A then B; the other kinds B then A.
            const int32_t second = type == kPartRecord ? e.ListValueA : e.ListValueB;
            const int32_t third = type == kPartRecord ? e.ListValueB : e.ListValueA;
            if (type == kSymbolRecord)
                record({n(type), n(second), n(third)}, e.Name,
                       {{file, false}, {IsISymbolLibrary(file) ? "I_Upg.SYMBOL" : "A_Upg.SYMBOL", false}});
            else
                record({n(type), n(second), n(third)}, e.Name, {{file, false}});
        }
    };
    elements(t.UpgParts, t.PartSources, kPartRecord);
    elements(t.UpgSymbols, t.SymbolSources, kSymbolRecord);
    elements(t.UpgPackages, t.PackageSources, kPackageRecord);
    for (size_t i = 0; i + 1 < t.UpgMiscFiles.size(); ++i) {
        const UpgMiscFile& f = t.UpgMiscFiles[i];
        record({"4", n(f.Spare), n(f.TargetCode)}, f.FileName, {{f.Description.empty() ? "Misc File" : f.Description, true}});
    }
    for (const auto* table : {&t.UpgTalFiles, &t.UpgDatFiles, &t.UpgSpcFiles})
        for (size_t i = 0; i + 1 < table->size(); ++i) {
            const UpgDataFile& f = (*table)[i];
            record({"4", n(f.Spare), n(f.KindCode)}, f.FileName, {});
        }
    for (size_t i = 0; i + 1 < t.UpgSbcFiles.size(); ++i) {
        const UpgSbcFile& f = t.UpgSbcFiles[i];
        record({"4", n(f.Spare), n(f.KindCode)}, f.FileName, {{f.SubDir, false}});
    }
    elements(t.UpgSparams, t.SparamSources, kSparamRecord);
    elements(t.UpgMparams, t.MparamSources, kMparamRecord);
    for (const std::string_view readme : kReadmeRecords) output->WriteLine(readme);
    output->WriteLine(kEndLine);
    return output->Commit();
}

namespace {

// The names of every file a build writes into its folder: the upgrade libraries, the list, the
// manifest and its signature, and the chosen loose files.
std::vector<std::string> BuildOutputNames(const BuilderTables& t) {
    std::vector<std::string> names(kUpgradeLibraries.begin(), kUpgradeLibraries.end());
    for (const std::string_view name : {kListFileName, trust::kManifestName, trust::kSignatureName})
        names.emplace_back(name);
    auto add = [&names](const auto& table) {
        for (size_t i = 0; i + 1 < table.size(); ++i) names.push_back(table[i].FileName);
    };
    add(t.UpgMiscFiles);
    add(t.UpgTalFiles);
    add(t.UpgDatFiles);
    add(t.UpgSpcFiles);
    add(t.UpgSbcFiles);
    return names;
}

// Why the zip file `archive` may not be written: it is a file of the build's folder, or a file a
// chosen loose file was copied from (each compared as the file it is, not by its name).
std::optional<std::string> ArchiveClash(const BuilderState& builder, const Environment& env,
                                        const std::string& archive) {
    const size_t cut = archive.rfind('/');
    const auto folder =  // file-access: the folder of the zip file the user names, looked at once
        Directory::Open(cut == std::string::npos ? "." : archive.substr(0, cut == 0 ? 1 : cut));
    struct stat zip {};
    if (!folder || !folder->Look(archive.substr(cut == std::string::npos ? 0 : cut + 1), zip))
        return std::nullopt;
    auto same = [&zip](const Directory& dir, const std::string& name) {
        struct stat info {};
        return dir.Look(name, info) && info.st_dev == zip.st_dev && info.st_ino == zip.st_ino;
    };
    std::vector<std::string> names;
    builder.destination->List(names);
    for (const std::string& name : names)
        if (same(*builder.destination, name)) return "is a file of the upgrade folder";
    const BuilderTables& t = builder.tables;
    auto chosen = [&](const auto& table, auto sourceOf) -> bool {
        for (size_t i = 0; i + 1 < table.size(); ++i) {
            const auto source = SourceFolder(env, sourceOf(table[i]));
            if (source && same(**source, (*source)->Spelling(table[i].FileName))) return true;
        }
        return false;
    };
    if (chosen(t.UpgMiscFiles, [](const UpgMiscFile& f) { return f.SourceDir; }) ||
        chosen(t.UpgTalFiles, [&](const UpgDataFile&) { return env.LibDir; }) ||
        chosen(t.UpgDatFiles, [&](const UpgDataFile&) { return env.JobDir; }) ||
        chosen(t.UpgSpcFiles, [&](const UpgDataFile&) { return env.SysDir; }) ||
        chosen(t.UpgSbcFiles, [](const UpgSbcFile& f) { return f.SourceDir; }))
        return "is a file the upgrade was built from";
    return std::nullopt;
}

// What a complete build adds beside its files: the manifest of their digests, the signature of
// the manifest with the chosen key, the whole upgrade as one zip file. Each failure is said and
// kept in the report; the folder stays as it is.
void SealUpgrade(BuilderState& builder, const Environment& env, ui::Dialogs& dialogs) {
    const std::string& folder = builder.trimmedDestination;
    const Directory& destination = *builder.destination;
    std::vector<std::string>& failures = builder.lastBuild.sealFailures;
    auto fail = [&dialogs, &failures](const std::string& text) {
        failures.push_back(text);
        ShowWarning(dialogs, "Upgrade file(s) created, but " + text);
    };
    const auto written = trust::WriteManifest(destination, folder);
    if (!written)
        return fail("its manifest " + std::string(trust::kManifestName) +
                    " could not be written: " + written.Why());
    const std::string& manifest = *written;
    const BuildSeal& seal = builder.seal;
    if (!seal.signingKey.empty()) {
        // What was given is named only where it is a file: secret key text pasted in its place is
        // never repeated in a message.
        const std::string
            named =  // file-access: the key file the user names, no file of an installation or upgrade
            IsRegularFile(seal.signingKey) && seal.signingKey.find_first_of("\r\n") == std::string::npos
                ? "the key " + seal.signingKey
                : "the signing key given (no key file of that name; it is not shown)";
        std::string text;
        if (!ReadWholeFile(seal.signingKey, text, 4096))  // file-access: the key file the user names
            return fail("it is not signed: " + named + " cannot be read");
        std::optional<std::string> password;
        if (trust::SecretKeyIsEncrypted(text)) {
            password = dialogs.AskPassword("Password of the signing key " + seal.signingKey + ":");
            if (!password) {
                WipeText(text);
                return fail("it is not signed: no password was given for " + named);
            }
        }
        auto key = trust::ReadSecretKey(text, password ? *password : std::string());
        WipeText(text);
        if (password) WipeText(*password);
        if (!key) return fail("it is not signed: " + named + " cannot be used (" + key.Why() + ")");
        const std::string description = TrimBlanks(seal.description).empty() ? FileNameOf(folder) : seal.description;
        const std::string comment = OnOneLine(description) + "; built " + NowUtc() + "; zrxlibug " + ZRX_VERSION;
        if (const Outcome signedNow = trust::SignManifest(destination, folder, manifest, *key, comment);
            !signedNow)
            return fail("it is not signed: " + signedNow.Why());
    }
    if (!seal.archive.empty()) {
        // Only a zip is written, so only a name that says so is written to.
        if (!EndsWithIgnoreCase(seal.archive, ".zip"))
            return fail("no zip file is written: " + seal.archive + " does not end in .zip");
        std::vector<std::string> names = trust::FilesTheListUses(destination, folder);
        names.emplace_back(trust::kManifestName);
        if (!seal.signingKey.empty()) names.emplace_back(trust::kSignatureName);
        // The zip may not take the place of a file the upgrade is made of: one of the folder's own,
        // or one a chosen file was copied from.
        if (const auto clash = ArchiveClash(builder, env, seal.archive))
            return fail("no zip file is written: " + seal.archive + " " + *clash);
        if (const Outcome zipped = archive::WriteZip(destination, names, seal.archive); !zipped)
            return fail("the zip file " + seal.archive + " could not be written: " + zipped.Why());
        // The folder is still what the manifest says (the zip was written beside it, not into it).
        const trust::UpgradeCheck folderNow = trust::CheckUpgrade(destination, folder, {});
        if (folderNow.state != trust::UpgradeState::Intact && folderNow.state != trust::UpgradeState::Signed)
            return fail("the upgrade folder changed while its zip file was written: " + folderNow.Describe());
        // The zip is read back as a load reads it: unpacked under the archive rules, every file the
        // list uses checked against the manifest.
        const auto unpacked = UnpackUpgradeArchive(nullptr, seal.archive);
        if (!unpacked)
            return fail("the zip file " + seal.archive + " does not open as an upgrade: " + unpacked.Why());
        const trust::UpgradeCheck back = trust::CheckUpgrade(unpacked->folder, {});
        if (back.state != trust::UpgradeState::Intact)
            return fail("the zip file " + seal.archive + " does not read back as the upgrade: " + back.Describe());
    }
}

}  // namespace

namespace {

// The build's destination, opened once and checked: nothing is written where it may not be, nor a
// signed build where others could change its files, nor anything through a link in place of a
// file the build writes. Null (said in a box) when the build cannot go there.
std::shared_ptr<const Directory> OpenDestination(const BuilderState& builder, const Environment& env,
                                                 ui::Dialogs& dialogs) {
    auto opened = Directory::Open(builder.trimmedDestination);  // file-access: the destination, opened once
    if (!opened) {
        ShowCritical(dialogs, "The upgrade cannot be built: the folder " + builder.trimmedDestination +
                                  " cannot be opened (" + opened.Why() + "). Nothing was written.");
        return nullptr;
    }
    auto destination = std::make_shared<Directory>(std::move(*opened));
    // A signature says the upgrade's files are what this build wrote and read back: nobody else
    // may change them in between.
    if (struct stat info {}; !builder.seal.signingKey.empty() && destination->Info(info) &&
                             ((info.st_uid != ::geteuid() && info.st_uid != 0) ||
                              ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (info.st_mode & S_ISVTX) == 0))) {
        ShowCritical(dialogs, "The upgrade cannot be signed in " + builder.trimmedDestination + ": the folder " +
                                  (info.st_uid != ::geteuid() && info.st_uid != 0 ? "belongs to another user"
                                                                                  : "can be written by other users") +
                                  ", who could change its files between the build's check and its signature. "
                                  "Build it in a folder of your own; nothing was written.");
        return nullptr;
    }
    // Never into the program's own folder: its record and trusted keys are no upgrade's.
    if (const Outcome writable = InstallationAccess(env).MayWriteIn(*destination); !writable) {
        ShowCritical(dialogs, "The upgrade cannot be built in " + builder.trimmedDestination + ": " +
                                  writable.Why() + ". Choose another folder; nothing was written.");
        return nullptr;
    }
    // The build writes its own files there, never through a link: a link in place of one of them
    // (it could lead anywhere) stops the build before anything is written.
    std::vector<std::string> links;
    for (const std::string& name : BuildOutputNames(builder.tables)) {
        struct stat info {};
        const std::string spelt = destination->Spelling(name);
        if (destination->Look(spelt, info) && S_ISLNK(info.st_mode))
            links.push_back(JoinPath(builder.trimmedDestination, spelt));
    }
    if (!links.empty()) {
        std::string text =
            "The upgrade cannot be built: the folder holds symbolic links in place of files the build "
            "writes, and a build never writes through a link. Remove them, or choose another folder; "
            "nothing was written:";
        for (const std::string& link : links) text += "\r\n" + link;
        ShowCritical(dialogs, text);
        return nullptr;
    }
    return destination;
}

// The six upgrade libraries and the chosen files, into the destination; saves the kernel could not
// make durable are named.
void WriteLibrariesAndFiles(const BuilderState& builder, const Environment& env, ui::Dialogs& dialogs,
                            bool askOverwrite) {
    WritePartLibrary(builder, env, dialogs);
    WriteSymbolLibrary(builder, env, dialogs, askOverwrite);
    WriteISymbolLibrary(builder, env, dialogs, askOverwrite);
    WritePackageLibrary(builder, env, dialogs, askOverwrite);
    CopyBuildFiles(builder, *builder.destination, env, dialogs);
    WriteSparamLibrary(builder, env, dialogs, askOverwrite);
    WriteMparamLibrary(builder, env, dialogs, askOverwrite);
    if (E_FlushLibraries() == 0) {
        std::string names;
        for (int32_t i = 0; const char* name = E_FailedSave(i); ++i) names += (i ? ", " : "") + StringFromPointer(name);
        E_ClearFailedSaves();
        ShowWarning(dialogs, "These elements could not be written to the upgrade libraries: " + names);
    }
}

// After the list is written: created only once the folder, read back as the update run reads it,
// is what was chosen; then sealed (manifest, signature, zip) as asked.
void CheckAndSeal(BuilderState& builder, const Environment& env, ui::Dialogs& dialogs) {
    std::vector<std::string>& differences = builder.lastBuild.differences;
    differences =
        CheckBuiltUpgrade(builder.tables, env, *builder.destination, builder.trimmedDestination, builder.listOnly);
    if (differences.empty() && builder.listOnly) {
        // Only the list was made: the folder is not the whole upgrade yet, so nothing speaks for
        // its files (no manifest), nor is anything signed or packed.
        if (!builder.seal.signingKey.empty() || !builder.seal.archive.empty()) {
            builder.lastBuild.sealFailures.push_back("only its list was written: it is neither signed nor packed");
            ShowWarning(dialogs,
                        "Upgrade file(s) created, but only its list was written: it is neither signed nor "
                        "packed into a zip file");
            return;
        }
        ShowErrorByCode(dialogs, 15, "");
        return;
    }
    if (differences.empty()) {
        SealUpgrade(builder, env, dialogs);
        if (builder.lastBuild.sealFailures.empty()) ShowErrorByCode(dialogs, 15, "");
        return;
    }
    std::string text = "Upgrade file(s) created, but the upgrade is incomplete; read back, it differs from what was "
                       "chosen:";
    for (size_t i = 0; i < differences.size() && i < 20; ++i) text += "\r\n" + differences[i];
    if (differences.size() > 20) text += "\r\n... and " + std::to_string(differences.size() - 20) + " more";
    ShowWarning(dialogs, text);
}

}  // namespace

void BuildUpgrade(BuilderState& builder, const Environment& env, ui::Dialogs& dialogs, bool askOverwrite) {
    builder.lastBuild = BuildReport{};
    builder.destination.reset();
    if (DestinationPath(builder, kListFileName).empty()) return ShowErrorByCode(dialogs, 13, "");
    // The destination is opened once: everything the build writes and reads back goes through it.
    const auto destination = OpenDestination(builder, env, dialogs);
    if (!destination) return;
    builder.destination = destination;
    // A manifest or signature of an earlier build would speak for files this build replaces.
    for (const std::string_view name : {trust::kManifestName, trust::kSignatureName}) {
        struct stat info {};
        const std::string spelt = destination->Spelling(name);
        if (destination->Look(spelt, info) && S_ISREG(info.st_mode)) ::unlinkat(destination->Fd(), spelt.c_str(), 0);
    }
    PrepareListValues(builder.tables);
    if (!builder.listOnly) WriteLibrariesAndFiles(builder, env, dialogs, askOverwrite);
    std::vector<std::string> refused;
    if (const Outcome written = WriteUpgradeList(builder, refused); !written) {
        ShowCritical(dialogs, "The upgrade list " + TrimBlanks(DestinationPath(builder, kListFileName)) +
                                  " could not be written: " + written.Why() + ". The upgrade is not complete.");
        return;
    }
    builder.lastBuild.listWritten = true;
    for (const std::string& name : refused)
        ShowWarning(dialogs, "\"" + name +
                                 "\" cannot be written into Upgrade.lst: a name that holds a comma, or "
                                 "begins with a double quote, cannot also hold a double quote. It is left out of the "
                                 "list.");
    CheckAndSeal(builder, env, dialogs);
}

std::vector<std::string> CopyBuildFiles(const BuilderState& builder, const Directory& destination,
                                        const Environment& env, ui::Dialogs& dialogs) {
    const BuilderTables& t = builder.tables;
    // The folder the libraries and the list go to: the chosen one without blanks around it.
    const std::string& dest = builder.trimmedDestination;
    std::vector<std::string> notCopied;
    auto copyAll = [&](const auto& table, auto sourceOf) {
        for (const auto& entry : table) {
            if (entry.FileName.empty()) break;
            const std::string from = sourceOf(entry);
            const auto source = SourceFolder(env, from);
            const CopyResult copied = source ? InstallFile(dialogs, **source, from, destination, dest,
                                                           entry.FileName, entry.FileName)
                                             : CopyResult{CopyOutcome::Failed, source.Why()};
            if (copied.outcome == CopyOutcome::Copied) continue;
            // The list will name the file: say that the folder does not hold it (or holds another).
            notCopied.push_back(entry.FileName);
            if (copied.outcome == CopyOutcome::Failed)
                ShowWarning(dialogs, GetLocalMessage("Cannot copy file   ", 4435) + entry.FileName + ": " +
                                         copied.why + " (" + dest + ")");
        }
    };
    copyAll(t.UpgMiscFiles, [](const UpgMiscFile& f) { return f.SourceDir; });
    copyAll(t.UpgTalFiles, [&](const UpgDataFile&) { return env.LibDir; });
    copyAll(t.UpgDatFiles, [&](const UpgDataFile&) { return env.JobDir; });
    copyAll(t.UpgSpcFiles, [&](const UpgDataFile&) { return env.SysDir; });
    copyAll(t.UpgSbcFiles, [](const UpgSbcFile& f) { return f.SourceDir; });
    return notCopied;
}

}  // namespace zrx
