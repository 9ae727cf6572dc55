// Temporaries of the updater that must not outlive a killed run, and the
// marks of an update that has not finished.
//
// Every temporary file the updater makes (the update list in the user's
// temporary folder, the write probe, the extracted and expanded copies beside
// each target, and the installed copy moved aside on the 9x family) is
// recorded under the updater's own registry key for as long as it exists. A
// run that is killed or loses power leaves the record behind, and the next
// start settles it: the recorded file is deleted, or a moved-aside copy is put
// back where its target has gone.
//
// The key is made for administrators and the system only
// (win32/AdminOnlyKey.h), and a record is acted upon only when the updater
// itself could have made it: a name GetTempFileNameA gives ("tmp", one to
// four hexadecimal digits, ".tmp") directly in a folder of the loaded update
// list's targets or in the program folder, and for a moved-aside copy a
// target of that list in the same folder. Every other record is dropped and
// its file left alone. Files of the same pattern that nobody recorded are
// never touched. The updater's key is removed again as soon as nothing is
// left in it.
#pragma once

#include <windows.h>

#include "win32/Platform.h"

class UpdateList;

namespace leftovers {

// The updater's own key (HKEY_LOCAL_MACHINE), with the marks (REG_DWORD 1,
// named like the Mark), and below it the key of the records: one REG_SZ value
// per temporary, named by its path. Its data is the target a moved-aside copy
// belongs back to ("" for a plain temporary), preceded by
// kRedirectionOffMark when the temporary was made with WOW64 redirection
// switched off (a path never holds that character): "*" is a plain temporary
// of the real 64-bit system folder.
inline constexpr char kUpdaterKey[] = "SOFTWARE\\Marrowick\\VrUpdater1030";
inline constexpr char kRecordKey[] = "SOFTWARE\\Marrowick\\VrUpdater1030\\Leftovers";
inline constexpr char kRedirectionOffMark = '*';

// Records path as a temporary of this run (made inside a span with WOW64
// redirection off when win32::InRedirectionOffSpan() says so); restoreTo
// names the target of a moved-aside copy, null otherwise. The record is on
// the disc when this returns. False when it cannot be written.
bool Record(const char* path, const char* restoreTo);
// Drops the record of path (the file is gone or has become a target); the
// last one takes the updater's key with it when nothing else is left there.
void Forget(const char* path);

// Claims a name of the form GetTempFileNameA gives ("tmp", four hexadecimal
// digits, ".tmp") in folder (at most MAX_PATH - 14 characters, as
// GetTempFileNameA allows), under which nothing exists, and records it (as
// Record, with restoreTo) before anything is made under it: a run that ends
// at any moment leaves nothing or a recorded name, never a file nobody
// recorded. With create the file is then made, empty; a file that appeared
// meanwhile is never taken over. False when the folder is too long or
// cannot be written, or no free name is found; nothing is left then.
bool ClaimRecordedName(const char* folder, const char* restoreTo, bool create, char* out,
                       size_t capacity);

// Marks of an update that has not finished, kept under the updater's own key
// (flushed) until cleared: UpdateUnfinished (files may be new among old ones),
// ServiceRemoved (the product's service was removed and not installed again).
enum class Mark { UpdateUnfinished, ServiceRemoved };
void SetMark(Mark mark, bool set);
bool HasMark(Mark mark);

// True when records of an earlier run are there to be settled.
bool AnyRecords();

// Settles the records of earlier runs against list, loaded for this machine
// (osClass: its Windows, which decides where a group's files lie):
// deletes each recorded temporary and moves a recorded aside copy back onto
// its target when the target is missing (deletes it when the target is
// there), each where it was made (WOW64 redirection off for a marked record).
// Records the updater cannot have made are dropped without touching their
// files; records whose file cannot be handled now are kept for the next
// start. The caller makes sure that no other updater runs (their
// temporaries would be alive). Returns the number of records settled.
int RemoveEarlierLeftovers(const UpdateList& list, OsClass osClass);

}  // namespace leftovers

// A recorded temporary file: deleted, and its record dropped, when the owner
// goes away, unless it was dismissed (it has become the target).
class RecordedTemporary {
 public:
  RecordedTemporary() = default;
  ~RecordedTemporary();
  RecordedTemporary(const RecordedTemporary&) = delete;
  RecordedTemporary& operator=(const RecordedTemporary&) = delete;

  // Makes a new empty temporary in folder (leftovers::ClaimRecordedName) and
  // owns it. False when none can be made there; nothing is owned then.
  bool MakeIn(const char* folder);
  // The same in the folder of path (the target it is made for).
  bool MakeBeside(const char* path);
  // The file is no temporary any more: keep it, drop the record.
  void Dismiss();
  // Deletes the file now (a read-only one too) and drops the record.
  void Remove();
  const char* path() const { return path_; }

 private:
  char path_[MAX_PATH + 1] = {};
};
