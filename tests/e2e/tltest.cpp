// A small Windows helper for the end-to-end tests: it reads and writes the
// font registration key (or another key of HKEY_LOCAL_MACHINE), runs a
// program with an exact command line, and asks GDI which font families a
// program sees, and compares the registry name table with the system's.
// Every text crosses the Wine boundary as hex of its UTF-16 units, so nothing
// is lost to code pages.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "deploy/registry_names.h"

namespace {

const wchar_t fonts_key[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";

void write_out(const std::string& bytes) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string hex(const void* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

std::vector<unsigned char> unhex(const wchar_t* text) {
    std::vector<unsigned char> bytes;
    auto digit = [](wchar_t c) { return c <= L'9' ? c - L'0' : (c | 0x20) - L'a' + 10; };
    for (size_t i = 0; text[i] && text[i + 1]; i += 2) bytes.push_back(static_cast<unsigned char>(digit(text[i]) * 16 + digit(text[i + 1])));
    return bytes;
}

std::wstring unhex_text(const wchar_t* text) {
    std::vector<unsigned char> bytes = unhex(text);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
}

// The key under HKEY_LOCAL_MACHINE a command names by a last hex argument;
// the fonts key when it names none.
std::wstring key_path(const wchar_t* key_hex) { return key_hex ? unhex_text(key_hex) : std::wstring(fonts_key); }

// "<type> <name hex> <data hex>" per value, in enumeration order; 12 when
// there is no such key.
int dump(const wchar_t* key_hex) {
    HKEY key;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path(key_hex).c_str(), 0, KEY_READ, &key);
    if (status == ERROR_FILE_NOT_FOUND) return 12;
    if (status != ERROR_SUCCESS) return 10;
    std::vector<wchar_t> name(32768);
    std::vector<unsigned char> data(1 << 20);
    std::string out;
    for (DWORD index = 0;; ++index) {
        DWORD name_length = static_cast<DWORD>(name.size());
        DWORD data_size = static_cast<DWORD>(data.size());
        DWORD type = 0;
        status = RegEnumValueW(key, index, name.data(), &name_length, nullptr, &type, data.data(), &data_size);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) {
            RegCloseKey(key);
            return 11;
        }
        out += std::to_string(type) + " " + hex(name.data(), name_length * 2) + " " + hex(data.data(), data_size) + "\n";
    }
    RegCloseKey(key);
    write_out(out);
    return 0;
}

// Value names go to ntdll as counted strings, so that a name holding a null
// unit is written and deleted whole; the Reg* calls would cut it there.
struct CountedName {
    USHORT length;
    USHORT capacity;
    const wchar_t* units;
};

template <typename Function>
Function ntdll(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

int set_value(const wchar_t* type, const wchar_t* name_hex, const wchar_t* data_hex, const wchar_t* key_hex) {
    using SetValue = LONG(WINAPI*)(HANDLE, CountedName*, ULONG, ULONG, const void*, ULONG);
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_path(key_hex).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) return 10;
    std::wstring name = unhex_text(name_hex);
    std::vector<unsigned char> data = unhex(data_hex);
    CountedName counted{static_cast<USHORT>(name.size() * 2), static_cast<USHORT>(name.size() * 2), name.data()};
    LONG status = ntdll<SetValue>("NtSetValueKey")(key, &counted, 0, static_cast<ULONG>(_wtoi(type)), data.data(),
                                                   static_cast<ULONG>(data.size()));
    RegCloseKey(key);
    return status == 0 ? 0 : 11;
}

int delete_value(const wchar_t* name_hex) {
    using DeleteValue = LONG(WINAPI*)(HANDLE, CountedName*);
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, fonts_key, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return 10;
    std::wstring name = unhex_text(name_hex);
    CountedName counted{static_cast<USHORT>(name.size() * 2), static_cast<USHORT>(name.size() * 2), name.data()};
    LONG status = ntdll<DeleteValue>("NtDeleteValueKey")(key, &counted);
    RegCloseKey(key);
    return status == 0 ? 0 : 11;
}

// The names of a key's subkeys, one hex line each; 12 when there is no such key.
int subkeys(const wchar_t* key_hex) {
    HKEY key;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_path(key_hex).c_str(), 0, KEY_READ, &key);
    if (status == ERROR_FILE_NOT_FOUND) return 12;
    if (status != ERROR_SUCCESS) return 10;
    std::string out;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        status = RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) {
            RegCloseKey(key);
            return 11;
        }
        out += hex(name, length * 2) + "\n";
    }
    RegCloseKey(key);
    write_out(out);
    return 0;
}

// Deletes a key and everything in it.
int delete_key(const wchar_t* key_hex) {
    return RegDeleteTreeW(HKEY_LOCAL_MACHINE, key_path(key_hex).c_str()) == ERROR_SUCCESS ? 0 : 11;
}

struct Handle {
    HANDLE value = nullptr;
    ~Handle() { if (value) CloseHandle(value); }
};

// "killafter N <command>": the program that run or code starts is ended with
// TerminateProcess (exit code killed_exit_code) as soon as the fonts key holds
// N values, as a crash or a kill would end it in the middle of its job.
DWORD kill_at_value_count = 0;
constexpr DWORD killed_exit_code = 0xDEAD;

