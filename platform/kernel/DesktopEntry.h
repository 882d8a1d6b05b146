// Writing desktop entries (the .desktop files of autostart and of desktop links): the escaping of
// an Exec= argument and of a string value, the one copy for every module that writes one. Texts
// are UTF-8 in, UTF-8 out; pure functions, safe on any thread.
#pragma once

#include <string>

// One word of an Exec= line: quoted, with the four reserved characters escaped, then the
// string-value escaping of the backslashes that adds. A "%" would start a field code ("%f",
// "%u"...), so a literal one is doubled.
std::string AfxDesktopExecQuote(const std::string& arg);
// A string value (Name=, Comment=, Path=): backslashes escaped, line breaks written as escapes so
// that a value can never start a key of its own.
std::string AfxDesktopValue(const std::string& value);
