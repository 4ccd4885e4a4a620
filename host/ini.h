// The host's settings files: INI text read and written by section and key,
// under the host's own names.
//
// A file is lines of `[section]` headers and `key=value` entries. Section and
// key names match ASCII case-insensitively; the first matching section is the
// only one consulted, and within it the first matching key. Names and values
// are trimmed of blanks and tabs. Lines starting with ';' or '#', lines
// before the first section and lines without '=' are never matched, and every
// line a write does not change is kept byte for byte. LF and CRLF files are
// read; a write keeps the file's line end (that of its first line; LF for a
// new file).
//
// Writers serialise on an exclusive lock on PATH.lock (left beside the file)
// and replace the file by renaming a complete, synced copy over it, so a
// reader sees either the old or the new file, never a mix, and two writers
// never interleave their keys. Each read takes one snapshot of the whole
// file; a reader of several keys takes one ProfileSnapshot for them all, so
// that a save between two of its reads cannot give it keys of two files.
//
// Paths are given as the host builds them, a directory plus "\Dunsmere.ini":
// every backslash is taken as '/'. No function here throws.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

// One reading of a whole settings file, taken under a shared lock on
// PATH.lock when that file exists, so that a save is wholly in it or wholly
// out. A file that is missing or cannot be read reads as empty. The lookups
// answer as GetPrivateProfileInt and GetPrivateProfileString below would
// have at the moment it was taken. Never throws.
class ProfileSnapshot {
public:
    explicit ProfileSnapshot(const char* path);

    // The path as given; "" for nullptr.
    const std::string& Path() const { return path_; }
    int GetInt(const char* section, const char* key, int defaultValue) const;
    int GetString(const char* section, const char* key, const char* defaultValue, char* buffer,
                  int bufferSize) const;
    // The keys of SECTION that reads can find, each once as first spelled,
    // in file order; none for a missing section.
    std::vector<std::string> Keys(const char* section) const;

private:
    std::string path_;
    std::string bytes_;
};

// PATH with every backslash turned into '/'; "" for nullptr.
std::string HostPath(const char* path);

// A snapshot of PATH taken for the one key: ProfileSnapshot(path).GetInt and
// .GetString.
//
// The key's value read as an integer: an optional sign and the leading
// decimal digits (0 when there are none), saturated to the int range.
// DEFAULT_VALUE when the file, the section or the key is missing.
int GetPrivateProfileInt(const char* section, const char* key, int defaultValue,
                         const char* path);

// Copies the key's value, or DEFAULT_VALUE when it is missing, into BUFFER:
// at most BUFFER_SIZE - 1 characters, always null-terminated. Returns the
// number of characters copied (0, writing nothing, when BUFFER_SIZE < 1).
int GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                            char* buffer, int bufferSize, const char* path);

// Sets KEY to VALUE in SECTION, creating the file, the section (appended at
// the end of the file) or the key (appended after the section's last key
// line, or right after its header) as needed; an existing value is replaced
// in place, the rest of its line untouched. Returns false, leaving the file
// as it was, when the file cannot be written, an argument is nullptr, or a
// name or the value would not read back as written (an empty name, '=' in a
// key or a key starting '[', ';' or '#', ']' in a section, a line break
// anywhere). A null VALUE deletes the key: every line of it in the section
// reads look in; the file is untouched when it has none.
bool WritePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* path);

// Key and value; no value deletes the key.
using ProfileEntries = std::vector<std::pair<std::string, std::optional<std::string>>>;

// The ENTRIES' writes and deletes in SECTION, applied in order under one
// lock and saved with one replace: the resulting bytes are those of the same
// single writes in turn. All or nothing: one bad entry fails the batch.
bool WritePrivateProfileStrings(const char* section, const ProfileEntries& entries,
                                const char* path);
