#pragma once
// qlx's help: the whole of it, or of one command.

#include <string>

namespace qlxcmd {

// `topic` is "", "convert" or "palette".
std::string help_text(const std::string& topic);

}  // namespace qlxcmd
