#include "builder/build_check.h"

#include <array>

#include "apply/data_files.h"
#include "apply/targets.h"
#include "base/paths.h"
#include "base/text_utils.h"
#include "builder/builder_lists.h"
#include "builder/upgrade_writer.h"
#include "kernel/installation.h"
#include "kernel/library_handles.h"
#include "kernel/zrxkernel.h"
#include "upgrade_list/list_format.h"
#include "upgrade_list/list_reader.h"

namespace zrx {

namespace {

// A record as the build must have written it.
struct Expected {
    std::string name, targetLib, upgSymbolLib, fileType;
    int32_t destKind = 0;
    std::string source;  // the library or folder it was taken from
};

const char* KindWord(int type) {
    switch (type) {
        case kPartRecord: return "part";
        case kSymbolRecord: return "symbol";
        case kPackageRecord: return "package";
        case kSparamRecord: return "SPARAM model";
        case kMparamRecord: return "MPARAM model";
        default: return "file";
    }
}

std::string Label(const std::string& name, int type) { return "\"" + Printable(name) + "\" (" + KindWord(type) + ")"; }

std::vector<Expected> ChosenElements(const std::vector<UpgElement>& chosen, const std::vector<SourceLib>& sources,
                                     int type) {
    std::vector<Expected> expected;
    for (size_t i = 0; i + 1 < chosen.size(); ++i) {
        const UpgElement& element = chosen[i];
        const bool known = element.SourceIndex >= 0 && static_cast<size_t>(element.SourceIndex) < sources.size();
        const SourceLib source = known ? sources[static_cast<size_t>(element.SourceIndex)] : SourceLib{};
        Expected e;
        e.name = element.Name;
        e.targetLib = source.FileName;
        if (type == kSymbolRecord) e.upgSymbolLib = IsISymbolLibrary(source.FileName) ? "I_Upg.SYMBOL" : "A_Upg.SYMBOL";
        // The numbers as the list writer writes them: parts A then B, the other kinds B then A.
        e.destKind = type == kPartRecord ? element.ListValueB : element.ListValueA;
        e.source = JoinPath(source.Dir, source.FileName);
        expected.push_back(std::move(e));
    }
    return expected;
}

std::vector<Expected> ChosenFiles(const BuilderTables& t, const Environment& env) {
    std::vector<Expected> expected;
    for (size_t i = 0; i + 1 < t.UpgMiscFiles.size(); ++i) {
        const UpgMiscFile& f = t.UpgMiscFiles[i];
        expected.push_back({f.FileName, {}, {}, f.Description.empty() ? "Misc File" : f.Description, f.TargetCode,
                            f.SourceDir});
    }
    const std::pair<const std::vector<UpgDataFile>*, const std::string*> plain[] = {
        {&t.UpgTalFiles, &env.LibDir}, {&t.UpgDatFiles, &env.JobDir}, {&t.UpgSpcFiles, &env.SysDir}};
    for (const auto& [table, dir] : plain)
        for (size_t i = 0; i + 1 < table->size(); ++i)
            expected.push_back({(*table)[i].FileName, {}, {}, {}, (*table)[i].KindCode, *dir});
    for (size_t i = 0; i + 1 < t.UpgSbcFiles.size(); ++i) {
        const UpgSbcFile& f = t.UpgSbcFiles[i];
        expected.push_back({f.FileName, f.SubDir, {}, {}, f.KindCode, f.SourceDir});
    }
    return expected;
}

class Checker {
public:
    Checker(const ListContents& contents, const Directory& folder, const Environment& env, bool listOnly)
        : m_contents(contents), m_folder(folder), m_env(env), m_listOnly(listOnly) {}

    void Elements(const std::vector<Expected>& expected, int type) {
        const LoadedList& list = m_contents.list;
        const size_t count = list.Count(type);
        for (size_t i = 0; i < expected.size() || i < count; ++i) {
            if (i >= count) {
                Say(Label(expected[i].name, type) + " is not in the upgrade list");
                continue;
            }
            const LoadedList::View read = list.At(type, i);
            if (i >= expected.size()) {
                Say("the upgrade list names " + Label(std::string(read.Name), type) + ", which was not chosen");
                continue;
            }
            const Expected& e = expected[i];
            if (read.Name != e.name) {
                Say(Label(e.name, type) + " reads back from the upgrade list as \"" + Printable(read.Name) + "\"");
                continue;
            }
            if (read.TargetLib != e.targetLib)
                Say(Label(e.name, type) + " names the library \"" + Printable(read.TargetLib) + "\" instead of \"" +
                    Printable(e.targetLib) + "\"");
            if (type == kSymbolRecord && !EqualsIgnoreCase(read.UpgSymbolLib, e.upgSymbolLib))
                Say(Label(e.name, type) + " names the upgrade library \"" + Printable(read.UpgSymbolLib) + "\"");
            if (read.Withheld != 0 || read.DestKind != e.destKind)
                Say(Label(e.name, type) + " is listed with other numbers than chosen");
            if (!m_listOnly) Content(e, type, std::string(read.Name), std::string(read.UpgSymbolLib));
        }
    }

