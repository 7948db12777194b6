#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/strings.h"
#include "deploy/names.h"
#include "platform/deploy/clock.h"
#include "platform/deploy/open_files.h"
#include "platform/deploy/security.h"

// The deploy log: %SystemRoot%\Logs\Typeloader\Typeloader-Deploy.log, in the
// CMTrace format that Configuration Manager and Intune administrators read,
// in a folder only SYSTEM and Administrators may change. Every record goes to
// standard output too.

enum class RecordType { information = 1, warning = 2, error = 3 };

inline constexpr uint64_t log_size_cap = 1024 * 1024;
inline constexpr StringView log_file_name = u"Typeloader-Deploy.log";
inline constexpr StringView previous_log_file_name = u"Typeloader-Deploy.lo_";

struct DeployLog {
    String folder;  // ...\Logs\Typeloader
    String path;    // the folder, a backslash and log_file_name
    HeldFile file;  // held for the whole run: no other run can open it
    bool broken = false;  // a record could not be written: nothing more is
    // The records, as written (UTF-8), of runs that ended before their
    // verdict (killed, or their machine stopped), oldest first: read when
    // the log is opened, before anything of this run is written.
    std::vector<std::string> unfinished;
};

// How much of the end of the log is read for the runs before this one: a
// run of thousands of fonts writes a record for each.
inline constexpr size_t log_tail_bytes = 4 * 1024 * 1024;

// The messages (UTF-8) of the records after the last verdict in the end of
// a log: those of runs that ended before their verdict. Empty when the last
// run gave its verdict, or there was none.
std::vector<std::string> records_after_last_verdict(std::string_view tail);

// Whether a run that ended before its verdict began with this record: the
// first record a job writes names its job and title.
bool left_unfinished(const DeployLog& log, StringView first_record);

// How long a run waits for another to let go of the log.
inline constexpr uint32_t log_wait_milliseconds = 30 * 1000;
inline constexpr uint32_t log_wait_step_milliseconds = 250;

// One CMTrace record with its CR LF. Line breaks in the message become
// spaces and its end marker is broken up, so that it stays one record.
std::string cmtrace_record(StringView message, RecordType type, const LocalTime& time, uint32_t thread);

// A run starts a new log when the current one has grown past the cap.
bool log_needs_rotation(uint64_t size);

// Why a folder of our own may not be used (the log folder, the kept copy's
// folders), or empty when it is a plain folder that only SYSTEM,
// Administrators and TrustedInstaller may change, with any file created in it.
String private_folder_reason(const ObjectSecurity& security);

// The one line that refuses the log folder by that rule, or empty.
String log_folder_refusal(const String& folder, const ObjectSecurity& security);

// The one line that refuses a log file (the log or the previous log) by its
// own kind, owner and access entries, or empty when it is safe.
String log_file_refusal(const String& path, const ObjectSecurity& security);

enum class LogOpening { opened, refused, busy };

// Finds or makes the log folder and checks it, then opens the log and holds
// it, waiting a bounded time while another run holds it (busy), checks the
// held log's own security, and starts a new log when the current one is over
// the cap (checking the previous log first). On refusal nothing is written
// and `refusal` holds the one line to show.
LogOpening open_deploy_log(DeployLog& log, String& refusal);

// Writes the message to standard output and appends its record through the
// held log, first checking that the handle is still the plain file at the
// log's path. False when the record could not be written (then or by an
// earlier record): the job stops there.
bool log_record(DeployLog& log, RecordType type, StringView message);

// Records made together (a line per font): one check of the handle, then one
// write of them all, with one time stamp.
struct LogLine {
    RecordType type = RecordType::information;
    String message;
};
bool log_records(DeployLog& log, const std::vector<LogLine>& lines);

// Whether every record so far was written.
bool log_is_whole(const DeployLog& log);

// One error record per refusal, each "Refused: <reason>."
bool log_refusals(DeployLog& log, const std::vector<String>& refusals);
