#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zrx {

struct Environment;

// The grammar of Upgrade.lst, shared by the load-mode reader, the builder's writer and its reload.
// One record per line, fields separated by commas, field 1 the record type.
enum RecordType : int {
    kHeaderRecord = 0,
    kPartRecord = 1,
    kSymbolRecord = 2,
    kPackageRecord = 3,
    kDataFileRecord = 4,
    kSparamRecord = 5,
    kMparamRecord = 6,
    kReadmeRecord = 7,
    kEndRecord = 99,
};

inline constexpr std::string_view kListFileName = "Upgrade.lst";
// The six upgrade libraries in the order of the header's fields 2 to 7 (index 0 to 5).
inline constexpr std::array<std::string_view, 6> kUpgradeLibraries = {
    "Upgrade.PART", "A_Upg.SYMBOL", "I_Upg.SYMBOL", "Upgrade.PACKAGE", "Upgrade.SPARAM", "Upgrade.MPARAM"};
inline constexpr std::string_view kHeaderLine =
    "0,Upgrade.PART,A_Upg.SYMBOL,I_Upg.SYMBOL,Upgrade.PACKAGE,Upgrade.SPARAM,Upgrade.MPARAM";
inline constexpr std::string_view kEndLine = "99,END";
// The readme records every list the builder writes.
inline constexpr std::array<std::string_view, 9> kReadmeRecords = {
    "7,********************README*****************************************",
    "7,This program is intended to update user's library files",
    "7,A list of newly available library elements are shown in the table.",
    "7,User is supposed to close opened databases as a precaution.",
    "7,Unselect the particular files not required for updating.",
    "7,Ensure that Zarnix32 directory and all associated subdirs are set correctly.",
    "7,Zarnix32 subdirs are not to be renamed according to the user's wish.",
    "7,Summary listing will be provided after the upgradation.",
    "7,User must ensure that all Upgrade related components are in a single directory."};

// A header is accepted when its field 2 names the upgrade part library, in any letter case.
bool IsAcceptedHeaderField(std::string_view field2);

// The record type of a line's field 1 as the readers take it: its numeric value; a value that
// is no whole number in the table is -1 (ignored); 0 (also an empty or non-numeric field) is a
// header.
int RecordTypeOf(float field1Value);

// Destination codes 1 to 8 are the target directories "\Lib" ... "\Zsm_wrk"; 9 is the subcircuit
// directory with the record's subdirectory; any other code is the library directory.
inline constexpr std::array<std::string_view, 8> kTargetTexts = {"\\Lib",     "\\Job",     "\\Sys",     "\\ZSm_cml",
                                                                 "\\ZSm_mod", "\\ZSm_sbk", "\\ZSm_udn", "\\Zsm_wrk"};
const std::string& TargetDirForCode(int32_t code, const Environment& env);
// Whether a data file is a subcircuit file (its trimmed name ends in ".SBC", any case).
bool IsSubcircuitFile(std::string_view name);
// The code of a target text of the builder's box (exact, with case); 1 for any other text.
int32_t TargetCodeForText(std::string_view text);

// Whether a name from a list is a plain name that stays in its directory: not empty, no path
// separator, not "." or "..", no drive, no control character. Returns the reason it is not.
std::optional<std::string> UnsafeNameReason(std::string_view name);

// A field as the list holds it so that the readers read it back as it is: a field that holds a
// comma or begins with a double quote goes in double quotes. Nothing when the text has no such
// form (it would need quotes and holds a double quote, or it holds a line break).
std::optional<std::string> ListField(std::string_view text);
// Why a name cannot go into a list as it is (nothing when it can): a file, library or folder name
// (`isPath`) must be one the readers accept, blanks around it would be lost, and every name must
// have a faithful field.
std::optional<std::string> UnlistableNameReason(std::string_view name, bool isPath);
// A description as the list can hold it: on one line, without blanks around it, and with
// apostrophes for double quotes where it needs quotes itself.
std::string ListableDescription(std::string_view description);

}  // namespace zrx