    void Files(const std::vector<Expected>& expected) {
        const LoadedList& list = m_contents.list;
        const size_t count = list.Count(kDataFileRecord);
        for (size_t i = 0; i < expected.size() || i < count; ++i) {
            if (i >= count) {
                Say(Label(expected[i].name, kDataFileRecord) + " is not in the upgrade list");
                continue;
            }
            const LoadedList::View read = list.At(kDataFileRecord, i);
            if (i >= expected.size()) {
                Say("the upgrade list names " + Label(std::string(read.Name), kDataFileRecord) + ", which was not chosen");
                continue;
            }
            const Expected& e = expected[i];
            if (read.Name != e.name) {
                Say(Label(e.name, kDataFileRecord) + " reads back from the upgrade list as \"" + Printable(read.Name) +
                    "\"");
                continue;
            }
            if (read.DestKind != e.destKind || read.Withheld != 0)
                Say(Label(e.name, kDataFileRecord) + " goes to another target directory than chosen");
            if (read.TargetLib != e.targetLib)
                Say(Label(e.name, kDataFileRecord) + " goes to the subdirectory \"" + Printable(read.TargetLib) +
                    "\" instead of \"" + Printable(e.targetLib) + "\"");
            if (read.FileType != e.fileType)
                Say(Label(e.name, kDataFileRecord) + " is described as \"" + Printable(read.FileType) + "\" instead of \"" +
                    Printable(e.fileType) + "\"");
            if (m_listOnly) continue;
            // The file as the update run finds it in the folder, beside the one it was copied from.
            const auto built = m_folder.OpenRegular(m_folder.Spelling(e.name));
            const auto sourceFolder = SourceFolder(m_env, e.source);
            const auto source = sourceFolder ? (*sourceFolder)->OpenRegular((*sourceFolder)->Spelling(e.name))
                                             : Result<FileHandle>(Failure{sourceFolder.Why()});
            const auto same = built && source ? SameBytes(source->Fd(), built->Fd()) : std::nullopt;
            if (!same) Say(Label(e.name, kDataFileRecord) + " is not in the upgrade folder, or cannot be read there");
            else if (!*same) Say(Label(e.name, kDataFileRecord) + " in the upgrade folder is not the file of " + e.source);
        }
    }

    std::vector<std::string> Take() { return std::move(m_differences); }

private:
    void Say(std::string difference) { m_differences.push_back(std::move(difference)); }

    // The element in its upgrade library, as the update run loads it, against its source.
    void Content(const Expected& e, int type, const std::string& listedName, const std::string& upgSymbolLib) {
        const char* kind = LibraryKindOf(type);
        const std::string& upgrade = UpgradeLibraryOf(m_contents.libraries, type, upgSymbolLib);
        std::string why;
        const int32_t built =
            m_libraries.Open(m_folder, m_folder.Spelling(FileNameOf(upgrade)), kind, false, &why);
        if (built == 0) return Say(Label(e.name, type) + ": the upgrade library " + upgrade + " cannot be read (" + why + ")");
        const size_t cut = e.source.rfind('/');
        const auto sourceFolder = SourceFolder(m_env, e.source.substr(0, cut == 0 ? 1 : cut));
        if (!sourceFolder) why = sourceFolder.Why();
        const int32_t source =
            sourceFolder ? m_libraries.Open(**sourceFolder, e.source.substr(cut + 1), kind, false, &why) : 0;
        if (source == 0) return Say(Label(e.name, type) + ": its library " + e.source + " cannot be read (" + why + ")");
        switch (E_CompareElements(source, e.name.c_str(), built, listedName.c_str())) {
            case 1: return;
            case 0: return Say(Label(e.name, type) + " in " + upgrade + " is not what " + e.source + " holds");
            case -1: return Say(Label(e.name, type) + " is no longer in " + e.source);
            case -2: return Say(Label(e.name, type) + " is not in " + upgrade);
            default: return Say(Label(e.name, type) + ": " + StringFromPointer(E_LastError()));
        }
    }

    const ListContents& m_contents;
    const Directory& m_folder;
    const Environment& m_env;
    bool m_listOnly;
    LibraryHandles m_libraries;
    std::vector<std::string> m_differences;
};

}  // namespace

std::vector<std::string> CheckBuiltUpgrade(const BuilderTables& t, const Environment& env,
                                           const Directory& destination, const std::string& folder,
                                           bool listOnly) {
    ListContents contents;
    const ListReadFailure failure = ReadListFile(destination, folder, contents);
    if (failure.kind != ListReadFailure::Kind::None)
        return {"the upgrade list cannot be read back: " + ListFailureText(failure, JoinPath(folder, kListFileName))};
    std::vector<std::string> differences;
    {
        Checker checker(contents, destination, env, listOnly);
        checker.Elements(ChosenElements(t.UpgParts, t.PartSources, kPartRecord), kPartRecord);
        checker.Elements(ChosenElements(t.UpgSymbols, t.SymbolSources, kSymbolRecord), kSymbolRecord);
        checker.Elements(ChosenElements(t.UpgPackages, t.PackageSources, kPackageRecord), kPackageRecord);
        checker.Elements(ChosenElements(t.UpgSparams, t.SparamSources, kSparamRecord), kSparamRecord);
        checker.Elements(ChosenElements(t.UpgMparams, t.MparamSources, kMparamRecord), kMparamRecord);
        checker.Files(ChosenFiles(t, env));
        differences = checker.Take();
    }
    // The libraries it looked into are let go: the folder is the user's now.
    E_FlushLibraries();
    return differences;
}

}  // namespace zrx
