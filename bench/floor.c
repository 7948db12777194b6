/* The floor: the Win32 calls that the install and uninstall jobs must make,
   and their output lines, in a tight loop with nothing else. Built with the
   same toolchain and link flags as Typeloader.exe. No font table, no checks
   beyond what the calls need; it assumes one title argument and well-formed
   input, since it only exists to be timed. */
#define __USE_MINGW_ANSI_STDIO 0 /* msvcrt's wprintf, as Typeloader uses */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

static const wchar_t key_path[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";

/* Names are kept in one growing block of null-separated strings. */
static wchar_t* names;
static size_t names_used, names_size;

static void keep(const wchar_t* text, size_t length) {
    if (names_used + length + 1 > names_size) {
        names_size = (names_size + length + 1) * 2;
        names = realloc(names, names_size * sizeof(wchar_t));
    }
    memcpy(names + names_used, text, length * sizeof(wchar_t));
    names[names_used + length] = 0;
    names_used += length + 1;
}

static void install(const wchar_t* title) {
    wchar_t folder[MAX_PATH], pattern[MAX_PATH], full[MAX_PATH], from[MAX_PATH], to[MAX_PATH];
    wchar_t name[16384], *fonts = NULL, *part;
    WIN32_FIND_DATAW data;
    HANDLE search;
    size_t fonts_length, root_length;

    wprintf(L"Install Font : %s\r\n", title);
    GetModuleFileNameW(NULL, folder, MAX_PATH);
    *wcsrchr(folder, L'\\') = 0;
    SHGetKnownFolderPath(&FOLDERID_Fonts, 0, NULL, &fonts);
    fonts_length = wcslen(fonts);
    swprintf(pattern, MAX_PATH, L"%s\\Font\\*.ttf", folder);
    GetFullPathNameW(pattern, MAX_PATH, full, &part);
    root_length = (size_t)(part - full);
    wcsncpy(from, full, root_length);
    wcscpy(to, fonts);
    to[fonts_length] = L'\\';

    /* Copy pass: one CopyFileW per entry, keeping the file titles. */
    search = FindFirstFileW(pattern, &data);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            size_t length = wcslen(data.cFileName);
            wcscpy(from + root_length, data.cFileName);
            wcscpy(to + fonts_length + 1, data.cFileName);
            CopyFileW(from, to, FALSE);
            keep(data.cFileName, length - 4); /* "*.ttf": the title ends 4 before */
        } while (FindNextFileW(search, &data));
        FindClose(search);
    }

    /* Registration pass: create, set, close per font, and its line. */
    for (size_t at = 0; at < names_used;) {
        const wchar_t* file_title = names + at;
        size_t length = wcslen(file_title);
        HKEY key;
        swprintf(name, 16384, L"%s %s", title, file_title);
        swprintf(to + fonts_length + 1, MAX_PATH - fonts_length - 1, L"%s.ttf", file_title);
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL);
        RegSetValueExW(key, name, 0, REG_SZ, (const BYTE*)to, (DWORD)((wcslen(to) + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
        wprintf(L"Install OK : %s\r\n", name);
        at += length + 1;
    }
    SHFree(fonts); /* shell32, as Typeloader: no ole32 to load */
}

static void uninstall(const wchar_t* title) {
    static wchar_t name[16384];
    size_t title_length = wcslen(title);
    DWORD count = 0;
    HKEY key;

    wprintf(L"Uninstall Font : %s\r\n", title);
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path, 0, KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE, &key)) return;
    RegQueryInfoKeyW(key, NULL, NULL, NULL, NULL, NULL, NULL, &count, NULL, NULL, NULL, NULL);
    /* Scan: one RegEnumValueW per value. */
    for (DWORD index = 0; index < count; ++index) {
        DWORD length = 16383, type = 0;
        if (RegEnumValueW(key, index, name, &length, NULL, &type, NULL, NULL)) continue;
        if (type == REG_SZ && wcsncmp(name, title, title_length) == 0) keep(name, length);
    }
    /* Delete: one RegDeleteValueW per match, and its line. */
    for (size_t at = 0; at < names_used;) {
        const wchar_t* doomed = names + at;
        RegDeleteValueW(key, doomed);
        wprintf(L"Uninstall OK : %s\r\n", doomed);
        at += wcslen(doomed) + 1;
    }
    RegCloseKey(key);
}

int wmain(void) {
    int count = 0;
    wchar_t** arguments;
    UINT mode = SetErrorMode(0);
    SetErrorMode(mode | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    /* floor.exe /title:X  or  floor.exe /uninstall /title:X */
    if (count == 3) {
        uninstall(arguments[2] + 7);
    } else {
        install(arguments[1] + 7);
    }
    LocalFree(arguments);
    return 0;
}
