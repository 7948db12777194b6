/* Reads, through the Windows APIs that Explorer's Properties dialog and
 * installers use, what a Windows machine sees of an executable:
 *   - the fixed file and product versions (VS_FIXEDFILEINFO),
 *   - the StringFileInfo strings of its first translation,
 *   - the embedded application manifest (RT_MANIFEST, resource ID 1).
 *
 * Usage: version_probe <path to .exe>
 * Output (binary mode, LF line ends):
 *   fixed.file=a.b.c.d
 *   fixed.product=a.b.c.d
 *   translation=llllcccc
 *   string.<Name>=<value>          (for each name asked below that exists)
 *   manifest.bytes=<n>
 *   ---manifest---
 *   <the manifest bytes as stored>
 * Exit code: 0 when the version block and the manifest were both read,
 * 2 for a usage error, 3 when no version block, 4 when no manifest. */
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <wchar.h>

static void print_utf8(const wchar_t *text)
{
    char buffer[1024];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, (int)sizeof buffer, NULL, NULL);
    fputs(n > 0 ? buffer : "?", stdout);
}

static int print_versions(const wchar_t *path)
{
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) {
        fprintf(stderr, "GetFileVersionInfoSizeW failed: %lu\n", GetLastError());
        return 0;
    }
    void *block = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
    if (!block || !GetFileVersionInfoW(path, 0, size, block)) {
        fprintf(stderr, "GetFileVersionInfoW failed: %lu\n", GetLastError());
        return 0;
    }

    VS_FIXEDFILEINFO *fixed = NULL;
    UINT length = 0;
    if (!VerQueryValueW(block, L"\\", (void **)&fixed, &length) || length < sizeof *fixed
        || fixed->dwSignature != 0xFEEF04BD) {
        fprintf(stderr, "VerQueryValueW(\\) gave no VS_FIXEDFILEINFO\n");
        return 0;
    }
    printf("fixed.file=%u.%u.%u.%u\n",
           (unsigned)HIWORD(fixed->dwFileVersionMS), (unsigned)LOWORD(fixed->dwFileVersionMS),
           (unsigned)HIWORD(fixed->dwFileVersionLS), (unsigned)LOWORD(fixed->dwFileVersionLS));
    printf("fixed.product=%u.%u.%u.%u\n",
           (unsigned)HIWORD(fixed->dwProductVersionMS), (unsigned)LOWORD(fixed->dwProductVersionMS),
           (unsigned)HIWORD(fixed->dwProductVersionLS), (unsigned)LOWORD(fixed->dwProductVersionLS));

    struct { WORD language, codepage; } *translation = NULL;
    if (!VerQueryValueW(block, L"\\VarFileInfo\\Translation", (void **)&translation, &length)
        || length < sizeof *translation) {
        fprintf(stderr, "VerQueryValueW gave no translation\n");
        return 1; /* the fixed part was read; the strings are checked by the caller */
    }
    printf("translation=%04x%04x\n", (unsigned)translation->language, (unsigned)translation->codepage);

    static const wchar_t *const names[] = {
        L"CompanyName", L"FileDescription", L"FileVersion", L"InternalName",
        L"OriginalFilename", L"ProductName", L"ProductVersion", L"LegalCopyright",
    };
    for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i) {
        wchar_t query[128];
        swprintf(query, 128, L"\\StringFileInfo\\%04x%04x\\%ls",
                 (unsigned)translation->language, (unsigned)translation->codepage, names[i]);
        wchar_t *value = NULL;
        if (VerQueryValueW(block, query, (void **)&value, &length) && value) {
            fputs("string.", stdout);
            print_utf8(names[i]);
            fputs("=", stdout);
            print_utf8(value);
            fputs("\n", stdout);
        }
    }
    return 1;
}

static int print_manifest(const wchar_t *path)
{
    HMODULE module = LoadLibraryExW(path, NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) {
        fprintf(stderr, "LoadLibraryExW failed: %lu\n", GetLastError());
        return 0;
    }
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24) /* RT_MANIFEST */);
    HGLOBAL loaded = info ? LoadResource(module, info) : NULL;
    const void *bytes = loaded ? LockResource(loaded) : NULL;
    DWORD size = info ? SizeofResource(module, info) : 0;
    if (!bytes || size == 0) {
        fprintf(stderr, "no RT_MANIFEST resource with ID 1: %lu\n", GetLastError());
        FreeLibrary(module);
        return 0;
    }
    printf("manifest.bytes=%lu\n---manifest---\n", (unsigned long)size);
    fwrite(bytes, 1, size, stdout);
    FreeLibrary(module);
    return 1;
}

int wmain(int argc, wchar_t **argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc != 2) {
        fputs("Usage: version_probe <path to .exe>\n", stderr);
        return 2;
    }
    if (!print_versions(argv[1]))
        return 3;
    if (!print_manifest(argv[1]))
        return 4;
    fflush(stdout);
    return 0;
}
