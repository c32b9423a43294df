#include "apply/index_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include "apply/data_files.h"
#include "apply/run_record_hooks.h"
#include "apply/targets.h"
#include "base/dialogs.h"
#include "base/fields.h"
#include "base/messages.h"
#include "base/paths.h"
#include "base/text_file.h"
#include "base/text_utils.h"
#include "upgrade_list/list_format.h"
#include "upgrade_list/list_reader.h"

namespace zrx {

std::string NormaliseNetLine(std::string_view text) {
    std::string r;
    auto endsInBlank = [&r] { return !r.empty() && r.back() == ' '; };
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool nextIsNonBlank = i + 1 < text.size() && text[i + 1] != ' ';
        if (c == ' ') {
            if (!endsInBlank()) r += ' ';
        } else if (c == '=') {
            if (endsInBlank()) r.pop_back();
            r += '=';
            if (nextIsNonBlank) r += ' ';
        } else if (c == '[' || c == '(' || c == ']' || c == ')') {
            if (!endsInBlank()) r += ' ';
            r += c;
            if (nextIsNonBlank) r += ' ';
        } else {
            const auto code = static_cast<unsigned char>(c);
            r += code > 31 && code < 128 ? c : ' ';
        }
    }
    return r;
}

std::vector<std::string> SplitWords(std::string_view text) {
    std::vector<std::string> words;
    size_t start = 0;
    for (;;) {
        const size_t blank = text.find(' ', start);
        if (blank == std::string_view::npos) {
            words.emplace_back(text.substr(start));
            return words;
        }
        words.emplace_back(text.substr(start, blank - start));
        start = blank + 1;
    }
}

std::unique_ptr<IndexFile> IndexFile::Load(const std::string& path, Kind kind) {
    const size_t cut = path.rfind('/');
    // An index a caller names by its path (a tool's, a test's): its folder is opened once, here.
    const auto folder =  // file-access: opened once, used by its handle
        Directory::Open(cut == std::string::npos ? "." : path.substr(0, cut == 0 ? 1 : cut));
    if (!folder) return nullptr;
    return Load(*folder, path.substr(cut == std::string::npos ? 0 : cut + 1), path, kind);
}

std::unique_ptr<IndexFile> IndexFile::Load(const Directory& folder, const std::string& name,
                                           const std::string& path, Kind kind) {
    auto index = std::unique_ptr<IndexFile>(new IndexFile(path, kind));
    auto input = TextInput::OpenAt(folder, name);
    if (!input) return nullptr;
    // Room for the text of the file that is open, and its lines at about forty characters each
    // (the vector grows past that).
    const size_t size = input->Size();
    index->m_fileText.reserve(size);
    index->m_lines.reserve(size / 40);
    std::string_view line;
    while (input->ReadLine(line))
        if (!line.empty()) index->NewLine(line, false);
    if (input->LineTooLong()) return nullptr;
    index->Index();
    return index;
}

std::string_view IndexFile::Text(uint32_t line) const {
    const Line& l = m_lines[line];
    return std::string_view(l.added ? m_addedText : m_fileText).substr(l.offset, l.length);
}

// A line at the end of its buffer, not yet linked into the chain.
uint32_t IndexFile::NewLine(std::string_view text, bool added) {
    std::string& buffer = added ? m_addedText : m_fileText;
    m_lines.push_back(Line{buffer.size(), added ? 1u : 0u, static_cast<uint32_t>(text.size()), kNone});
    buffer.append(text);
    const auto number = static_cast<uint32_t>(m_lines.size() - 1);
    if (!added) {  // the file's lines come in order
        if (m_last == kNone) m_first = number;
        else m_lines[m_last].next = number;
        m_last = number;
    }
    return number;
}

std::string IndexFile::KeyOfLine(std::string_view line) const {
    std::string key;
    KeyOfLine(line, key);
    return key;
}

void IndexFile::KeyOfLine(std::string_view line, std::string& key) const {
    const int number = m_kind == Kind::ModelIndex ? 3 : 5;
    if (const auto field = PlainField(line, '|', number)) {
        // Into the caller's buffer: the keys of a whole file are worked out without a string each.
        key.assign(TrimmedBlanks(*field));
        MakeUpper(key);
        return;
    }
    key = ToUpper(TrimBlanks(SplitByBar(line).Field(number)));
}

std::string IndexFile::KeyOfLibrary(const std::string& library) const {
    return ToUpper(m_kind == Kind::ModelIndex ? library : TrimBlanks(library));
}

std::string_view IndexFile::DuplicateKey(std::string_view line) const {
    return m_kind == Kind::ModelIndex ? line : TrimmedBlanks(line);
}

std::string_view IndexFile::PresentKey(uint32_t line) const {
    return DuplicateKey(Text(line));
}

void IndexFile::Index() {
    m_firstOfLibrary.clear();
    m_present.Clear(m_lines.size());
    std::vector<uint32_t> order;
    order.reserve(m_lines.size());
    std::string key;
    for (uint32_t line = m_first; line != kNone; line = m_lines[line].next) {
        KeyOfLine(Text(line), key);
        m_firstOfLibrary.try_emplace(key, line);
        order.push_back(line);
    }
    m_present.InsertAll(order, [this](uint32_t member) { return PresentKey(member); });
}

