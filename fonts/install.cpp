#include "fonts/file_title.h"
#include "fonts/font_table.h"
#include "fonts/jobs.h"
#include "fonts/typeloader_contract.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace {

String destination_folder() {
    String fonts;
    PlatformStatus status = system_fonts_folder(fonts);
    if (!status) return fonts;
    // A folder of our own under the temporary folder. Should even that be
    // unknown, it goes beside the executable: a path relative to whatever the
    // working folder happens to be could scatter fonts anywhere.
    String fallback = fallback_folder(temporary_folder(), executable_folder());
    create_folder(fallback);
    return fallback;
}

}  // namespace

void install_fonts(const String& title) {
    write_console_line(install_header + title);

    const String source = executable_folder() + source_folder_suffix;
    const String destination = destination_folder();

    FontTable table;
    find_files(source + font_pattern_suffix, [&](const FoundFile& found) {
        String copy = destination + u"\\" + found.name;
        copy_file(found.path, copy);  // a failed copy is still registered
        font_table_set(table, file_title(found.name), copy);
    });

    font_table_walk(table, [&](const String& key, const String& copy) {
        if (key.empty()) return;
        String name = registration_name_of_title(title, key);
        PlatformStatus status = write_string_value(font_registration_key_path, name, copy);
        write_console_line((status ? install_fail : install_ok) + name);
    });
}
