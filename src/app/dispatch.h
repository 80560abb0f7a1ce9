// The command table: one handler per command, chosen by the folded command word.
#pragma once

#include "app/command_line.h"

namespace mw {

// Runs the one command the line names and returns the process exit code.
int Dispatch(const CommandLine& line);

}  // namespace mw