bool IndexFile::Add(const std::string& given, const std::string& library) {
    // An entry is one line of the file, whatever its texts hold (a model text read from an upgrade
    // library may hold a line break).
    const std::string entry = OnOneLine(given);
    if (entry.empty()) return false;
    // One search: the entry becomes a line, and joins the set, unless an identical one is there.
    const auto next = static_cast<uint32_t>(m_lines.size());
    const uint32_t inserted = m_present.FindOrAdd(
        DuplicateKey(entry), [this](uint32_t member) { return PresentKey(member); },
        [&] { return NewLine(entry, true); });
    if (inserted != next) return false;
    const auto first = m_firstOfLibrary.find(KeyOfLibrary(library));
    const uint32_t after = first != m_firstOfLibrary.end() ? first->second : m_last;
    if (after == kNone) {
        m_first = inserted;
    } else {
        m_lines[inserted].next = m_lines[after].next;
        m_lines[after].next = inserted;
    }
    if (after == m_last) m_last = inserted;
    const std::string key = KeyOfLine(entry);
    const auto known = m_firstOfLibrary.find(key);
    if (known == m_firstOfLibrary.end()) {
        m_firstOfLibrary.emplace(key, inserted);
    } else if (key != KeyOfLibrary(library)) {
        // An entry whose own library field differs from its library (texts holding "|") may now
        // be the first line of that other library: work the positions out again.
        Index();
    }
    m_changed = true;
    return true;
}

std::vector<std::string> IndexFile::AddedLines() const {
    std::vector<std::string> lines;
    for (uint32_t line = m_first; line != kNone; line = m_lines[line].next)
        if (m_lines[line].added) lines.emplace_back(Text(line));
    return lines;
}

Outcome IndexFile::Save(const std::function<bool(const struct stat& written)>& beforeRename,
                        const Directory* folder, const std::string& name) {
    if (!m_changed) return {};
    auto output = folder != nullptr
                      ? TextOutput::OpenAt(*folder, name)
                      : TextOutput::Open(m_path);  // file-access: an index a caller named by its path
    if (!output) return Failure{"it cannot be written in its directory"};
    for (uint32_t line = m_first; line != kNone; line = m_lines[line].next) output->WriteLine(Text(line));
    if (Outcome committed = output->Commit(beforeRename); !committed) return committed;
    m_changed = false;
    return {};
}

namespace {

// Writes an index file the run has added to (`target`: where it is written, a link followed as
// the installation's rule allows); the lines are recorded for undo first (when the run is
// recorded), and a file whose lines cannot be recorded is not written.
Outcome SaveIndex(RunState& run, IndexFile& index, const Target& target) {
    if (!index.Changed()) return {};
    if (run.runRecord != nullptr) {
        if (Outcome told = run.runRecord->BeforeIndexSave(target, index.AddedLines()); !told) return told;
    }
    // The record learns the new file before it replaces the old one: a run killed in between
    // leaves a record that tells the new file from one changed by somebody else.
    if (run.runRecord == nullptr) return index.Save({}, target.folder.get(), target.name);
    return index.Save(
        [&run, &target](const struct stat& written) {
            return run.runRecord->BeforeIndexReplace(target.path, written);
        },
        target.folder.get(), target.name);
}

// The index entry of a subcircuit file (`name` of the upgrade, read as a run reads it): its name
// from the first line, its description and category from the second.
// `refused` says why, where the file is there but is not the one checked.
std::optional<std::string> SubcircuitEntry(const Directory& folder, const CheckedInPlace* inPlace,
                                           const std::string& name, const std::string& library,
                                           std::string& refused) {
    auto source = OpenUpgradeFile(folder, inPlace, name);
    if (!source) return std::nullopt;
    if (const Outcome pinned = PinChecked(*source); !pinned) {
        refused = pinned.Why();
        return std::nullopt;
    }
    auto input = TextInput::Adopt(std::move(source->file));
    if (!input) return std::nullopt;
    std::string first, second;
    if (!input->ReadLine(first) || !input->ReadLine(second)) return std::nullopt;
    const std::vector<std::string> words = SplitWords(NormaliseNetLine(SplitByComma(first).Field(1)));
    const std::string entryName = words.size() >= 2 ? words[1] : std::string();
    const FieldList fields = SplitByComma(second);
    const std::string_view descriptionField = fields.Field(1);
    const std::string description = TrimBlanks(descriptionField.size() > 1 ? descriptionField.substr(1) : std::string_view());
    return "X|" + entryName + "|library|" + description + "|" + library + "| " + TrimBlanks(fields.Field(2));
}

// The index file `name` of the installation's folder `dir` as the run reads and writes it: a link
// there is followed as the installation's rule allows. Nothing when it cannot be used. A missing
// index is no fault (none is made); one that is there and cannot be used is said in a box.
std::optional<Target> IndexTarget(InstallationAccess& access, const std::string& dir, const std::string& name,
                                  ui::Dialogs& dialogs, const std::string& cannot) {
    auto target = access.Resolve(dir, name);
    if (target && target->exists) return std::move(*target);
    if (!target) ShowWarning(dialogs, cannot + " " + JoinPath(dir, name) + ": " + target.Why());
    return std::nullopt;
}

}  // namespace

