// Temporaries of the updater that must not outlive a killed run.
//
// Every temporary file the updater makes (the write probe, the extracted and expanded
// copies beside each target, and the installed copy moved aside on the 9x family) is
// recorded under the updater's own registry key for as long as it exists. A
// run that is killed or loses power leaves the record behind, and the next
// start removes exactly the recorded files, and puts a moved-aside copy back
// where its target has gone. Files of the same "tmp" pattern that another
// program made are never touched.
#pragma once

#include <windows.h>

namespace leftovers {

// HKEY_LOCAL_MACHINE key that holds the records: one REG_SZ value per
// temporary, named by its path, whose data is the target a moved-aside copy
// belongs back to ("" for a plain temporary).
inline constexpr char kRecordKey[] = "SOFTWARE\\Marrowick\\VrUpdater1030\\Leftovers";
// The updater's own key, with the install pass mark (REG_DWORD 1).
inline constexpr char kUpdaterKey[] = "SOFTWARE\\Marrowick\\VrUpdater1030";

// Records path as a temporary of this run; restoreTo names the target of a
// moved-aside copy, null otherwise. False when the record cannot be written.
bool Record(const char* path, const char* restoreTo);
// Drops the record of path (the file is gone or has become a target).
void Forget(const char* path);

// Marks of an update that has not finished, kept under the updater's own key
// (flushed) until cleared: UpdateUnfinished (files may be new among old ones),
// ServiceRemoved (the product's service was removed and not installed again).
enum class Mark { UpdateUnfinished, ServiceRemoved };
void SetMark(Mark mark, bool set);
bool HasMark(Mark mark);

// Removes the leftovers of earlier runs: deletes each recorded temporary,
// moves a recorded aside copy back onto its target when the target is
// missing (and deletes it when the target is there). Records whose file
// cannot be handled now are kept for the next start. Does nothing while
// another updater runs (its temporaries are alive). Returns the number of
// records settled.
int RemoveEarlierLeftovers();

}  // namespace leftovers

// A recorded temporary file: deleted, and its record dropped, when the owner
// goes away, unless it was dismissed (it has become the target).
class RecordedTemporary {
 public:
  RecordedTemporary() = default;
  ~RecordedTemporary();
  RecordedTemporary(const RecordedTemporary&) = delete;
  RecordedTemporary& operator=(const RecordedTemporary&) = delete;

  // Starts owning path (already created by GetTempFileNameA) and records it
  // where the registry lets it. False when the path does not fit: the file
  // is then deleted at once and nothing is owned.
  bool Adopt(const char* path);
  // The file is no temporary any more: keep it, drop the record.
  void Dismiss();
  // Deletes the file now (a read-only one too) and drops the record.
  void Remove();
  const char* path() const { return path_; }

 private:
  char path_[MAX_PATH + 1] = {};
};
