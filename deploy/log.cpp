#include "deploy/log.h"

#include <cstdlib>

#include "deploy/access_rule.h"
#include "deploy/waiting.h"
#include "platform/deploy/clock.h"
#include "platform/deploy/file_entries.h"
#include "platform/deploy/standard_output.h"

namespace {

// At least `width` digits, zeros in front.
std::string padded(int number, size_t width) {
    std::string digits = std::to_string(number);
    return std::string(digits.size() < width ? width - digits.size() : 0, '0') + digits;
}

bool is_missing(PlatformStatus status) { return status == status_file_not_found || status == status_path_not_found; }

String unreadable(const String& what, PlatformStatus status) {
    return with_error(u"Typeloader-Deploy: " + what + u" is refused: its security cannot be read", status);
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

String private_folder_reason(const ObjectSecurity& security) {
    String reason;
    if (security.reparse_point) {
        reason = u"it is a link or another reparse point";
    } else if (!security.is_folder) {
        reason = u"it is not a folder";
    } else if (!owner_is_trusted(security, Trust::local_only)) {
        reason = u"its owner is neither SYSTEM nor Administrators";
    } else if (!access_refusal(security, AccessTarget::object_itself, Trust::local_only).empty()) {
        reason = u"someone other than SYSTEM and Administrators may change it";
    } else {
        // An object-inherit entry is part of a file's own access list once
        // the file (the log, a kept program) is created in the folder.
        reason = access_refusal(security, AccessTarget::file_created_inside, Trust::local_only);
    }
    return reason;
}

String log_folder_refusal(const String& folder, const ObjectSecurity& security) {
    const String reason = private_folder_reason(security);
    return reason.empty() ? String() : u"Typeloader-Deploy: the log folder " + folder + u" is refused: " + reason;
}

String log_file_refusal(const String& path, const ObjectSecurity& security) {
    String reason = security.reparse_point ? u"it is a link or another reparse point"
                    : security.is_folder   ? u"it is a folder"
                                           : access_refusal(security, AccessTarget::object_itself, Trust::local_only);
    return reason.empty() ? String() : u"Typeloader-Deploy: the log " + path + u" is refused: " + reason;
}

namespace {

// Opens the log at its path, waiting while another run holds it.
PlatformStatus open_waiting(const String& path, HeldFile& file) {
    return try_while_held([&] { return open_log_file(path, file); },
                          [](PlatformStatus status) { return status == status_sharing_violation; }, log_wait_milliseconds,
                          log_wait_step_milliseconds);
}

}  // namespace

namespace {

// Opens the log and holds it, judging the held file's own security.
LogOpening open_held_log(DeployLog& log, uint64_t& size, String& refusal) {
    PlatformStatus status = open_waiting(log.path, log.file);
    if (status == status_sharing_violation) {
        refusal = u"Typeloader-Deploy: another run holds the log " + log.path + u"; try again later";
        return LogOpening::busy;
    }
    if (!status) status = open_file_size(log.file, size);
    if (status) {
        refusal = with_error(u"Typeloader-Deploy: the log " + log.path + u" cannot be opened", status);
        return LogOpening::refused;
    }
    // The file that is then written is the one judged: through the held handle.
    ObjectSecurity own;
    if (PlatformStatus status = read_held_file_security(log.file, own)) {
        refusal = unreadable(u"the log " + log.path, status);
        return LogOpening::refused;
    }
    refusal = log_file_refusal(log.path, own);
    return refusal.empty() ? LogOpening::opened : LogOpening::refused;
}

// Moves the full log aside while it is held, once the previous log passes;
// the refusal, or empty when it moved.
String rotation_refusal(DeployLog& log, const String& previous_path) {
    ObjectSecurity previous;
    PlatformStatus status = read_object_security(previous_path, previous);
    if (status && !is_missing(status)) return unreadable(u"the log " + previous_path, status);
    if (!status) {
        if (String refusal = log_file_refusal(previous_path, previous); !refusal.empty()) return refusal;
    }
    if (PlatformStatus status = rename_open_file(log.file, previous_path)) {
        return with_error(u"Typeloader-Deploy: the log " + log.path + u" cannot be rotated", status);
    }
    return String();
}

}  // namespace

namespace {

// The records of the runs before this one that ended before their verdict;
// none when the log cannot be read (it is then judged at its first write).
std::vector<std::string> unfinished_runs(const DeployLog& log, uint64_t size) {
    const uint64_t from = size > log_tail_bytes ? size - log_tail_bytes : 0;
    std::string tail;
    if (read_at(log.file, from, static_cast<size_t>(size - from), tail)) return {};
    return records_after_last_verdict(tail);
}

}  // namespace

LogOpening open_deploy_log(DeployLog& log, String& refusal) {
    String windows;
    if (PlatformStatus status = system_windows_folder(windows)) {
        refusal = with_error(u"Typeloader-Deploy: the Windows folder is unknown", status);
        return LogOpening::refused;
    }
    const String logs = windows + u"\\Logs";
    log.folder = logs + u"\\Typeloader";
    log.path = log.folder + u"\\" + String(log_file_name);

    ObjectSecurity folder;
    PlatformStatus status = read_object_security(log.folder, folder);
    if (is_missing(status)) {
        EntryKind logs_kind = EntryKind::missing;
        if (!entry_kind(logs, logs_kind) && logs_kind == EntryKind::missing) create_private_folder(logs);
        if (PlatformStatus status = create_private_folder(log.folder)) {
            refusal = with_error(u"Typeloader-Deploy: the log folder " + log.folder + u" cannot be created", status);
            return LogOpening::refused;
        }
        status = read_object_security(log.folder, folder);
    }
    if (status) {
        refusal = unreadable(u"the log folder " + log.folder, status);
        return LogOpening::refused;
    }
    refusal = log_folder_refusal(log.folder, folder);
    if (!refusal.empty()) return LogOpening::refused;

    const String previous_path = log.folder + u"\\" + String(previous_log_file_name);
    for (bool rotated = false;;) {
        uint64_t size = 0;
        if (LogOpening opening = open_held_log(log, size, refusal); opening != LogOpening::opened) return opening;
        if (!rotated) log.unfinished = unfinished_runs(log, size);
        if (rotated || !log_needs_rotation(size)) return LogOpening::opened;
        refusal = rotation_refusal(log, previous_path);
        if (!refusal.empty()) return LogOpening::refused;
        rotated = true;
    }
}

bool log_record(DeployLog& log, RecordType type, StringView message) { return log_records(log, {{type, String(message)}}); }

bool log_records(DeployLog& log, const std::vector<LogLine>& lines) {
    for (const LogLine& line : lines) write_output_line(line.message);
    if (log.broken || lines.empty()) return !log.broken;
    bool plain = false;
    PlatformStatus status = is_plain_file_at(log.file, log.path, plain);
    if (!status && !plain) {
        log.broken = true;
        write_output_line(u"Typeloader-Deploy: the log " + log.path + u" is no longer the plain file at its path; the run stops");
        return false;
    }
    uint64_t size = 0;
    if (!status) status = open_file_size(log.file, size);
    if (!status) {
        std::string bytes = size == 0 ? "\xEF\xBB\xBF" : "";  // a new log
        const LocalTime time = local_time();
        const uint32_t thread = current_thread_id();
        for (const LogLine& line : lines) bytes += cmtrace_record(line.message, line.type, time, thread);
        status = append_to_open_file(log.file, bytes);
    }
    if (status) {
        log.broken = true;
        write_output_line(with_error(u"Typeloader-Deploy: the log " + log.path + u" cannot be written", status) + u"; the run stops");
    }
    return !log.broken;
}

bool log_is_whole(const DeployLog& log) { return !log.broken; }

std::vector<std::string> records_after_last_verdict(std::string_view tail) {
    constexpr std::string_view begin = "<![LOG[", end = "]LOG]!>";
    std::vector<std::string> records;
    for (size_t at = tail.find(begin); at != std::string_view::npos; at = tail.find(begin, at + 1)) {
        const size_t stop = tail.find(end, at);
        if (stop == std::string_view::npos) break;
        std::string_view message = tail.substr(at + begin.size(), stop - at - begin.size());
        // A verdict ends in " Exit code <number>.": the runs before it ended.
        const size_t code = message.rfind(" Exit code ");
        const std::string_view number = code == std::string_view::npos ? std::string_view() : message.substr(code + 11);
        const bool verdict = number.size() > 1 && number.back() == '.' &&
                             number.find_first_not_of("0123456789") == number.size() - 1;
        if (verdict) {
            records.clear();
        } else {
            records.emplace_back(message);
        }
    }
    return records;
}

bool left_unfinished(const DeployLog& log, StringView first_record) {
    const std::string wanted = utf8(first_record);
    for (const std::string& record : log.unfinished) {
        if (record == wanted) return true;
    }
    return false;
}

bool log_refusals(DeployLog& log, const std::vector<String>& refusals) {
    std::vector<LogLine> lines;
    for (const String& refusal : refusals) lines.push_back({RecordType::error, u"Refused: " + refusal + u"."});
    return log_records(log, lines);
}
