#pragma once

#include <string>
#include <vector>

// Command lines for the programs the assistant hands work to. Plain C++ so that the Windows
// layer can use them without Qt; wide strings because that is what CreateProcessW takes.
namespace platform {

struct CommandLine
{
    std::wstring program;
    std::vector<std::wstring> arguments;
};

// Explorer opened on the folder of `path` with that file selected. `path` is taken as it
// comes (forward slashes are fine: Explorer reads the file URL).
CommandLine explorerSelectCommand(const std::wstring &path);

// The downloaded installer, started with no arguments.
CommandLine installerCommand(const std::wstring &path);

// One argument written so that the C runtime's parser (CommandLineToArgvW) gives it back
// unchanged: quoted when empty or holding blanks or quotes, with the backslashes that precede
// a quote doubled.
std::wstring quoteArgument(const std::wstring &argument);

// The single string CreateProcessW parses: the program in double quotes, then the quoted
// arguments. The program name is parsed without escapes, so a program containing a double
// quote cannot be written at all: the result is then empty and nothing must be started.
std::wstring joinCommandLine(const CommandLine &command);

} // namespace platform
