#pragma once
// Message boxes. Win32 shows a real box; POSIX writes the text to standard error and answers No.
// When QZMARK_MSGBOX_LOG names a file, every box on every platform is appended to that file instead
// of being shown, one box per line:
//     <topmost|plain> <ok|yesno>: <text>
// with backslash, CR and LF in the text written as \\, \r and \n. Yes/No boxes then answer No unless
// QZMARK_MSGBOX_ANSWER=yes. Boxes never block a test.
#include <string>

namespace plat {

enum class BoxButtons { Ok, YesNo };
enum class BoxAnswer { Ok, Yes, No };

BoxAnswer ShowMessageBox(const std::string& text, BoxButtons buttons, bool topmost);

// The line a box is logged as (without the line end).
std::string MessageBoxLogLine(const std::string& text, BoxButtons buttons, bool topmost);

}  // namespace plat
