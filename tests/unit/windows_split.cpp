#include "windows_split.h"

std::vector<String> split_like_windows(StringView line) {
    std::vector<String> arguments;
    size_t at = 0;
    String program;
    if (!line.empty() && line[0] == u'"') {
        size_t end = line.find(u'"', 1);
        program = String(line.substr(1, end - 1));
        at = end == StringView::npos ? line.size() : end + 1;
    } else {
        while (at < line.size() && line[at] != u' ' && line[at] != u'\t') program += line[at++];
    }
    arguments.push_back(program);
    for (;;) {
        while (at < line.size() && (line[at] == u' ' || line[at] == u'\t')) ++at;
        if (at == line.size()) return arguments;
        String argument;
        bool quoted = false;
        while (at < line.size() && (quoted || (line[at] != u' ' && line[at] != u'\t'))) {
            size_t slashes = 0;
            while (at < line.size() && line[at] == u'\\') ++slashes, ++at;
            if (at < line.size() && line[at] == u'"') {
                argument.append(slashes / 2, u'\\');
                if (slashes % 2) {
                    argument += u'"';
                } else if (quoted && at + 1 < line.size() && line[at + 1] == u'"') {
                    argument += u'"';
                    ++at;
                } else {
                    quoted = !quoted;
                }
                ++at;
            } else {
                argument.append(slashes, u'\\');
                if (at < line.size() && (quoted || (line[at] != u' ' && line[at] != u'\t'))) argument += line[at++];
            }
        }
        arguments.push_back(argument);
    }
}
