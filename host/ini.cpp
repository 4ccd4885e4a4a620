// INI files as lines: each keeps its own text and line end, so a write edits
// or inserts single lines and joins everything else back unchanged.
#include "host/ini.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string_view>

#include "host/temporary_files.h"

namespace {

struct Line {
    std::string text;  // without the line end
    std::string end;   // "\n", "\r\n", or "" for a last line without one
};

struct KeyLine {
    std::string_view key;
    size_t valueBegin = 0;  // the trimmed value's span within the line text
    size_t valueEnd = 0;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

std::vector<Line> SplitLines(const std::string& bytes)
{
    std::vector<Line> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t nl = bytes.find('\n', start);
        if (nl == std::string::npos) {
            lines.push_back({bytes.substr(start), ""});
            break;
        }
        const bool crlf = nl > start && bytes[nl - 1] == '\r';
        const size_t textEnd = crlf ? nl - 1 : nl;
        lines.push_back({bytes.substr(start, textEnd - start), crlf ? "\r\n" : "\n"});
        start = nl + 1;
    }
    return lines;
}

std::string JoinLines(const std::vector<Line>& lines)
{
    std::string bytes;
    for (const Line& line : lines) bytes += line.text + line.end;
    return bytes;
}

// The first line's end decides; with none yet, LF.
std::string LineEndOf(const std::vector<Line>& lines)
{
    for (const Line& line : lines)
        if (!line.end.empty()) return line.end;
    return "\n";
}

// A header is '[' as the first non-blank character and a later ']'; what
// follows the ']' is ignored.
std::optional<std::string_view> SectionName(std::string_view text)
{
    const std::string_view t = Trim(text);
    if (t.empty() || t.front() != '[') return std::nullopt;
    const size_t close = t.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return Trim(t.substr(1, close - 1));
}

std::optional<KeyLine> ParseKeyLine(std::string_view text)
{
    const std::string_view t = Trim(text);
    if (t.empty() || t.front() == ';' || t.front() == '#') return std::nullopt;
    const size_t eq = text.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    KeyLine k;
    k.key = Trim(text.substr(0, eq));
    if (k.key.empty()) return std::nullopt;
    size_t b = eq + 1;
    size_t e = text.size();
    while (b < e && IsBlank(text[b])) ++b;
    while (e > b && IsBlank(text[e - 1])) --e;
    // An empty value is filled in right after the '='.
    k.valueBegin = b < e ? b : eq + 1;
    k.valueEnd = b < e ? e : eq + 1;
    return k;
}

struct SectionSpan {
    size_t header;  // index of the header line
    size_t end;     // one past the section's last line
};

std::optional<SectionSpan> FindSection(const std::vector<Line>& lines, std::string_view name)
{
    for (size_t i = 0; i < lines.size(); ++i) {
        const auto found = SectionName(lines[i].text);
        if (!found || !SameName(*found, name)) continue;
        size_t end = i + 1;
        while (end < lines.size() && !SectionName(lines[end].text)) ++end;
        return SectionSpan{i, end};
    }
    return std::nullopt;
}

std::optional<std::string> Lookup(const std::vector<Line>& lines, std::string_view section,
                                  std::string_view key)
{
    const auto span = FindSection(lines, section);
    if (!span) return std::nullopt;
    for (size_t i = span->header + 1; i < span->end; ++i) {
        const auto k = ParseKeyLine(lines[i].text);
        if (k && SameName(k->key, key))
            return std::string(lines[i].text, k->valueBegin, k->valueEnd - k->valueBegin);
    }
    return std::nullopt;
}

// Inserts a line after index AFTER, giving that line a line end first when
// it was the file's unterminated last line.
void InsertAfter(std::vector<Line>& lines, size_t after, std::string text, const std::string& eol)
{
    if (lines[after].end.empty()) lines[after].end = eol;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(after) + 1, Line{std::move(text), eol});
}

