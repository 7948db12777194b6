#include "deploy/log.h"

#include <cstdlib>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/standard_output.h"

namespace {

// At least `width` digits, zeros in front.
std::string padded(int number, size_t width) {
    std::string digits = std::to_string(number);
    return std::string(digits.size() < width ? width - digits.size() : 0, '0') + digits;
}

String reason(FolderCheck check) {
    switch (check) {
        case FolderCheck::safe: return u"it is safe";
        case FolderCheck::missing: return u"it does not exist";
        case FolderCheck::not_a_folder: return u"it is not a folder";
        case FolderCheck::reparse_point: return u"it is a link or another reparse point";
        case FolderCheck::foreign_owner: return u"its owner is neither SYSTEM nor Administrators";
        case FolderCheck::others_may_change: return u"someone other than SYSTEM and Administrators may change it";
    }
    return u"unknown";
}

// The status, or the folder's verdict as a line when it is not safe.
bool folder_is_safe(const String& folder, String& refusal) {
    FolderCheck check = FolderCheck::missing;
    if (PlatformStatus status = check_private_folder(folder, check)) {
        refusal = u"Typeloader-Deploy: the log folder " + folder + u" is refused: its security cannot be read (error " +
                  decimal_text(status) + u")";
        return false;
    }
    if (check == FolderCheck::safe) return true;
    refusal = log_folder_refusal(folder, check);
    return false;
}

}  // namespace

std::string cmtrace_record(StringView message, RecordType type, const LocalTime& time, uint32_t thread) {
    String text(message);
    for (char16_t& unit : text) {
        if (unit == u'\r' || unit == u'\n') unit = u' ';
    }
    for (size_t at; (at = text.find(u"]LOG]!>")) != String::npos;) text.replace(at, 7, u"]LOG] !>");
    std::string stamp = "]LOG]!><time=\"" + padded(time.hour, 2) + ":" + padded(time.minute, 2) + ":" +
                        padded(time.second, 2) + "." + padded(time.millisecond, 3) +
                        (time.bias_minutes < 0 ? "-" : "+") + padded(std::abs(time.bias_minutes), 3) + "\" date=\"" +
                        padded(time.month, 2) + "-" + padded(time.day, 2) + "-" + padded(time.year, 4) +
                        "\" component=\"Typeloader-Deploy\" context=\"\" type=\"" + std::to_string(static_cast<int>(type)) +
                        "\" thread=\"" + std::to_string(thread) + "\" file=\"\">\r\n";
    return "<![LOG[" + utf8(text) + stamp;
}

bool log_needs_rotation(uint64_t size) { return size > log_size_cap; }

String log_folder_refusal(const String& folder, FolderCheck check) {
    return u"Typeloader-Deploy: the log folder " + folder + u" is refused: " + reason(check);
}

namespace {

// Opens the log at its path, waiting while another run holds it.
PlatformStatus open_waiting(const String& path, HeldFile& file) {
    for (uint32_t waited = 0;; waited += log_wait_step_milliseconds) {
        PlatformStatus status = open_log_file(path, file);
        if (status != status_sharing_violation || waited >= log_wait_milliseconds) return status;
        sleep_milliseconds(log_wait_step_milliseconds);
    }
}

}  // namespace

LogOpening open_deploy_log(DeployLog& log, String& refusal) {
    String windows;
    if (PlatformStatus status = system_windows_folder(windows)) {
        refusal = u"Typeloader-Deploy: the Windows folder is unknown (error " + decimal_text(status) + u")";
        return LogOpening::refused;
    }
    const String logs = windows + u"\\Logs";
    log.folder = logs + u"\\Typeloader";
    log.path = log.folder + u"\\" + String(log_file_name);

    FolderCheck check = FolderCheck::missing;
    if (!check_private_folder(log.folder, check) && check == FolderCheck::missing) {
        EntryKind logs_kind = EntryKind::missing;
        if (!entry_kind(logs, logs_kind) && logs_kind == EntryKind::missing) create_private_folder(logs);
        if (PlatformStatus status = create_private_folder(log.folder)) {
            refusal = u"Typeloader-Deploy: the log folder " + log.folder + u" cannot be created (error " +
                      decimal_text(status) + u")";
            return LogOpening::refused;
        }
    }
    if (!folder_is_safe(log.folder, refusal)) return LogOpening::refused;

    for (bool rotated = false;;) {
        PlatformStatus status = open_waiting(log.path, log.file);
        if (status == status_sharing_violation) {
            refusal = u"Typeloader-Deploy: another run holds the log " + log.path + u"; try again later";
            return LogOpening::busy;
        }
        uint64_t size = 0;
        if (!status) status = open_file_size(log.file, size);
        if (status) {
            refusal = u"Typeloader-Deploy: the log " + log.path + u" cannot be opened (error " + decimal_text(status) + u")";
            return LogOpening::refused;
        }
        if (rotated || !log_needs_rotation(size)) break;
        // The full log moves aside while held; a new one is opened in its place.
        if (PlatformStatus status = rename_open_file(log.file, log.folder + u"\\" + String(previous_log_file_name))) {
            refusal = u"Typeloader-Deploy: the log " + log.path + u" cannot be rotated (error " + decimal_text(status) + u")";
            return LogOpening::refused;
        }
        rotated = true;
    }
    return LogOpening::opened;
}

void log_record(DeployLog& log, RecordType type, StringView message) {
    write_output_line(message);
    if (log.failed) return;
    bool plain = false;
    PlatformStatus status = is_plain_file_at(log.file, log.path, plain);
    if (!status && !plain) status = status_stopped_on_link;
    uint64_t size = 0;
    if (!status) status = open_file_size(log.file, size);
    if (!status) {
        std::string bytes = cmtrace_record(message, type, local_time(), current_thread_id());
        if (size == 0) bytes = "\xEF\xBB\xBF" + bytes;  // a new log
        status = append_to_open_file(log.file, bytes);
    }
    if (status) {
        log.failed = true;
        write_output_line(u"Typeloader-Deploy: the log " + log.path + u" cannot be written (error " + decimal_text(status) +
                          u"); the run stops");
    }
}
