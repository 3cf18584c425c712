// The value store: named text values kept in a two-line data file, the working texts through which
// every operation reads and edits it, and the operations themselves.
//
// Everything here works on byte strings in the ANSI code page. The owner (the control, the command-line
// tool, a test) supplies the data file path through a callback, the file system through vs::FileSystem
// (file_system.h) and the ambiguity warning through vs::Warner. Errors are vs::StoreError
// (store_error.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "valuestore/core/file_system.h"
#include "valuestore/core/store_error.h"

namespace vs {

namespace detail {
struct Workspace;
}

// ---- Fixed texts ------------------------------------------------------------------------------------

inline constexpr std::string_view kBeginMarker = "<BEGINVALUEDECLARE>";
inline constexpr std::string_view kEndMarker = "<ENDVALUEDECLARE>";
// The whole default file, byte for byte.
inline constexpr std::string_view kDefaultFileContent =
    "\"<BEGINVALUEDECLARE>(NULL)<ENDVALUEDECLARE>\"\r\n\"NULL (0)\"\r\n";

// The warning shown when an added name is taken (exclamation icon, single OK button).
inline constexpr std::string_view kAmbiguousNameMessage = "Error, Ambiguous or Semi-Ambiguous Value Name";
inline constexpr std::string_view kAmbiguousNameTitle = "Valtrove Object Error";

// ---- Seams ------------------------------------------------------------------------------------------

// Receives the warning that an added name is ambiguous or semi-ambiguous (the control shows a modal
// message box with kAmbiguousNameMessage titled kAmbiguousNameTitle).
struct Warner {
    virtual ~Warner() = default;
    virtual void warnAmbiguous() = 0;
};

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
    // The steps of a load.
    void writeDefaultContent();
    std::string takeLines(std::string_view content);
    bool stripLines();
    void publishValues();
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
