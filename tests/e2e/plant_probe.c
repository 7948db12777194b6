// Stands in for a DLL that someone lays beside Typeloader.exe under the name of
// a system DLL. Every process that loads it adds its command line, and a line
// feed, to C:\planted\<name>.loaded, so a test can tell that it was loaded
// and by whom. It exports nothing: a process that binds to it for real fails.
#include <windows.h>

static void leave_marker(HINSTANCE self) {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    const wchar_t* name = path;
    for (const wchar_t* at = path; *at; ++at) {
        if (*at == L'\\' || *at == L'/') name = at + 1;
    }
    wchar_t marker[MAX_PATH + 32] = L"C:\\planted\\";
    lstrcatW(marker, name);
    lstrcatW(marker, L".loaded");
    CreateDirectoryW(L"C:\\planted", NULL);
    HANDLE file = CreateFileW(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return;
    const wchar_t* command_line = GetCommandLineW();
    DWORD written = 0;
    WriteFile(file, command_line, (DWORD)(lstrlenW(command_line) * sizeof(wchar_t)), &written, NULL);
    WriteFile(file, L"\n", sizeof(wchar_t), &written, NULL);
    CloseHandle(file);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) leave_marker(self);
    return TRUE;
}
