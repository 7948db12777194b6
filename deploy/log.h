#pragma once

#include <cstdint>
#include <string>

#include "common/strings.h"
#include "platform/clock.h"
#include "platform/security.h"

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
    String file;    // the folder, a backslash and log_file_name
    bool broken = false;  // the folder failed a check during the run: no more writes there
};

// One CMTrace record with its CR LF. Line breaks in the message become
// spaces and its end marker is broken up, so that it stays one record.
std::string cmtrace_record(StringView message, RecordType type, const LocalTime& time, uint32_t thread);

// A run starts a new log when the current one has grown past the cap.
bool log_needs_rotation(uint64_t size);

// The one line that refuses a log folder.
String log_folder_refusal(const String& folder, FolderCheck check);

// Finds or makes the log folder, checks it and starts a new log when the
// current one is over the cap. On failure nothing is written and `refusal`
// holds the one line to show.
bool open_deploy_log(DeployLog& log, String& refusal);

// Checks the folder, appends the record and writes its message to standard
// output.
void log_record(DeployLog& log, RecordType type, StringView message);