// Removes every line of KEY from SECTION (the first of that name, the one
// reads look in); the section's header stays, as does a file left empty.
void DeleteKey(std::vector<Line>& lines, std::string_view section, std::string_view key)
{
    const auto span = FindSection(lines, section);
    if (!span) return;
    size_t end = span->end;
    for (size_t i = span->header + 1; i < end;) {
        const auto k = ParseKeyLine(lines[i].text);
        if (!k || !SameName(k->key, key)) {
            ++i;
            continue;
        }
        // The line before takes over an unterminated last line's missing end.
        if (lines[i].end.empty() && i > 0) lines[i - 1].end.clear();
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
        --end;
    }
}

void SetValue(std::vector<Line>& lines, std::string_view section, std::string_view key,
              std::string_view value, const std::string& eol)
{
    const std::string entry = std::string(key) + "=" + std::string(value);
    const auto span = FindSection(lines, section);
    if (!span) {
        if (!lines.empty() && lines.back().end.empty()) lines.back().end = eol;
        lines.push_back({"[" + std::string(section) + "]", eol});
        lines.push_back({entry, eol});
        return;
    }
    size_t last = span->header;
    for (size_t i = span->header + 1; i < span->end; ++i) {
        const auto k = ParseKeyLine(lines[i].text);
        if (!k) continue;
        if (SameName(k->key, key)) {
            lines[i].text.replace(k->valueBegin, k->valueEnd - k->valueBegin, value);
            return;
        }
        last = i;
    }
    InsertAfter(lines, last, entry, eol);
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// Names and values that a read would give back as written.
bool Writable(std::string_view section, std::string_view key, std::string_view value)
{
    if (section.empty() || key.empty()) return false;
    if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) return false;
    if (section.find(']') != std::string_view::npos) return false;
    // A key must not read back as a header or a comment either.
    return key.find('=') == std::string_view::npos && key.front() != '[' && key.front() != ';' &&
           key.front() != '#';
}

