#include "platform/commandline.h"

namespace platform {

CommandLine explorerSelectCommand(const std::wstring &path)
{
    return { L"explorer", { L"/select,", L"file:///" + path } };
}

CommandLine installerCommand(const std::wstring &path)
{
    return { path, {} };
}

std::wstring quoteArgument(const std::wstring &argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    std::wstring quoted(1, L'"');
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless a quote follows them; then each one needs a partner,
        // and the quote itself one more backslash.
        if (c == L'"')
            quoted.append(backslashes * 2 + 1, L'\\');
        else
            quoted.append(backslashes, L'\\');
        quoted += c;
        backslashes = 0;
    }
    // Trailing backslashes stand before the closing quote.
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

std::wstring joinCommandLine(const CommandLine &command)
{
    if (command.program.empty() || command.program.find(L'"') != std::wstring::npos)
        return {};
    std::wstring line = L'"' + command.program + L'"';
    for (const std::wstring &argument : command.arguments)
        line += L' ' + quoteArgument(argument);
    return line;
}

} // namespace platform
