#include "platform/deploy/programs.h"

#include "platform/win32/win32_handles.h"  // <windows.h> first
#include "platform/win32/system_modules.h"

#include <winver.h>

#include <vector>

namespace {

void delete_attribute_list(LPPROC_THREAD_ATTRIBUTE_LIST list) { DeleteProcThreadAttributeList(list); }

using unique_attribute_list = UniqueHandle<LPPROC_THREAD_ATTRIBUTE_LIST, delete_attribute_list>;

// How often a running program's pipe and end are looked at.
constexpr DWORD poll_milliseconds = 20;

// Room for a whole run's output (a line per font), so that the program never
// waits on a full pipe for the next look.
constexpr DWORD pipe_buffer_bytes = 1024 * 1024;

}  // namespace

namespace {

// Starts the program and puts it at once in a job that ends it, and whatever
// it starts, once the job's last handle closes: when this run returns, or
// when this process ends however it ends, so no Typeloader.exe outlives the
// run that holds the machine's lock. (Started suspended it would need
// ResumeThread, which the release checks keep out of the imports.) The
// pipe's write end is the one handle it inherits.
PlatformStatus start_in_job(const String& program, const String& command_line, HANDLE write_end, unique_handle& job,
                            unique_handle& process) {
    job.reset(CreateJobObjectW(nullptr, nullptr));
    if (!job) return GetLastError();
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits))) return GetLastError();
    SIZE_T list_size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &list_size);
    std::vector<unsigned char> list_memory(list_size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list_memory.data());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &list_size)) return GetLastError();
    unique_attribute_list attributes(list);
    HANDLE inherited[] = {write_end};
    if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, sizeof(inherited), nullptr, nullptr)) {
        return GetLastError();
    }
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdOutput = write_end;
    startup.StartupInfo.hStdError = write_end;
    startup.lpAttributeList = list;
    std::wstring line(reinterpret_cast<const wchar_t*>(command_line.c_str()), command_line.size());
    PROCESS_INFORMATION started{};
    // Without a console: no window, and no console host started for it.
    if (!CreateProcessW(wide(program), line.data(), nullptr, nullptr, TRUE,
                        DETACHED_PROCESS | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr, &startup.StartupInfo,
                        &started)) {
        return GetLastError();
    }
    process.reset(started.hProcess);
    unique_handle thread(started.hThread);
    if (!AssignProcessToJobObject(job.get(), process.get())) {
        const DWORD status = GetLastError();
        TerminateProcess(process.get(), status);
        return status;
    }
    return ERROR_SUCCESS;
}

// Reads the pipe to its end while the program runs; ends it at the deadline.
PlatformStatus read_until_ended(HANDLE read_end, HANDLE process, uint32_t time_limit_milliseconds, std::string& output) {
    const ULONGLONG deadline = GetTickCount64() + time_limit_milliseconds;
    char buffer[4096];
    for (bool ended = false;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(read_end, nullptr, 0, nullptr, &available, nullptr)) {
            DWORD status = GetLastError();
            if (status != ERROR_BROKEN_PIPE) return status;
            return ERROR_SUCCESS;  // no writer is left, and everything written has been read
        }
        if (available > 0) {
            DWORD got = 0;
            if (!ReadFile(read_end, buffer, sizeof(buffer), &got, nullptr)) return GetLastError();
            output.append(buffer, got);
            continue;
        }
        // Ended, and its pipe read empty: done, even should something it
        // started still hold the pipe.
        if (ended) return ERROR_SUCCESS;
        DWORD waited = WaitForSingleObject(process, poll_milliseconds);
        if (waited == WAIT_FAILED) return GetLastError();
        ended = waited == WAIT_OBJECT_0;
        if (!ended && GetTickCount64() >= deadline) {
            TerminateProcess(process, ERROR_TIMEOUT);
            WaitForSingleObject(process, INFINITE);
            return ERROR_TIMEOUT;
        }
    }
}

}  // namespace

PlatformStatus run_program(const String& program, const String& command_line, uint32_t time_limit_milliseconds,
                           std::string& output, uint32_t& exit_code) {
    output.clear();
    exit_code = 0;
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    unique_handle read_end, write_end;
    if (!CreatePipe(read_end.put(), write_end.put(), &inherit, pipe_buffer_bytes)) return GetLastError();
    if (!SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0)) return GetLastError();
    unique_handle job, process;
    if (PlatformStatus status = start_in_job(program, command_line, write_end.get(), job, process)) return status;
    write_end.reset();  // the pipe breaks when the child's copy closes
    if (PlatformStatus status = read_until_ended(read_end.get(), process.get(), time_limit_milliseconds, output)) return status;
    if (WaitForSingleObject(process.get(), INFINITE) == WAIT_FAILED) return GetLastError();
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
