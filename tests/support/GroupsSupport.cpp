#include "support/GroupsSupport.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "res/resource.h"
#include "testbed/common/ProductKeys.h"
#include "win32/ResString.h"
#include "win32/Seams.h"

namespace vrtest {
namespace {

std::vector<ShownMessage> g_shown;
int g_answer = IDOK;
std::vector<DWORD> g_pauses;

int RecordMessage(HWND, const char* text, const char* caption, UINT type) {
  g_shown.push_back({text ? text : "", caption ? caption : "", type});
  return g_answer;
}

void RecordPause(DWORD milliseconds) { g_pauses.push_back(milliseconds); }

bool SetStringValue(const char* subkey, const char* name, const std::string& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  LONG rc = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

}  // namespace

int ExpectedOsClass() {
  const char* line = GetCommandLineA();
  const char* option = strstr(line, "--expect-os-class=");
  return option ? atoi(option + strlen("--expect-os-class=")) : -1;
}

const char* AppPathsKey() { return testbed::kAppPathsKey; }
const char* UninstallKey() { return testbed::kUninstallKey; }

bool MakeFolders(const std::string& folder) {
  for (size_t i = 3; i <= folder.size(); ++i) {
    if (i == folder.size() || folder[i] == '\\')
      CreateDirectoryA(folder.substr(0, i).c_str(), nullptr);
  }
  DWORD attributes = GetFileAttributesA(folder.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool InstallProductAt(const std::string& folder) {
  return MakeFolders(folder) && SetStringValue(AppPathsKey(), "Path", folder);
}

void UninstallProduct() {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, AppPathsKey());
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, UninstallKey());
}

bool PlaceKeyFile(const std::string& id, const std::string& path, DWORD length) {
  const std::string source = ExeFolder() + "groups_key_" + id + ".dll";
  if (!CopyFileA(source.c_str(), path.c_str(), FALSE)) return false;
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (length == 0) return true;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD size = GetFileSize(file, nullptr);
  bool ok = size <= length;
  if (ok) {
    // Trailing bytes beyond the image do not disturb the version resource.
    std::vector<char> zeros(length - size, '\0');
    DWORD written = 0;
    SetFilePointer(file, 0, nullptr, FILE_END);
    ok = zeros.empty() ||
         (WriteFile(file, zeros.data(), static_cast<DWORD>(zeros.size()), &written, nullptr) &&
          written == zeros.size());
  }
  CloseHandle(file);
  return ok;
}

void FillList(UpdateList& list, const std::vector<VersionRow>& versions,
              const std::vector<GroupSpec>& groups) {
  list.ClearList();
  strcpy(list.keyFile, "VRSAFFRA9.exe");
  if (!versions.empty()) {
    list.versionCount = static_cast<int32_t>(versions.size());
    list.versions.reset(new VersionEntry[versions.size()]());
    for (size_t d = 0; d < versions.size(); ++d) {
      snprintf(list.versions[d].version, sizeof list.versions[d].version, "%s",
               versions[d].version.c_str());
      list.versions[d].length = versions[d].length;
    }
  }
  list.groupCount = static_cast<int32_t>(groups.size());
  list.groups.reset(new UpdateGroup[groups.size()]());
  for (size_t g = 0; g < groups.size(); ++g) {
    UpdateGroup& group = list.groups[g];
    const GroupSpec& entry = groups[g];
    snprintf(group.name, sizeof group.name, "%s", entry.name.c_str());
    snprintf(group.os, sizeof group.os, "%s", entry.os.c_str());
    snprintf(group.keyVersion, sizeof group.keyVersion, "%s", entry.keyVersion.c_str());
    group.keyNumber = entry.keyNumber;
    group.redirectionOff = entry.redirectionOff;
    group.existOnly = entry.existOnly;
    group.fileCount = static_cast<int32_t>(entry.targets.size());
    if (!entry.targets.empty()) group.files.reset(new UpdateFile[entry.targets.size()]());
    for (size_t f = 0; f < entry.targets.size(); ++f) {
      snprintf(group.files[f].targetPath, sizeof group.files[f].targetPath, "%s",
               entry.targets[f].c_str());
      group.files[f].registerServer = f < entry.registerFlags.size() ? entry.registerFlags[f] : 0;
      // 22 December 2011, 01:41 UTC, as the shipped list stamps its files.
      group.files[f].timeLow = 3252985344u;
      group.files[f].timeHigh = 30195786u;
    }
  }
}

MessageRecorder::MessageRecorder(int answer) {
  g_shown.clear();
  g_answer = answer;
  seams::SetMessageBoxHook(RecordMessage);
}
MessageRecorder::~MessageRecorder() { seams::SetMessageBoxHook(nullptr); }
void MessageRecorder::SetAnswer(int answer) { g_answer = answer; }
const std::vector<ShownMessage>& MessageRecorder::shown() const { return g_shown; }
void MessageRecorder::Clear() { g_shown.clear(); }

PauseRecorder::PauseRecorder() {
  g_pauses.clear();
  seams::SetPauseHook(RecordPause);
}
PauseRecorder::~PauseRecorder() { seams::SetPauseHook(nullptr); }
const std::vector<DWORD>& PauseRecorder::pauses() const { return g_pauses; }

std::string ResText(UINT id) {
  char text[1024] = {};
  win32::LoadResString(id, text, sizeof text);
  return text;
}

FileHolder::FileHolder(const std::string& path) {
  static int serial = 0;
  char readyName[64], releaseName[64];
  snprintf(readyName, sizeof readyName, "groups_ready_%lu_%d", GetCurrentProcessId(), ++serial);
  snprintf(releaseName, sizeof releaseName, "groups_release_%lu_%d", GetCurrentProcessId(), serial);
  ready_ = CreateEventA(nullptr, TRUE, FALSE, readyName);
  release_ = CreateEventA(nullptr, TRUE, FALSE, releaseName);
  std::string command =
      "\"" + ExeFolder() + "replace_holder.exe\" \"" + path + "\" " + readyName + " " + releaseName;
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    return;
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  HANDLE waits[2] = {ready_, process_};
  holding_ = WaitForMultipleObjects(2, waits, FALSE, 20000) == WAIT_OBJECT_0;
}

FileHolder::~FileHolder() {
  if (release_) SetEvent(release_);
  if (process_) {
    WaitForSingleObject(process_, 20000);
    CloseHandle(process_);
  }
  if (ready_) CloseHandle(ready_);
  if (release_) CloseHandle(release_);
}

}  // namespace vrtest
