#include "source.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tools {

namespace {

std::string trim(const std::string& s)
{
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

}  // namespace

Source::Source(const std::filesystem::path& path) : file(path)
{
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("can't open \"" + path.string() + "\"");
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
}

bool Source::next()
{
    while (index < lines.size()) {
        line_number = static_cast<int>(++index);
        current = trim(lines[index - 1]);
        if (!current.empty() && current[0] != ';')
            return true;
    }
    current.clear();
    return false;
}

std::vector<std::string> Source::words() const
{
    std::vector<std::string> out;
    std::istringstream in(current);
    for (std::string w; in >> w;) {
        if (w[0] == ';')
            break;
        out.push_back(w);
    }
    return out;
}

void Source::fail(const std::string& message) const
{
    throw std::runtime_error(file.string() + ":" + std::to_string(line_number) + ": " + message);
}

Options::Options(const Source& source, const std::vector<std::string>& words, std::size_t first)
    : source(source)
{
    for (std::size_t i = first; i < words.size(); ++i) {
        const auto eq = words[i].find('=');
        if (eq == std::string::npos || eq == 0)
            source.fail("expected key=value, got \"" + words[i] + "\"");
        const std::string key = words[i].substr(0, eq);
        if (!values.emplace(key, words[i].substr(eq + 1)).second)
            source.fail("\"" + key + "\" given twice");
    }
}

double Options::number(const std::string& key, double fallback)
{
    used[key] = true;
    const auto it = values.find(key);
    return it == values.end() ? fallback : parse_number(source, it->second);
}

std::string Options::text(const std::string& key, const std::string& fallback)
{
    used[key] = true;
    const auto it = values.find(key);
    return it == values.end() ? fallback : it->second;
}

void Options::finish()
{
    for (const auto& [key, value] : values)
        if (!used.count(key))
            source.fail("unknown option \"" + key + "\"");
}

double parse_number(const Source& source, const std::string& word)
{
    double v = 0;
    const char* end = word.data() + word.size();
    const auto [p, ec] = std::from_chars(word.data(), end, v);
    // The conversion also reads "inf" and "nan", which no quantity here can be.
    if (ec != std::errc() || p != end || !std::isfinite(v))
        source.fail("expected a number, got \"" + word + "\"");
    return v;
}

int parse_int(const Source& source, const std::string& word)
{
    int v = 0;
    const char* end = word.data() + word.size();
    const auto [p, ec] = std::from_chars(word.data(), end, v);
    if (ec != std::errc() || p != end)
        source.fail("expected a whole number, got \"" + word + "\"");
    return v;
}

std::pair<int, int> parse_size(const Source& source, const std::string& word)
{
    const auto x = word.find('x');
    if (x == std::string::npos)
        source.fail("expected WxH, got \"" + word + "\"");
    const int w = parse_int(source, word.substr(0, x));
    const int h = parse_int(source, word.substr(x + 1));
    if (w < 1 || h < 1)
        source.fail("sizes must be at least 1, got \"" + word + "\"");
    return {w, h};
}

}  // namespace tools
