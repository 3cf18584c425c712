// The value store: named text values kept in a two-line data file, the working texts through which
// every operation reads and edits it, and the operations themselves.
//
// Everything here works on byte strings in the ANSI code page. The owner (the control, the command-line
// tool, a test) supplies the data file path through a callback, the file system through vs::FileSystem
// and the ambiguity warning through vs::Warner.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vs {

namespace detail {
struct Workspace;
}

// ---- Fixed texts ------------------------------------------------------------------------------------

inline constexpr std::string_view kBeginMarker = "<BEGINVALUEDECLARE>";
inline constexpr std::string_view kEndMarker = "<ENDVALUEDECLARE>";
// Line texts of the default content (stored between double quotes, each line ended by CR LF).
inline constexpr std::string_view kDefaultDeclarationLine = "<BEGINVALUEDECLARE>(NULL)<ENDVALUEDECLARE>";
inline constexpr std::string_view kDefaultValueLine = "NULL (0)";
// The whole default file, byte for byte.
inline constexpr std::string_view kDefaultFileContent =
    "\"<BEGINVALUEDECLARE>(NULL)<ENDVALUEDECLARE>\"\r\n\"NULL (0)\"\r\n";

// The warning shown when an added name is taken (exclamation icon, single OK button).
inline constexpr std::string_view kAmbiguousNameMessage = "Error, Ambiguous or Semi-Ambiguous Value Name";
inline constexpr std::string_view kAmbiguousNameTitle = "Valtrove Object Error";

// ---- Errors -------------------------------------------------------------------------------------------

// Error numbers an automation host expects; the control raises HRESULT 0x800A0000 | number.
namespace error {
inline constexpr int invalidArgument = 5;      // "Invalid procedure call or argument"
inline constexpr int badFileName = 52;         // "Bad file name or number"
inline constexpr int fileNotFound = 53;        // "File not found"
inline constexpr int diskFull = 61;            // "Disk full"
inline constexpr int permissionDenied = 70;    // "Permission denied"
inline constexpr int pathFileAccessError = 75; // "Path/File access error"
inline constexpr int pathNotFound = 76;        // "Path not found"
} // namespace error

// The standard description of an error number above ("Path/File access error" for any other).
std::string_view standardErrorText(int number);

struct StoreError : std::runtime_error {
    // With the standard description of the number.
    explicit StoreError(int errorNumber);
    StoreError(int errorNumber, const std::string& description);
    int number;
};

// A file error naming the file and the system's reason: "<standard text>: '<path>': <reason>".
StoreError fileError(int errorNumber, std::string_view path, std::string_view reason);

// ---- Text ---------------------------------------------------------------------------------------------

// The lead bytes of the double-byte characters of an ANSI code page (932, 936, 949, 950): a lead byte
// and the byte after it are one character. All false for a single-byte code page.
using LeadBytes = std::array<bool, 256>;
inline constexpr LeadBytes kNoLeadBytes{};

// ---- Seams --------------------------------------------------------------------------------------------

// Receives the warning that an added name is ambiguous or semi-ambiguous (the control shows a modal
// message box with kAmbiguousNameMessage titled kAmbiguousNameTitle).
struct Warner {
    virtual ~Warner() = default;
    virtual void warnAmbiguous() = 0;
};

// The file access the store needs. Implementations live outside the core (vs_platform) and in tests.
// Every failure is a StoreError carrying one of the file error numbers above.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // False when the path cannot name one file: empty, a pattern holding '*' or '?', written as a folder
    // (trailing '/' or '\'), or an existing folder. The store never reads, writes or deletes such a path.
    virtual bool namesSingleFile(const std::string& path) = 0;

    // The file's whole content; std::nullopt when there is no file of that name in an existing folder.
    // Any other failure (folder missing, access denied, locked, ...) throws StoreError.
    virtual std::optional<std::string> readFile(const std::string& path) = 0;

    // Replaces (or creates) the file atomically: writes a temporary file in the same folder, flushes it to
    // the disk and renames it over the path. On failure throws StoreError and leaves any old file intact.
    virtual void replaceFile(const std::string& path, std::string_view content) = 0;

    // Deletes the one file of that name. Throws StoreError on failure (fileNotFound when there is none).
    virtual void removeFile(const std::string& path) = 0;

    // The lead bytes of the code page in which paths and data files are written; none unless the
    // platform has a double-byte code page. Every search in the working texts matches whole characters.
    virtual const LeadBytes& leadBytes() const { return kNoLeadBytes; }
};

// The platform's file system (POSIX or Win32, from vs_platform). Lives as long as the process.
FileSystem& systemFileSystem();

// Syntactic part of FileSystem::namesSingleFile, shared by the implementations: false for an empty
// path, one holding '*' or '?', or one ending in '/' or '\'.
bool mayNameSingleFile(std::string_view path);

// ---- The store ----------------------------------------------------------------------------------------

