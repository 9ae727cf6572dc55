// The texts of the step trace (win32/Trace.h), declared once. The updater
// traces them; the end-to-end journeys and the kill campaign name them
// (tests/e2e/journeys.py reads this header when the tests are registered), so
// a changed or removed text fails the registration, not a journey at run
// time. Each is a printf format; a journey matches a step by its text with the
// journey's arguments put in, up to the first conversion left open.
#pragma once

namespace steps {

// The Start handler.
constexpr char kStart[] = "start";
constexpr char kStartNotInstalled[] = "start: product not installed";
constexpr char kStartProgramFolder[] = "start: program folder %s";
constexpr char kStartFreeBytes[] = "start: %.0f bytes free";
constexpr char kStartListNotLoadable[] = "start: update list not loadable";
constexpr char kStartButtonsDisabled[] = "start: buttons disabled, wait window shown";
constexpr char kStartInUse[] = "start: in use: %s";
constexpr char kStartNothingInTheWay[] = "start: nothing in the way";
constexpr char kStartFilesInUse[] = "start: files in use";
constexpr char kStartChecksRefused[] = "start: checks refused the update";
constexpr char kStartDone[] = "start: done";
constexpr char kStartAnotherUpdater[] = "start: another updater is running";
constexpr char kStartLeftoversKept[] = "start: leftovers of an earlier run kept, no update list";
constexpr char kStartLeftoversSettled[] = "start: %d leftovers of an earlier run settled";
constexpr char kStartServiceReinstalled[] =
    "start: service of an ended run installed again (installer %s)";

// The update procedure.
constexpr char kUpdateBegin[] = "update: begin (%s run)";
constexpr char kUpdateNotInstalled[] = "update: product not installed";
constexpr char kUpdateUnfinished[] = "update: an earlier update did not finish";
constexpr char kUpdateListNotLoadable[] = "update: update list not loadable";
constexpr char kUpdateRegistrationPass[] = "update: %s pass (%d files)";
constexpr char kUpdateInstallPass[] = "update: install pass (%d files)";
constexpr char kUpdateChecksFailed[] = "update: checks failed (verdict %d)";
constexpr char kUpdateInUse[] = "update: in use: %s";
constexpr char kUpdateLauncherOpen[] = "update: launcher still open, nothing installed";
constexpr char kUpdateReplaced[] = "update: %d replaced, %d failed";
constexpr char kUpdateEntryKept[] = "update: %d files failed, uninstall entry kept";
constexpr char kUpdateFilterMerits[] = "update: filter merits";
constexpr char kUpdateFinished[] = "update: finished";
constexpr char kUpdateNotFinished[] = "update: not finished; the next run completes it";
constexpr char kUpdateEnd[] = "update: end";

// Steps of both.
constexpr char kMessage[] = "message %u: %s";
constexpr char kLauncher[] = "launcher: %d";
constexpr char kService[] = "service: %s";
constexpr char kServiceInstaller[] = "service: installer %s";
constexpr char kUninstallEntry[] = "uninstall entry: %s";
constexpr char kCommandIgnored[] = "command %d ignored: an update is running";
constexpr char kShutdownRefused[] = "shutdown refused: files are being replaced";

// Restart and resume.
constexpr char kResumeEntryNotWritable[] = "resume entry: Run key not writable";
constexpr char kResumeEntryRemoved[] = "resume entry removed";
constexpr char kRestartQuestion[] = "restart question: %s";
constexpr char kPrivilegeNoToken[] = "privilege %s: no token (%lu)";
constexpr char kPrivilegeUnknown[] = "privilege %s: unknown (%lu)";
constexpr char kPrivilegeAdjusted[] = "privilege %s: adjusted (%lu)";
constexpr char kRestartRequested[] = "restart requested";
constexpr char kRestartRefused[] = "restart refused (%lu)";
constexpr char kRestartCancelled[] = "restart cancelled";

}  // namespace steps