DWORD font_value_count() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, fonts_key, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    DWORD count = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return count;
}

DWORD WINAPI kill_when_key_fills(void* process) {
    while (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
        if (font_value_count() >= kill_at_value_count) {
            TerminateProcess(process, killed_exit_code);
            break;
        }
    }
    return 0;
}

// Runs the program with exactly this command line and the given folder (or
// none), collecting its standard output; 0 with the exit code, or the
// helper's own failure status: 100 no pipe, 101 not started, 103 no code.
int run_program(const wchar_t* program_hex, const wchar_t* command_line_hex, const wchar_t* folder_hex,
                std::string& output, DWORD& code) {
    std::wstring program = unhex_text(program_hex);
    std::wstring command_line = unhex_text(command_line_hex);
    std::wstring folder = folder_hex ? unhex_text(folder_hex) : std::wstring();
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    Handle read_end, write_end;
    if (!CreatePipe(&read_end.value, &write_end.value, &inherit, 0)) return 100;
    if (!SetHandleInformation(read_end.value, HANDLE_FLAG_INHERIT, 0)) return 100;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = write_end.value;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &started)) {
        fprintf(stderr, "CreateProcessW failed: %lu\n", GetLastError());
        return 101;
    }
    Handle process{started.hProcess}, thread{started.hThread};
    Handle killer;
    if (kill_at_value_count) killer.value = CreateThread(nullptr, 0, kill_when_key_fills, process.value, 0, nullptr);
    CloseHandle(write_end.value);
    write_end.value = nullptr;  // the read below ends when the last writer closes
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(read_end.value, buffer, sizeof(buffer), &got, nullptr) && got > 0) output.append(buffer, got);
    if (WaitForSingleObject(process.value, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(process.value, &code)) {
        fprintf(stderr, "GetExitCodeProcess failed: %lu\n", GetLastError());
        return 103;
    }
    if (killer.value) WaitForSingleObject(killer.value, INFINITE);
    return 0;
}

// The one exit-code protocol: the program's standard output passes through
// unchanged, the exit code GetExitCodeProcess gave is named in full on stderr
// ("tltest: program exit code N"; Linux sees only its low 8 bits), and tltest
// exits with it, so that a run Wine never started cannot pass for one.
int run(const wchar_t* program_hex, const wchar_t* command_line_hex, const wchar_t* folder_hex) {
    std::string output;
    DWORD code = 0;
    int status = run_program(program_hex, command_line_hex, folder_hex, output, code);
    write_out(output);
    if (status != 0) return status;
    fprintf(stderr, "tltest: program exit code %lu\n", code);
    return static_cast<int>(code);
}

// The names FindFirstFileW/FindNextFileW give for a pattern, in their order.
int find(const wchar_t* pattern_hex) {
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(unhex_text(pattern_hex).c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return 0;
    std::string out;
    do {
        out += hex(data.cFileName, wcslen(data.cFileName) * 2) + "\n";
    } while (FindNextFileW(search, &data));
    FindClose(search);
    write_out(out);
    return 0;
}

int CALLBACK add_family(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM list) {
    std::string& out = *reinterpret_cast<std::string*>(list);
    out += hex(font->lfFaceName, wcslen(font->lfFaceName) * 2) + "\n";
    return 1;
}

// Every font family GDI offers this process, one hex line each.
int families() {
    HDC screen = GetDC(nullptr);
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    std::string out;
    EnumFontFamiliesExW(screen, &wanted, add_family, reinterpret_cast<LPARAM>(&out), 0);
    ReleaseDC(nullptr, screen);
    write_out(out);
    return 0;
}

// Our registry name table against the system's own ordinal compare, one line
// per disagreement: "table U T" when U and its table capital T do not compare
// equal, "system U W" when U equals W (its capital in RtlUpcaseUnicodeChar) but
// not in the table. No line of either kind means the two equalities agree on
// every pair of units, as long as the system compares through its capitals.
int upcase() {
    using Upcase = WCHAR(WINAPI*)(WCHAR);
    Upcase system_upcase = ntdll<Upcase>("RtlUpcaseUnicodeChar");
    if (!system_upcase) return 10;
    auto equal = [](wchar_t left, wchar_t right) { return CompareStringOrdinal(&left, 1, &right, 1, TRUE) == CSTR_EQUAL; };
    char line[32];
    std::string out;
    for (unsigned code = 0; code <= 0xFFFF; ++code) {
        const wchar_t unit = static_cast<wchar_t>(code);
        const wchar_t capital = static_cast<wchar_t>(registry_upcase(static_cast<char16_t>(unit)));
        const wchar_t system_capital = system_upcase(unit);
        if (!equal(unit, capital)) {
            snprintf(line, sizeof(line), "table %04X %04X\n", code, static_cast<unsigned>(capital));
            out += line;
        }
        if (registry_upcase(static_cast<char16_t>(system_capital)) != static_cast<char16_t>(capital) &&
            equal(unit, system_capital)) {
            snprintf(line, sizeof(line), "system %04X %04X\n", code, static_cast<unsigned>(system_capital));
            out += line;
        }
    }
    write_out(out);
    return 0;
}

// "@C:\\file" stands for the hex text held in that file: a long value name
// in hex does not fit Windows' command line of 32,767 units.
std::wstring argument_text(const wchar_t* argument) {
    if (argument[0] != L'@') return argument;
    std::wstring text;
    if (FILE* file = _wfopen(argument + 1, L"rb")) {
        for (int c; (c = fgetc(file)) != EOF;) text += static_cast<wchar_t>(c);
        fclose(file);
    }
    return text;
}

}  // namespace

