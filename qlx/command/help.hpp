#pragma once
// qlx's help: the whole of it, or of one command.

#include <string>

namespace qlxcli {

// `topic` is "", "convert" or "palette".
std::string help_text(const std::string& topic);

}  // namespace qlxcli
