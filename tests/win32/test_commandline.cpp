// Command lines for Explorer and the installer: exact texts, the round trip through the C
// runtime's parser, and real detached starts of a program that writes down what it got.
#include "harness.h"

#include "platform/commandline.h"
#include "platform/win32/launch.h"

#include <shellapi.h>

#include <vector>

using platform::CommandLine;

namespace {

std::vector<std::wstring> parse(const std::wstring &line)
{
    int count = 0;
    LPWSTR *argv = CommandLineToArgvW(line.c_str(), &count);
    std::vector<std::wstring> out;
    for (int i = 0; argv && i < count; ++i)
        out.emplace_back(argv[i]);
    LocalFree(argv);
    return out;
}

// Arguments that must survive the trip unchanged.
const std::vector<std::wstring> awkwardArguments = {
    L"plain",
    L"",
    L"two words",
    L"\ttab",
    L"say \"hi\"",
    L"\"",
    L"\"\"",
    L"C:\\dir with blanks\\",
    L"C:\\dir\\",
    L"back\\\\slashes\\\\\"quoted\"",
    L"a\\\\\\b",
    L"trailing\\\\",
    L"file:///C:/视频 文件/Clip 1.mp4",
    L"naïve Ñandú.mkv",
    L"/select,",
};

void testExactTexts()
{
    CHECK_EQ(platform::quoteArgument(L"/select,"), std::wstring(L"/select,"));
    CHECK_EQ(platform::quoteArgument(L"C:\\x\\y.exe"), std::wstring(L"C:\\x\\y.exe"));
    CHECK_EQ(platform::quoteArgument(L""), std::wstring(L"\"\""));
    CHECK_EQ(platform::quoteArgument(L"a b"), std::wstring(L"\"a b\""));
    CHECK_EQ(platform::quoteArgument(L"C:\\a b\\"), std::wstring(L"\"C:\\a b\\\\\""));
    CHECK_EQ(platform::quoteArgument(L"x\\\"y"), std::wstring(L"\"x\\\\\\\"y\""));

    const CommandLine explorer = platform::explorerSelectCommand(L"C:/Videos/My Clip.mp4");
    CHECK_EQ(explorer.program, std::wstring(L"explorer"));
    CHECK_EQ(explorer.arguments.size(), std::size_t(2));
    CHECK_EQ(platform::joinCommandLine(explorer),
             std::wstring(L"\"explorer\" /select, \"file:///C:/Videos/My Clip.mp4\""));

    const std::wstring installer = L"C:\\Users\\Zoë B\\AppData\\Local\\download\\kivhelep.exe";
    CHECK(platform::installerCommand(installer).arguments.empty());
    CHECK_EQ(platform::joinCommandLine(platform::installerCommand(installer)),
             L"\"" + installer + L"\"");

    // A program name cannot carry a double quote: nothing is written, so nothing is started.
    CHECK_EQ(platform::joinCommandLine(CommandLine { L"a\"b.exe", {} }), std::wstring());
    CHECK_EQ(platform::joinCommandLine(CommandLine { L"", { L"x" } }), std::wstring());
}

void testRoundTrip()
{
    for (const std::wstring &argument : awkwardArguments) {
        const std::vector<std::wstring> got
            = parse(platform::joinCommandLine({ L"C:\\Program Files\\x.exe", { argument } }));
        CHECK_EQ(got.size(), std::size_t(2));
        if (got.size() == 2) {
            CHECK_EQ(got[0], std::wstring(L"C:\\Program Files\\x.exe"));
            CHECK_EQ(got[1], argument);
        }
    }
    const std::vector<std::wstring> all
        = parse(platform::joinCommandLine({ L"x.exe", awkwardArguments }));
    CHECK_EQ(all.size(), awkwardArguments.size() + 1);
    CHECK(std::vector<std::wstring>(all.begin() + 1, all.end()) == awkwardArguments);

    const std::vector<std::wstring> explorer = parse(platform::joinCommandLine(
        platform::explorerSelectCommand(L"D:/Filme/\"Neu\" & alt/Ä b.mkv")));
    CHECK_EQ(explorer.size(), std::size_t(3));
    if (explorer.size() == 3)
        CHECK_EQ(explorer[2], std::wstring(L"file:///D:/Filme/\"Neu\" & alt/Ä b.mkv"));
}

struct Scratch
{
    std::wstring folder;
    std::wstring echo;
};

// A copy of the echo program in a fresh folder whose name has blanks and non-ASCII letters.
Scratch makeScratch(const std::wstring &leaf)
{
    std::wstring temp(MAX_PATH + 1, L'\0');
    temp.resize(GetTempPathW(DWORD(temp.size()), temp.data()));
    Scratch scratch;
    scratch.folder = temp + L"velnor launch " + std::to_wstring(GetCurrentProcessId()) + L" 视频\\";
    CreateDirectoryW(scratch.folder.c_str(), nullptr);
    scratch.echo = scratch.folder + leaf;
    CHECK(
        CopyFileW((harness::ownFolder() + L"argv_echo.exe").c_str(), scratch.echo.c_str(), FALSE));
    DeleteFileW((scratch.folder + L"argv.out").c_str());
    return scratch;
}

void removeScratch(const Scratch &scratch)
{
    // The echo program may still be ending after it has written its record.
    for (int attempt = 0; attempt < 100; ++attempt) {
        DeleteFileW((scratch.folder + L"argv.out").c_str());
        DeleteFileW(scratch.echo.c_str());
        if (RemoveDirectoryW(scratch.folder.c_str()))
            return;
        Sleep(50);
    }
}

// The echo's record: its working folder, then its arguments. Empty after 15 s without one.
std::vector<std::wstring> awaitRecord(const Scratch &scratch)
{
    const std::wstring path = scratch.folder + L"argv.out";
    for (int waited = 0; waited < 15000; waited += 50) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            std::wstring content(GetFileSize(file, nullptr) / sizeof(wchar_t), L'\0');
            DWORD read = 0;
            ReadFile(file, content.data(), DWORD(content.size() * sizeof(wchar_t)), &read, nullptr);
            CloseHandle(file);
            std::vector<std::wstring> fields;
            std::size_t start = 0;
            for (std::size_t end; (end = content.find(L'\0', start)) != std::wstring::npos;
                 start = end + 1)
                fields.push_back(content.substr(start, end - start));
            return fields;
        }
        Sleep(50);
    }
    return {};
}