void UpdateSubcircuitIndex(const Environment& env, LoadedUpgrade& upgrade, RunState& run,
                           ui::Dialogs& dialogs, ui::StatusLine& status) {
    const std::vector<DataFileItem>& files = upgrade.lists.DataFileItems;
    if (files.empty() || files[0].Name.empty()) return;
    InstallationAccess access(env);
    const auto upgradeFolder = UpgradeFolder(upgrade);
    std::optional<Target> target;
    std::unique_ptr<IndexFile> index;
    bool ended = false;
    for (const DataFileItem& item : files) {
        dialogs.ProcessEvents();
        if (!IsSubcircuitFile(item.Name) || item.Update != 1) continue;
        // A subcircuit without a subdirectory has no library to be listed under; the others are
        // still indexed.
        const std::string library = ToUpper(item.TargetLib);
        if (library.empty()) continue;
        status.Say(GetLocalMessage("Updating Subcircuit index file", 4422));
        std::string refused;
        const auto entry = upgradeFolder ? SubcircuitEntry(**upgradeFolder, upgrade.InPlace.get(), item.Name,
                                                           library, refused)
                                         : std::nullopt;
        // A subcircuit changed in the upgrade folder since it was checked is not indexed from it;
        // said, since the file itself may be installed already.
        if (!refused.empty())
            ShowWarning(dialogs, GetLocalMessage("Cannot update Subcircuit index file", 4481) + " " +
                                     item.Name + ": " + refused);
        if (!entry) continue;
        if (!index && !target)
            target = IndexTarget(access, env.ZSMsbk, "Subcir.idx", dialogs,
                                 GetLocalMessage("Cannot update Subcircuit index file", 4481));
        if (!index && target)
            index = IndexFile::Load(*target->folder, target->name, target->path,
                                    IndexFile::Kind::SubcircuitIndex);
        if (!index) {
            status.Say(GetLocalMessage("Cannot update Subcircuit index file", 4481));
            ended = true;
            break;
        }
        index->Add(*entry, library);
    }
    if (const Outcome saved = index ? SaveIndex(run, *index, *target) : Outcome(); !saved) {
        // The new lines could not be written: said in the status line and, since they are lost
        // otherwise, in a box.
        status.Say(GetLocalMessage("Cannot update Subcircuit index file", 4481));
        ShowWarning(dialogs, GetLocalMessage("Cannot update Subcircuit index file", 4481) + " " +
                                 target->path + ": " + saved.Why());
        return;
    }
    if (!ended) status.Say(GetLocalMessage("Updating Subcircuit index file", 4422));
}

void UpdateModelIndex(const Environment& env, const LoadedUpgrade& upgrade, RunState& run,
                      ui::Dialogs& dialogs, ui::StatusLine& status) {
    const std::vector<ElementItem>& models = upgrade.lists.SpiceModelItems;
    if (models.empty() || models[0].Name.empty()) return;
    InstallationAccess access(env);
    std::optional<Target> target;
    std::unique_ptr<IndexFile> index;
    bool unreadable = false;
    for (const ElementItem& item : models) {
        dialogs.ProcessEvents();
        status.Say(GetLocalMessage("Updating  model parameter index file", 4479));
        if (!EndsWith(ToUpper(item.TargetLib), ".SML") || item.Copied != 1 || item.Update != 1) continue;
        const std::string library =
            ToUpper(TrimBlanks(item.TargetLib.substr(0, item.TargetLib.size() >= 4 ? item.TargetLib.size() - 4 : 0)));
        // An index that cannot be opened (missing, unreadable) skips the model silently: none is made.
        if (!index && !unreadable) {
            target = IndexTarget(access, env.ZSMmod, "modpar.idx", dialogs,
                                 GetLocalMessage("Cannot update model parameter index file", 4480));
            if (target)
                index =
                    IndexFile::Load(*target->folder, target->name, target->path, IndexFile::Kind::ModelIndex);
        }
        if (!index) {
            unreadable = true;
            continue;
        }
        index->Add(item.Texts().ModelText1 + "||" + library + "|" + item.Name + "|" + item.Texts().ModelText3, library);
    }
    if (const Outcome saved = index ? SaveIndex(run, *index, *target) : Outcome(); !saved) {
        status.Say(GetLocalMessage("Cannot update model parameter index file", 4480));
        ShowWarning(dialogs, GetLocalMessage("Cannot update model parameter index file", 4480) + " " +
                                 target->path + ": " + saved.Why());
        return;
    }
    status.Say(GetLocalMessage("Updating Model parameter index file", 4445));
}

}  // namespace zrx
