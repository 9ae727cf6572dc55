#include "support/SeamRecorder.h"

#include "win32/ResString.h"
#include "win32/Seams.h"

namespace vrtest {
namespace {

SeamRecorder* g_recorder = nullptr;

}  // namespace

void SeamRecorder::RecordPause(DWORD ms) {
  SeamRecorder* recorder = g_recorder;
  while (!recorder->recordsPauses_) recorder = recorder->outer_;
  SeamRecorder& r = *recorder;
  r.pauses.push_back(ms);
  if (r.notePause) r.pauseNotes += r.notePause();
  if (r.realSleepDivisor) Sleep(ms / r.realSleepDivisor);
  if (r.onPause) r.onPause(ms);
}

namespace {

int RecordBox(HWND owner, const char* text, const char* caption, UINT type) {
  SeamRecorder& r = *g_recorder;
  r.boxes.push_back(
      {owner, text ? text : "", caption ? caption : "", caption != nullptr, type, r.pauses.size()});
  if (r.answerBox) return r.answerBox(r.boxes.back());
  const size_t index = r.boxes.size() - 1;
  return index < r.answers.size() ? r.answers[index] : r.answer;
}

}  // namespace

SeamRecorder::SeamRecorder(int answerOtherwise, Record what)
    : answer(answerOtherwise), recordsPauses_(what == Record::PausesAndBoxes), outer_(g_recorder) {
  g_recorder = this;
  if (recordsPauses_) seams::SetPauseHook(&RecordPause);
  seams::SetMessageBoxHook(&RecordBox);
}

SeamRecorder::~SeamRecorder() {
  g_recorder = outer_;
  bool pausesRecorded = false;
  for (const SeamRecorder* r = outer_; r; r = r->outer_) pausesRecorded |= r->recordsPauses_;
  if (!pausesRecorded) seams::SetPauseHook(nullptr);
  if (!outer_) seams::SetMessageBoxHook(nullptr);
}

size_t SeamRecorder::CountPauses(DWORD ms) const {
  size_t n = 0;
  for (DWORD p : pauses) n += (p == ms);
  return n;
}

DWORD SeamRecorder::PauseTotal(size_t from, size_t to) const {
  DWORD total = 0;
  for (size_t i = from; i < to && i < pauses.size(); ++i) total += pauses[i];
  return total;
}

size_t SeamRecorder::LongestPause() const {
  size_t longest = pauses.size();
  for (size_t i = 0; i < pauses.size(); ++i)
    if (longest == pauses.size() || pauses[i] > pauses[longest]) longest = i;
  return longest;
}

size_t SeamRecorder::FirstPauseNoted(char c) const {
  const size_t at = pauseNotes.find(c);
  return at == std::string::npos ? pauses.size() : at;
}

std::string ResText(UINT id) {
  char text[1024] = {};
  win32::LoadResString(id, text, sizeof text);
  return text;
}

}  // namespace vrtest
