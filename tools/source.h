// Line-oriented source texts of the asset generator: comments, words, key=value
// options, and errors that name the file and line at fault.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tools {

// One source file read whole, walked line by line. Blank lines and lines whose
// first visible character is ';' are skipped; other lines are trimmed.
class Source {
public:
    explicit Source(const std::filesystem::path& path);

    // Moves to the next line that holds something; false at the end.
    bool next();
    const std::string& line() const { return current; }
    int number() const { return line_number; }
    const std::filesystem::path& path() const { return file; }

    // The current line split at blanks; a ';' word and everything after it is a comment.
    std::vector<std::string> words() const;

    // Throws std::runtime_error with "file:line: message".
    [[noreturn]] void fail(const std::string& message) const;

private:
    std::filesystem::path file;
    std::vector<std::string> lines;
    std::size_t index = 0;
    int line_number = 0;
    std::string current;
};

// Options written as key=value words; every key must be read exactly as
// given, and keys nobody asked for are reported as errors.
class Options {
public:
    Options(const Source& source, const std::vector<std::string>& words, std::size_t first);

    double number(const std::string& key, double fallback);
    std::string text(const std::string& key, const std::string& fallback);
    bool has(const std::string& key) const { return values.count(key) != 0; }
    // Fails on any key that no read asked for.
    void finish();

private:
    const Source& source;
    std::map<std::string, std::string> values;
    std::map<std::string, bool> used;
};

// Parses a word that is wholly a finite decimal number, failing with the
// source's position otherwise.
double parse_number(const Source& source, const std::string& word);
int parse_int(const Source& source, const std::string& word);
// "WxH" into two positive integers.
std::pair<int, int> parse_size(const Source& source, const std::string& word);

}  // namespace tools
