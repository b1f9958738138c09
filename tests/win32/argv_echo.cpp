// Writes the folder it was started in and its arguments as the C runtime parsed them, each
// ended by a NUL, to "argv.out" beside itself. Written under another name and renamed, so
// that a reader never sees half a file.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t **argv)
{
    std::wstring self(MAX_PATH * 4, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), DWORD(self.size())));
    const std::wstring folder = self.substr(0, self.find_last_of(L"\\/") + 1);

    std::wstring record(GetCurrentDirectoryW(0, nullptr), L'\0');
    record.resize(GetCurrentDirectoryW(DWORD(record.size()), record.data()));
    record += L'\0';
    for (int i = 0; i < argc; ++i) {
        record += argv[i];
        record += L'\0';
    }

    const std::wstring partial = folder + L"argv.part";
    HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 2;
    DWORD written = 0;
    const DWORD bytes = DWORD(record.size() * sizeof(wchar_t));
    const bool ok = WriteFile(file, record.data(), bytes, &written, nullptr) && written == bytes;
    CloseHandle(file);
    if (!ok
        || !MoveFileExW(partial.c_str(), (folder + L"argv.out").c_str(), MOVEFILE_REPLACE_EXISTING))
        return 3;
    return 0;
}