int ParseInt(std::string_view s)
{
    size_t i = 0;
    while (i < s.size() && IsBlank(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    long long magnitude = 0;
    constexpr long long kCap = 1LL + INT_MAX;  // |INT_MIN|: enough to saturate either way
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (s[i] - '0');
        if (magnitude > kCap) magnitude = kCap;
    }
    if (negative) return magnitude >= kCap ? INT_MIN : static_cast<int>(-magnitude);
    return magnitude > INT_MAX ? INT_MAX : static_cast<int>(magnitude);
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { if (fd_ >= 0) ::close(fd_); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

enum class ReadResult { kRead, kMissing, kFailed };

ReadResult ReadFile(const std::string& path, std::string& bytes)
{
    bytes.clear();
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kFailed;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n == 0) return ReadResult::kRead;
        if (n < 0) {
            if (errno == EINTR) continue;
            return ReadResult::kFailed;
        }
        bytes.append(chunk, static_cast<size_t>(n));
    }
}

// The whole file, read while no writer holds the lock. The lock file is
// not created here: without one no writer has saved yet, and a writer's
// replace is a rename, which a reader sees whole or not at all.
std::string ReadSnapshot(const std::string& target)
{
    Fd lock(::open((target + ".lock").c_str(), O_RDONLY | O_CLOEXEC));
    if (lock.get() >= 0)
        while (::flock(lock.get(), LOCK_SH) != 0)
            if (errno != EINTR) break;
    std::string bytes;
    if (ReadFile(target, bytes) != ReadResult::kRead) bytes.clear();
    return bytes;
}

// The caller holds the lock; the temporary's unique name still guards
// against a leftover from a writer that died mid-save.
bool ReplaceFile(const std::string& target, const std::string& bytes)
{
    TemporaryFile temp(target);
    return temp.fd() >= 0 && temp.Write(bytes.data(), bytes.size()) && temp.Commit();
}

bool WriteLocked(std::string_view section, const ProfileEntries& entries, const std::string& target)
{
    // The lock is on a file of its own: the target is replaced by each save,
    // so a lock on it would be held on a file that is no longer the target.
    // flock, not fcntl, so that threads of one process exclude each other too.
    Fd lock(::open((target + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (lock.get() < 0) return false;
    while (::flock(lock.get(), LOCK_EX) != 0)
        if (errno != EINTR) return false;

    std::string original;
    const ReadResult read = ReadFile(target, original);
    if (read == ReadResult::kFailed) return false;
    std::vector<Line> lines = SplitLines(original);
    const std::string eol = LineEndOf(lines);
    for (const auto& [key, value] : entries) {
        if (value) SetValue(lines, section, Trim(key), Trim(*value), eol);
        else DeleteKey(lines, section, Trim(key));
    }
    const std::string updated = JoinLines(lines);
    if (updated == original) return true;  // nothing to save: the file stays untouched

    return ReplaceFile(target, updated);
}

}  // namespace

std::string HostPath(const char* path)
{
    std::string p = path ? path : "";
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
}

ProfileSnapshot::ProfileSnapshot(const char* path)
{
    try {
        path_ = path ? path : "";
        if (path) bytes_ = ReadSnapshot(HostPath(path));
    } catch (...) {
        bytes_.clear();
    }
}

int ProfileSnapshot::GetInt(const char* section, const char* key, int defaultValue) const
{
    if (!section || !key) return defaultValue;
    try {
        const auto value = Lookup(SplitLines(bytes_), Trim(section), Trim(key));
        return value ? ParseInt(*value) : defaultValue;
    } catch (...) {
        return defaultValue;
    }
}

int ProfileSnapshot::GetString(const char* section, const char* key, const char* defaultValue, char* buffer,
                               int bufferSize) const
{
    if (!buffer || bufferSize < 1) return 0;
    std::optional<std::string> value;
    try {
        if (section && key) value = Lookup(SplitLines(bytes_), Trim(section), Trim(key));
    } catch (...) {
        value.reset();
    }
    const std::string_view text = value ? std::string_view(*value)
                                        : std::string_view(defaultValue ? defaultValue : "");
    const size_t n = std::min(text.size(), static_cast<size_t>(bufferSize - 1));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

std::vector<std::string> ProfileSnapshot::Keys(const char* section) const
{
    std::vector<std::string> keys;
    if (!section) return keys;
    try {
        const std::vector<Line> lines = SplitLines(bytes_);
        const auto span = FindSection(lines, Trim(section));
        for (size_t i = span ? span->header + 1 : 0; span && i < span->end; ++i) {
            const auto k = ParseKeyLine(lines[i].text);
            // A later line of a key already listed is never read.
            if (k && std::none_of(keys.begin(), keys.end(), [&](const std::string& n) { return SameName(n, k->key); }))
                keys.emplace_back(k->key);
        }
    } catch (...) {
        keys.clear();
    }
    return keys;
}

int GetPrivateProfileInt(const char* section, const char* key, int defaultValue, const char* path)
{
    return ProfileSnapshot(path).GetInt(section, key, defaultValue);
}

int GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                            char* buffer, int bufferSize, const char* path)
{
    return ProfileSnapshot(path).GetString(section, key, defaultValue, buffer, bufferSize);
}

bool WritePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* path)
{
    if (!key) return false;
    try {
        return WritePrivateProfileStrings(section, {{key, value ? std::optional<std::string>(value) : std::nullopt}},
                                          path);
    } catch (...) {
        return false;
    }
}

bool WritePrivateProfileStrings(const char* section, const ProfileEntries& entries,
                                const char* path)
{
    if (!section || !path || !*path) return false;
    try {
        const std::string_view name = Trim(section);
        for (const auto& [key, value] : entries)
            if (!Writable(name, Trim(key), value ? std::string_view(*value) : std::string_view())) return false;
        return WriteLocked(name, entries, HostPath(path));
    } catch (...) {
        return false;
    }
}