namespace {
bool named_typeloader();
int faulty_typeloader(int argc, wchar_t** argv);
}  // namespace

int wmain(int argc, wchar_t** raw_argv) {
    if (named_typeloader()) return faulty_typeloader(argc, raw_argv);
    std::vector<std::wstring> texts(raw_argv, raw_argv + argc);
    for (std::wstring& text : texts) text = argument_text(text.c_str());
    std::vector<wchar_t*> pointers;
    for (std::wstring& text : texts) pointers.push_back(text.data());
    wchar_t** argv = pointers.data();
    // "lock FILEHEX <command>": runs the command while this process holds the
    // file open with no sharing, so that nobody else can read it.
    // "lockshared FILEHEX <command>": held as a loaded font is, readable by
    // others but neither written, renamed nor deleted.
    HANDLE held = INVALID_HANDLE_VALUE;
    if (argc > 3 && (std::wstring(argv[1]) == L"lock" || std::wstring(argv[1]) == L"lockshared")) {
        const DWORD share = std::wstring(argv[1]) == L"lock" ? 0 : FILE_SHARE_READ;
        held = CreateFileW(unhex_text(argv[2]).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
        if (held == INVALID_HANDLE_VALUE) return 102;
        argv += 2;
        argc -= 2;
    }
    if (argc > 3 && std::wstring(argv[1]) == L"killafter") {
        kill_at_value_count = static_cast<DWORD>(_wtoi(argv[2]));
        argv += 2;
        argc -= 2;
    }
    std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"dump" && argc <= 3) return dump(argc == 3 ? argv[2] : nullptr);
    if (command == L"set" && (argc == 5 || argc == 6)) return set_value(argv[2], argv[3], argv[4], argc == 6 ? argv[5] : nullptr);
    if (command == L"keys" && argc == 3) return subkeys(argv[2]);
    if (command == L"deletekey" && argc == 3) return delete_key(argv[2]);
    if (command == L"delete" && argc == 3) return delete_value(argv[2]);
    if (command == L"run" && (argc == 4 || argc == 5)) return run(argv[2], argv[3], argc == 5 ? argv[4] : nullptr);
    if (command == L"families") return families();
    if (command == L"upcase") return upcase();
    if (command == L"find" && argc == 3) return find(argv[2]);
    // Loads a DLL by the given name with the default search order.
    if (command == L"loadlibrary" && argc == 3) return LoadLibraryW(argv[2]) ? 0 : 1;
    fprintf(stderr, "usage: tltest dump [KEYHEX] | set TYPE NAMEHEX DATAHEX [KEYHEX] | keys KEYHEX | deletekey KEYHEX | delete NAMEHEX | run PROGRAMHEX CMDLINEHEX [DIRHEX] | loadlibrary NAME | families | find PATTERNHEX | upcase; [lock FILEHEX] [killafter N] before a command; @FILE for any hex\n");
    return 2;
}

// ---- A faulty Typeloader.exe, for Typeloader-Deploy.exe's put-back ----
// Copied over Typeloader.exe, this program registers every *.ttf of the Font
// folder beside it under "<title> <file title>" with the data of a copy that
// does not exist, copies nothing, prints nothing and exits 0: a run that
// Typeloader-Deploy.exe must not pass, and whose values it must put back.
namespace {

std::wstring own_path() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, length < MAX_PATH ? length : 0);
}

bool named_typeloader() {
    std::wstring path = own_path();
    size_t slash = path.rfind(L'\\');
    return slash != std::wstring::npos && _wcsicmp(path.c_str() + slash + 1, L"Typeloader.exe") == 0;
}

int faulty_typeloader(int argc, wchar_t** argv) {
    std::wstring title;
    for (int i = 1; i < argc; ++i) {
        if (_wcsnicmp(argv[i], L"/title:", 7) == 0) title = argv[i] + 7;
    }
    std::wstring folder = own_path();
    folder.erase(folder.rfind(L'\\'));
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW((folder + L"\\Font\\*.ttf").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return 0;
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, fonts_key, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        do {
            std::wstring name = data.cFileName;
            std::wstring value = title + L" " + name.substr(0, name.rfind(L'.'));
            std::wstring nowhere = L"C:\\nowhere\\" + name;
            RegSetValueExW(key, value.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(nowhere.c_str()),
                           static_cast<DWORD>((nowhere.size() + 1) * sizeof(wchar_t)));
        } while (FindNextFileW(search, &data));
        RegCloseKey(key);
    }
    FindClose(search);
    return 0;
}

}  // namespace
