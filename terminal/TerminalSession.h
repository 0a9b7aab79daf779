#pragma once
// Runs one command of yonderpad-units against the units.
//
// The registry is built as the program builds it: the index of the module
// descriptions beside the program (and in the user's folder), shared with
// the program, which writes the same file. The terminal module, which lives
// in this program and not in a library, is added to it as a class of its own.
// Then the terminal's project, yonderpad-units.prj beside the program, is
// loaded: the terminal module first, the device module second, their
// connectors linked the way the program's project links the page module's.
// Loading starts both; the loop then runs until the command ends it, or until
// SIGINT, SIGTERM or SIGHUP, which end it with the command's OnSignal code.
// The project goes before the registry, as in the program.

namespace terminal {

class UnitCommand;

// The command's exit code, or ExitFailure (with the reason on standard error)
// when the device module cannot be made.
int RunInTerminal(UnitCommand& command);

}  // namespace terminal
