#include "support/FileHolder.h"

#include "support/Files.h"

namespace vrtest {

FileHolder::FileHolder(const std::string& path, DWORD share) {
  static int serial = 0;
  const std::string id = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
  const std::string readyName = "vr-holder-ready-" + id;
  const std::string releaseName = "vr-holder-release-" + id;
  ready_.reset(CreateEventA(nullptr, TRUE, FALSE, readyName.c_str()));
  release_.reset(CreateEventA(nullptr, TRUE, FALSE, releaseName.c_str()));
  std::string command = "\"" + ExeFolder() + "replace_holder.exe\" \"" + path + "\" " + readyName +
                        " " + releaseName + " " + std::to_string(share);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!ready_ || !release_ ||
      !CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info))
    return;
  CloseHandle(info.hThread);
  process_.reset(info.hProcess);
  HANDLE either[2] = {ready_.get(), process_.get()};
  holding_ = WaitForMultipleObjects(2, either, FALSE, 20000) == WAIT_OBJECT_0;
}

void FileHolder::Release() {
  if (!process_) return;
  SetEvent(release_.get());
  WaitForSingleObject(process_.get(), 20000);
  process_.reset();
  holding_ = false;
}

}  // namespace vrtest