std::wstring withoutTrailingSlash(std::wstring path)
{
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
    return path;
}

void testDetachedStart()
{
    const Scratch scratch = makeScratch(L"echo copy.exe");
    CHECK(platform::win32::startDetached({ scratch.echo, awkwardArguments }, scratch.folder));
    const std::vector<std::wstring> record = awaitRecord(scratch);
    CHECK_EQ(record.size(), awkwardArguments.size() + 2);
    if (record.size() == awkwardArguments.size() + 2) {
        CHECK_EQ(withoutTrailingSlash(record[0]), withoutTrailingSlash(scratch.folder));
        CHECK_EQ(record[1], scratch.echo);
        CHECK(std::vector<std::wstring>(record.begin() + 2, record.end()) == awkwardArguments);
    }
    removeScratch(scratch);
}

void testInstallerStart()
{
    const Scratch scratch = makeScratch(L"Setup Ünïcode 1.0.exe");
    CHECK(platform::win32::startInstaller(scratch.echo));
    const std::vector<std::wstring> record = awaitRecord(scratch);
    // No arguments, and the installer's own folder as the working folder.
    CHECK_EQ(record.size(), std::size_t(2));
    if (record.size() == 2) {
        CHECK_EQ(withoutTrailingSlash(record[0]), withoutTrailingSlash(scratch.folder));
        CHECK_EQ(record[1], scratch.echo);
    }
    removeScratch(scratch);

    CHECK(!platform::win32::startInstaller(scratch.folder + L"missing.exe"));
    CHECK(!platform::win32::startDetached({ L"no\"such.exe", {} }, std::wstring()));
}

} // namespace

int wmain()
{
    testExactTexts();
    testRoundTrip();
    testDetachedStart();
    testInstallerStart();
    return harness::summary();
}
