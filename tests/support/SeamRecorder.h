// The one recorder of the test seams (win32/Seams.h): every fixed pause and
// every message box of the code under test is recorded instead of waited for
// or shown, and each box is answered as the test says; and the texts of the
// updater's string table that the boxes show.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

namespace vrtest {

// A message box the code under test asked for.
struct Box {
  HWND owner;
  std::string text;     // "" when none was given
  std::string caption;  // "" when none was given
  bool hasCaption;      // false: null, Windows' own "Error" caption
  UINT type;
  size_t pausesBefore;  // how many pauses were recorded before it
};

// Installs the message-box hook, and the pause hook unless it records boxes
// only (a test of the real, answering pause), while it lives; recorders nest,
// the innermost one records, and the real calls come back when the last one
// goes. Each pause is recorded, then slept for realSleepDivisor-th of its
// length (0: not at all) so that other processes get time to act, then told
// to onPause (when set), which looks at the run from inside it. A box is
// answered by answerBox when set; otherwise by answers in order, and by
// answer once they run out.
enum class Record { PausesAndBoxes, BoxesOnly };

class SeamRecorder {
 public:
  explicit SeamRecorder(int answer = IDCANCEL, Record what = Record::PausesAndBoxes);
  ~SeamRecorder();
  SeamRecorder(const SeamRecorder&) = delete;
  SeamRecorder& operator=(const SeamRecorder&) = delete;

  std::vector<DWORD> pauses;
  std::vector<Box> boxes;
  std::vector<int> answers;
  int answer;
  std::function<int(const Box&)> answerBox;
  DWORD realSleepDivisor = 0;
  std::function<void(DWORD)> onPause;
  // Asked at each pause what the run has done by then (a mark set, a file
  // written), one character kept per pause in pauseNotes: pauses are then
  // checked by what happened around them, not by copies of their lengths.
  std::function<char()> notePause;
  std::string pauseNotes;

  // How many pauses were exactly ms long.
  size_t CountPauses(DWORD ms) const;
  // The sum of pauses [from, to).
  DWORD PauseTotal(size_t from = 0, size_t to = SIZE_MAX) const;
  // Where the first of the longest pauses stands; pauses.size() when none.
  size_t LongestPause() const;
  // The first pause whose note is c; pauses.size() when none.
  size_t FirstPauseNoted(char c) const;
  // How many pauses came after box i was answered.
  size_t PausesAfterBox(size_t i) const { return pauses.size() - boxes.at(i).pausesBefore; }

 private:
  static void RecordPause(DWORD ms);
  const bool recordsPauses_;
  SeamRecorder* const outer_;
};

// A string of the updater's string table, as the code under test loads it.
std::string ResText(UINT id);

}  // namespace vrtest
