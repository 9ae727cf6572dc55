// The records e2e_check prints, one JSON object a line, and the names of
// their fields, declared once: the checker writes them, tests/e2e/journeys.py
// reads this header to find them (a name it uses that is not declared here
// fails the journeys' registration).
#pragma once

namespace check_record {

// Every record: the check ("same", "updated", "facts", ...), whether it held
// (false: the journey fails; null: a note, neither pass nor failure) and
// what was seen, for a person.
constexpr char kCheck[] = "check";
constexpr char kOk[] = "ok";
constexpr char kDetail[] = "detail";

// The facts record ("facts=SNAPSHOT"): the state an interrupted update and
// the run after it are judged by, under kFacts.
constexpr char kFacts[] = "facts";
constexpr char kFiles[] = "files";          // files of the list on this system
constexpr char kUpdated[] = "updated";      // holding the payload and the list's time
constexpr char kOld[] = "old";              // as the snapshot recorded them
constexpr char kNew[] = "new";              // the payload's bytes
constexpr char kUnstamped[] = "unstamped";  // new, without the list's time
constexpr char kPartial[] = "partial";      // neither old nor new
constexpr char kMissing[] = "missing";
constexpr char kTemporaries[] = "temporaries";  // paths of tmp*.tmp files left
constexpr char kUpdaterKey[] = "updater_key";   // the updater's own key exists
constexpr char kMarks[] = "marks";              // its values
constexpr char kRecords[] = "records";          // its subkeys' values
constexpr char kService[] = "service";          // "present", "absent", "unknown"
constexpr char kUninstallName[] = "uninstall_name";
constexpr char kUninstallVersion[] = "uninstall_version";
constexpr char kKeyFile[] = "key_file";  // "V,V,V,V:LENGTH", "" when unreadable

// The floor record ("floor"): the files and bytes copied, the fastest pass.
constexpr char kBytes[] = "bytes";
constexpr char kMs[] = "ms";

}  // namespace check_record
