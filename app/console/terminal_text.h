// Text from outside the program (drive identities and revisions, file names, the command line)
// may hold control characters that a terminal would obey: clear the screen, move the cursor,
// retitle the window. Such text is shown escaped.
#pragma once

#include <string>

// `text` with every control character written as \xNN: C0 controls and DEL, C1 controls
// (U+0080..U+009F in UTF-8), and bytes that are not part of valid UTF-8 (a lone 0x9B is CSI on
// some terminals). Printable ASCII and valid UTF-8 stay as they are. A line feed is kept when
// `keepLineFeeds` is set.
std::string TerminalText(const std::string& text, bool keepLineFeeds = false);
