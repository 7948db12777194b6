#include "platform/programs.h"

#include "platform/win32/win32_handles.h"  // <windows.h> first
#include "platform/win32/system_modules.h"

#include <winver.h>

#include <vector>

PlatformStatus run_program(const String& program, const String& command_line, std::string& output,
                           uint32_t& exit_code) {
    output.clear();
    exit_code = 0;
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    unique_handle read_end, write_end;
    if (!CreatePipe(read_end.put(), write_end.put(), &inherit, 0)) return GetLastError();
    if (!SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0)) return GetLastError();
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end.get();
    startup.hStdError = write_end.get();
    std::wstring line(reinterpret_cast<const wchar_t*>(command_line.c_str()), command_line.size());
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(wide(program), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &started)) {
        return GetLastError();
    }
    unique_handle process(started.hProcess), thread(started.hThread);
    write_end.reset();  // the read below ends when the child's copy closes
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(read_end.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) output.append(buffer, got);
    if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0) return GetLastError();
    DWORD code = 0;
    if (!GetExitCodeProcess(process.get(), &code)) return GetLastError();
    exit_code = code;
    return ERROR_SUCCESS;
}

PlatformStatus file_version(const String& path, String& version) {
    auto info_size = system_function<decltype(GetFileVersionInfoSizeW)>(SystemModule::version, "GetFileVersionInfoSizeW");
    auto info = system_function<decltype(GetFileVersionInfoW)>(SystemModule::version, "GetFileVersionInfoW");
    auto query = system_function<decltype(VerQueryValueW)>(SystemModule::version, "VerQueryValueW");
    if (!info_size || !info || !query) return status_module_not_found;
    DWORD ignored = 0;
    DWORD size = info_size(wide(path), &ignored);
    if (size == 0) return GetLastError();
    std::vector<unsigned char> data(size);
    if (!info(wide(path), 0, size, data.data())) return GetLastError();
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixed_size = 0;
    if (!query(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixed_size) || fixed_size < sizeof(*fixed)) {
        return ERROR_RESOURCE_TYPE_NOT_FOUND;
    }
    std::string text = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionMS)) +
                       "." + std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionLS));
    version = String(text.begin(), text.end());
    return ERROR_SUCCESS;
}
