// The passes over the applicable groups: counting their files for the
// progress bar, installing them file by file, and (un)registering the COM
// servers that the list flags.
#include <stdint.h>

#include "engine/GroupRules.h"
#include "engine/ProductEnvironment.h"
#include "res/resource.h"
#include "engine/UserPort.h"
#include "system/ComponentRegistrar.h"
#include "engine/UpdateEngine.h"
#include "updatelist/UpdateList.h"
#include "win32/BoundedString.h"
#include "win32/BufferSizes.h"
#include "win32/KillPoint.h"
#include "win32/Platform.h"
#include "win32/ResString.h"

namespace {

// A status line: a string-table format with the file's path. An overlong
// result gives an empty line rather than a cut path.
void FormatStatus(UINT messageId, const char* path, char* out, size_t capacity) {
  char format[win32::kTextSize] = {};
  out[0] = '\0';
  if (!win32::LoadResString(messageId, format, sizeof format)) return;
  win32::FormatText(out, capacity, format, path);
}

// Status lines hold a format of up to 255 characters and a 259-character path.
constexpr size_t kStatusCapacity = 520;

}  // namespace

int32_t UpdateEngine::CountApplicableFiles() {
  int32_t total = 0;
  for (int32_t g = 0; g < list_.groupCount(); ++g) {
    if (CheckGroup(g, false, nullptr) == kApply && list_.group(g).fileCount > 0) {
      total += list_.group(g).fileCount;
    }
  }
  return total;
}

int32_t UpdateEngine::InstallAll(UserPort* port, int32_t total) {
  state_.doneCount = 0;
  state_.abort = false;
  // The version messages belong to the checks before the install, never to it.
  state_.reporting = false;
  int32_t replaced = 0;
  for (int32_t g = 0; g < list_.groupCount(); ++g) {
    replaced += InstallGroup(g, port, total);
    if (state_.abort) break;
  }
  return replaced;
}

int32_t UpdateEngine::InstallGroup(int32_t group, UserPort* port, int32_t total) {
  if (CheckGroup(group, true, nullptr) != kApply) return 0;
  const UpdateGroup& g = list_.group(group);
  // LZ32 is bound before the span below: a library loaded with redirection
  // off would come from the 64-bit system folder.
  environment_.lz32().Load(nullptr);
  // Files of the real 64-bit system folder are installed there, whether the
  // group's name or its install path says so.
  ScopedRedirectionOff redirection(group_rules::FilesInRealSystemFolder(g, GetOsClass()));

  int32_t replaced = 0;
  for (int32_t f = 0; f < g.fileCount; ++f) {
    const UpdateFile& file = g.files[f];
    if (port && file.targetPath[0]) {
      char status[kStatusCapacity];
      FormatStatus(IDS_UPDATING_FMT, file.targetPath, status, sizeof status);
      if (!port->ReportProgress(state_.doneCount, total, status)) state_.abort = true;
    }
    if (state_.abort) break;
    if (ReplaceFile(group, f, g.existOnly)) ++replaced;
    ++state_.doneCount;  // passed, replaced or not
    if (port && !port->ReportProgress(state_.doneCount, total, nullptr)) state_.abort = true;
  }
  return replaced;
}

int32_t UpdateEngine::RegisterAll(RegistrationPass pass, UserPort* port, int32_t total,
                                  UINT messageId) {
  state_.doneCount = 0;
  int32_t registered = 0;
  for (int32_t g = 0; g < list_.groupCount(); ++g) {
    registered += RegisterGroup(g, pass, port, total, messageId);
  }
  return registered;
}

int32_t UpdateEngine::RegisterGroup(int32_t group, RegistrationPass pass, UserPort* port,
                                    int32_t total, UINT messageId) {
  if (CheckGroup(group, false, nullptr) != kApply) return 0;
  const UpdateGroup& g = list_.group(group);
  ScopedRedirectionOff redirection(group_rules::FilesInRealSystemFolder(g, GetOsClass()));

  ComponentRegistrar registrar;
  int32_t registered = 0;
  for (int32_t f = 0; f < g.fileCount; ++f) {
    const UpdateFile& file = g.files[f];
    if (file.targetPath[0] && file.registerServer != 0 && FileExists(file.targetPath)) {
      if (registrar.RegisterServer(file.targetPath, pass == RegistrationPass::Unregister ? 1 : 0))
        ++registered;
    }
    VR_KILL_POINT(pass == RegistrationPass::Register ? "registration: file done"
                                                     : "unregistration: file done");
    ++state_.doneCount;
    if (port && file.targetPath[0] && messageId != 0) {
      char status[kStatusCapacity];
      FormatStatus(messageId, file.targetPath, status, sizeof status);
      // Registration cannot be cancelled: the report's answer is not used.
      port->ReportProgress(state_.doneCount, total, status);
    }
  }
  return registered;
}
