#pragma once

#include "platform/process.h"

#include <QString>

namespace update {

// Texts of the time-limited runner and how the synchronisation reads them.

// The runner's one-text result for a finished (or failed, or timed-out) child:
//   could not start:        "执行失败: " + the system's description
//   time limit reached:     "timeout: <executable> 超过 <whole seconds>
//   秒，已强制结束\n解压日志:\n"
//                           + the output so far
//   non-zero status:        "exit(<status>): " + the output, untrimmed (also when blank)
//   otherwise:              the output (invalid UTF-8 reads as empty)
QString processOutcomeText(const QString& executable, double timeoutSeconds,
                           const Result<platform::ChildExit>& result);

// True when a runner text means the rsync pass failed. Rules, first match decides, on the
// trimmed text T and its lower-case form L:
//   T empty -> false; T starts with "执行失败:" (could not start) -> true;
//   L starts with "timeout:" -> true; L has "timeout:" and "超过" -> true;
//   L starts with "exit(" and T holds a decimal integer N between it and the first ")" ->
//   N is 0 or 24 (vanished source files) -> false, else true;
//   L has "rsync error", "error:", "failed" or "cannot " -> true; else false.
bool rsyncOutputIndicatesHardFailure(const QString& text);

} // namespace update
