// What the connecting computer has to run to reach this machine's Remote Desktop through the tunnel.
#pragma once

#include <string>
#include <vector>

namespace mw {

// The 13 lines for the argument list (index 0 is the command word): host name and "--port".
std::vector<std::wstring> ClientCommandLines(const std::vector<std::wstring>& args);

// Prints ClientCommandLines, one WriteOut per line.
void PrintClientCommands(const std::vector<std::wstring>& args);

}  // namespace mw
