// The one decision the command line makes: a run started by the user waits
// for Start; a run whose command line ends in "/r" starts the update itself.
#pragma once

enum class RunMode { Normal, Resume };

// The rule on a given command line (null counts as Normal): Resume exactly
// when the text is longer than two characters and its last two are "/r".
// Nothing is trimmed and nothing else is read.
RunMode RunModeOfCommandLine(const char* commandLine);

// The rule on this process's command line, computed afresh at every call.
RunMode GetRunMode();
