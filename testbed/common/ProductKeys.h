// The registry keys and values of the simulated product, and the keys of
// Windows it and its updater write to, as the product's installer writes
// them. The installer, the journey checker and the test supports take them
// from here. The updater states its own copies (res/updater.rc and the code
// that writes them); tests write and read through these texts and the
// updater through its own, so a difference between the two shows. All under
// HKEY_LOCAL_MACHINE, in the flavour's view (testbed/common/Flavour.h).
#pragma once

namespace testbed {

// The product's "App Paths" entry; its "Path" is the program folder.
inline constexpr char kAppPathsKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\VRSAFFRA9.EXE";
// The product's entry in the list of installed programs ("InstallLocation",
// "DisplayName", "DisplayVersion", "Publisher", "UninstallString").
inline constexpr char kUninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "{5A1C0E2B-7D34-4F8E-9B61-2C7E4A90D3F5}";

// Programs Windows starts at every logon, and once at the next one.
inline constexpr char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char kRunOnceKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
// Value of kRunKey: the updater to go on after a restart ("PATH /r").
inline constexpr char kResumeValue[] = "marrowickupdater";
// Value of kRunOnceKey: the virtual-drive driver installer.
inline constexpr char kDriverInstallerValue[] = "MarrowickDrvInst";

// The key the sound-effect library is told to read its filters from.
inline constexpr char kSoundFxKey[] = "Software\\Marrowick\\VorrelSaffra8";

// The program folder below "Program Files" (the installer's default).
inline constexpr char kProgramSubfolder[] = "\\Marrowick\\Vorrel Recorder";

}  // namespace testbed
