#include "deploy/log.h"

#include <cstdlib>

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

bool open_deploy_log(DeployLog& log, String& refusal) {
    String windows;
    if (PlatformStatus status = system_windows_folder(windows)) {
        refusal = u"Typeloader-Deploy: the Windows folder is unknown (error " + decimal_text(status) + u")";
        return false;
    }
    const String logs = windows + u"\\Logs";
    log.folder = logs + u"\\Typeloader";
    log.file = log.folder + u"\\" + String(log_file_name);

    FolderCheck check = FolderCheck::missing;
    PlatformStatus checked = check_private_folder(log.folder, check);
    if (!checked && check == FolderCheck::missing) {
        EntryKind logs_kind = EntryKind::missing;
        PlatformStatus looked = entry_kind(logs, logs_kind);
        if (!looked && logs_kind == EntryKind::missing) create_private_folder(logs);
        if (PlatformStatus status = create_private_folder(log.folder)) {
            refusal = u"Typeloader-Deploy: the log folder " + log.folder + u" cannot be created (error " +
                      decimal_text(status) + u")";
            return false;
        }
    }
    if (!folder_is_safe(log.folder, refusal)) return false;

    uint64_t size = 0;
    PlatformStatus sized = file_size(log.file, size);
    if (!sized && log_needs_rotation(size)) {
        rename_replacing(log.file, log.folder + u"\\" + String(previous_log_file_name));
    }
    return true;
}

void log_record(DeployLog& log, RecordType type, StringView message) {
    write_output_line(message);
    if (log.broken) return;
    String refusal;
    if (!folder_is_safe(log.folder, refusal)) {
        log.broken = true;
        write_output_line(refusal);
        return;
    }
    std::string bytes = cmtrace_record(message, type, local_time(), current_thread_id());
    uint64_t size = 0;
    PlatformStatus sized = file_size(log.file, size);
    if (sized || size == 0) bytes = "\xEF\xBB\xBF" + bytes;  // a new log
    append_to_file(log.file, bytes);
}
