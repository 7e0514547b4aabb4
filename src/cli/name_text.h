#pragma once

#include <string>
#include <string_view>

// A file name as a person may safely see it on a terminal, the way `ls -b`
// shows one: valid UTF-8 text is kept as it is (blanks included), a
// backslash is doubled, tab, newline and carriage return become \t, \n and
// \r, and every other control byte (C0, DEL, and the C1 controls' two
// bytes) and every byte that is not part of valid UTF-8 becomes \xHH (always
// two hexadecimal digits). No name can then drive the terminal, and no name
// looks like two names or like another name.
std::string escapedName(std::string_view bytes);
