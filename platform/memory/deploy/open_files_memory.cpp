#include "common/paths.h"
#include "deploy/digest.h"
#include "platform/deploy/file_entries.h"
#include "platform/deploy/open_files.h"
#include "platform/memory/memory_machine.h"

// An open file of the in-memory machine is the path it was opened at.
struct HeldFileHandle {
    String path;
};

void CloseHeldFile::operator()(HeldFileHandle* file) const { delete file; }

namespace {

PlatformStatus open_entry(const String& path, bool create, HeldFile& file) {
    if (PlatformStatus status = memory_call(create ? Operation::open_log_file : Operation::open_for_reading, path)) return status;
    const MemoryEntry* entry = find_memory_entry(path);
    if (!entry && create) {
        add_memory_file(path, std::string());
        entry = find_memory_entry(path);
    }
    if (!entry) return status_file_not_found;
    if (entry->reparse_point) return status_stopped_on_link;
    if (entry->is_folder) return status_access_denied;
    if (entry->in_use) return status_sharing_violation;
    file.reset(new HeldFileHandle{path});
    return status_success;
}

}  // namespace

PlatformStatus open_for_reading(const String& path, HeldFile& file) { return open_entry(path, false, file); }

PlatformStatus open_file_size(const HeldFile& file, uint64_t& size) {
    const MemoryEntry* entry = find_memory_entry(file->path);
    if (!entry) return status_file_not_found;
    size = entry->contents.size();
    return status_success;
}

PlatformStatus read_at(const HeldFile& file, uint64_t offset, size_t length, std::string& bytes) {
    const MemoryEntry* entry = find_memory_entry(file->path);
    if (!entry) return status_file_not_found;
    bytes = offset < entry->contents.size() ? entry->contents.substr(offset, length) : std::string();
    return status_success;
}

namespace {

// The entry at the path with its kind measured; null when none is a readable plain file.
const MemoryEntry* measured_entry(const String& path, Measure& measure) {
    measure = Measure{};
    const MemoryEntry* entry = find_memory_entry(path);
    if (!entry) return nullptr;
    measure.kind = entry->reparse_point ? EntryKind::reparse_point : entry->is_folder ? EntryKind::folder : EntryKind::file;
    return measure.kind == EntryKind::file && !entry->in_use ? entry : nullptr;
}

}  // namespace

PlatformStatus measure_against_digest(uint64_t digest, const String& path, Measure& measure) {
    const MemoryEntry* entry = measured_entry(path, measure);
    measure.same = entry && digest_of(entry->contents.data(), entry->contents.size()) == digest;
    return status_success;
}

PlatformStatus probe_in_use(const String& path) {
    if (PlatformStatus status = memory_call(Operation::probe_in_use, path)) return status;
    const MemoryEntry* entry = find_memory_entry(path);
    if (!entry) return find_memory_entry(parent_folder(path)) ? status_file_not_found : status_path_not_found;
    if (entry->is_folder) return status_access_denied;  // a folder, or a link to one, is not opened as a file
    return entry->in_use ? status_sharing_violation : status_success;
}

PlatformStatus copy_held_file(const HeldFile& source, const String& to, uint64_t& digest) {
    if (PlatformStatus status = memory_call(Operation::copy_file_replacing, to)) return status;
    const MemoryEntry* held = find_memory_entry(source->path);
    if (!held) return status_file_not_found;
    if (!find_memory_entry(parent_folder(to))) return status_path_not_found;
    const std::string contents = held->contents;  // adding an entry may move the others
    add_memory_file(to, contents);
    digest = digest_of(contents.data(), contents.size());
    return status_success;
}

PlatformStatus open_log_file(const String& path, HeldFile& file) { return open_entry(path, true, file); }

PlatformStatus append_to_open_file(const HeldFile& file, const std::string& bytes) {
    if (PlatformStatus status = memory_call(Operation::append_to_open_file, file->path)) return status;
    MemoryEntry* entry = find_memory_entry(file->path);
    if (!entry) return status_file_not_found;
    entry->contents += bytes;
    return status_success;
}

PlatformStatus rename_open_file(const HeldFile& file, const String& new_path) {
    if (const MemoryEntry* replaced = find_memory_entry(new_path)) remove_memory_entry(replaced);
    MemoryEntry* entry = find_memory_entry(file->path);
    if (!entry) return status_file_not_found;
    entry->path = new_path;
    file->path = new_path;
    return status_success;
}

PlatformStatus is_plain_file_at(const HeldFile& file, const String& path, bool& plain) {
    const MemoryEntry* entry = find_memory_entry(file->path);
    plain = entry && !entry->reparse_point && !entry->is_folder && equals_ignoring_ascii_case(file->path, path);
    return status_success;
}

PlatformStatus read_held_file_security(const HeldFile& file, ObjectSecurity& security) {
    security = ObjectSecurity{};
    if (PlatformStatus status = memory_call(Operation::read_held_file_security, file->path)) return status;
    const MemoryEntry* entry = find_memory_entry(file->path);
    if (!entry) return status_file_not_found;
    security = memory_object_security(*entry);
    return status_success;
}