// What an operation did.
enum class Outcome {
    done,      // the working texts were edited and saved (add, rewrite, remove, clear)
    notFound,  // the name has no declaration / entry of its own: nothing changed
    ambiguous, // add refused a taken name (the Warner was told)
};

// One instance per control. Not thread-safe; every call runs synchronously on the caller's thread.
class ValueStore {
public:
    using Values = std::vector<std::pair<std::string, std::string>>;

    explicit ValueStore(FileSystem& fileSystem = systemFileSystem(), Warner* warner = nullptr);

    void setWarner(Warner* warner) { warner_ = warner; }

    // Supplies the data file path, called afresh at every file access. It may throw StoreError when the
    // owner's value cannot be read as a path; the access then fails like one on a path that names no file,
    // except for invalidArgument (a path that cannot be given exactly), which reaches the caller of the
    // operation before anything changes. Without a source the path is empty.
    void setDataFileSource(std::function<std::string()> source) { dataFileSource_ = std::move(source); }

    const std::string& newValueData() const { return newValueData_; }
    void setNewValueData(std::string data) { newValueData_ = std::move(data); }

    bool automaticRewrite() const { return automaticRewrite_; }
    void setAutomaticRewrite(bool on) { automaticRewrite_ = on; }

    // The working texts: value text (Text1) and declaration text (Text3). Empty on a new store.
    const std::string& valueText() const { return valueText_; }
    const std::string& declarationText() const { return declarationText_; }

    // Loads the data file into the working texts and publishes its values. A missing file gets the default
    // content (not read back in this call); only a failure to write that content throws (StoreError).
    // Every other failure ends the load quietly, keeping the values published so far, and is kept in
    // lastFileError(): a file that cannot be read, or one the load cannot take whole (see below).
    //
    // A load takes a file whole when the file is empty, or holds exactly one declaration line and one
    // value line (in either order, each ended by CR, CR LF or the end of the file), the declaration line
    // enclosed in '"<BEGINVALUEDECLARE>' and '<ENDVALUEDECLARE>"' and the value line in double quotes:
    // every file the store writes. A missing file counts as whole too.
    void getDataValues();

    // add, rewrite and remove begin with a load. When it did not take an existing file whole they throw
    // its file error (naming the path) and save nothing; when it cannot write the default content to a
    // missing file they throw that error. A save that fails throws its file error: the old file stays,
    // the working texts keep the change (remove loads again first). A path that names no single file is
    // neither read nor written, quietly.

    // Adds a value with newValueData(). A taken name (found anywhere in the declaration text) is refused
    // through the Warner, or rewritten when automaticRewrite() is on. Throws StoreError(invalidArgument)
    // for a name or data that holds '(', ')', CR, LF or the begin marker, before anything changes.
    Outcome addDataValue(const std::string& name);

    // Stores newValueData() as the data of the value's own entry. notFound when it has none. Throws
    // StoreError(invalidArgument) for refused input, or when the entry has no closing ')'.
    Outcome rewriteDataValue(const std::string& name);

    // Removes the value's own declaration and entry, saves, and loads again (a failure of that last load
    // is absorbed). Throws StoreError(invalidArgument) for a refused or empty name, before anything
    // changes, or for an entry without its ')'.
    Outcome removeDataValue(const std::string& name);

    // Replaces the data file with the default content and empties the working texts. No load. Throws the
    // file error when the file cannot be written.
    Outcome clearAll();

    // Values published by the last load, in declaration order (each name once, without regard to case).
    const Values& values() const { return values_; }
    // Data of a published value, the name compared without regard to (ASCII) case; nullptr when absent.
    const std::string* find(std::string_view name) const;
    // Incremented by every load as it starts (and empties the published values).
    std::uint64_t loadCount() const { return loadCount_; }

    // The file error absorbed during the last operation (a quiet load failure), if any.
    const std::optional<StoreError>& lastFileError() const { return lastFileError_; }

private:
    enum class Loaded { noSingleFile, whole, notWhole };
    Loaded load();
    // A load that took the file whole (or found no single file); throws the file error otherwise.
    void loadWhole();
    void save();
    Outcome rewrite(const std::string& name);
    std::optional<std::string> dataFilePath();

    FileSystem& fileSystem_;
    Warner* warner_;
    std::function<std::string()> dataFileSource_;
    std::string newValueData_;
    bool automaticRewrite_ = false;
    std::string valueText_;
    std::string declarationText_;
    Values values_;
    std::vector<std::uint64_t> index_; // values_ by name without regard to case (see find)
    // Buffers each load reuses; a copy of the store starts with its own.
    struct Scratch {
        Scratch();
        Scratch(const Scratch&);
        Scratch& operator=(const Scratch&);
        ~Scratch();
        std::unique_ptr<detail::Workspace> workspace;
    } scratch_;
    std::uint64_t loadCount_ = 0;
    std::optional<StoreError> lastFileError_;
};

} // namespace vs
