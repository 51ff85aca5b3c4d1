// Output files that are either complete or absent.
//
// The content goes to a temporary file beside the destination (same
// directory, so the final rename cannot cross file systems), which is renamed
// over the destination only when everything was written and closed without
// error. Any failure, an exception or a missing Commit removes the temporary
// file; an existing destination is then left as it was.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace orbimg::tool {

class SafeOutput {
public:
    /// Reserves a new temporary file beside `path` (mode 0666 less the
    /// umask). Throws ToolError "cannot write '<path>': <reason>" when the
    /// directory does not exist or is not writable, or `path` is a directory.
    explicit SafeOutput(std::string path);
    SafeOutput(const SafeOutput&) = delete;
    SafeOutput& operator=(const SafeOutput&) = delete;
    /// Removes the temporary file unless Commit succeeded.
    ~SafeOutput();

    const std::string& Path() const { return m_path; }
    const std::string& TempPath() const { return m_temp; }

    /// The temporary file opened for binary writing; owned here, closed by
    /// Commit or the destructor.
    std::FILE* Stream();
    /// For writers that must create the file themselves (cfitsio): removes
    /// the reserved empty file so that TempPath() can be created anew. The
    /// name stays reserved for cleaning up.
    void HandOver();
    /// Closes the stream (a write error that shows only now, such as a full
    /// disk, is reported) and renames the temporary file to Path(). Throws
    /// ToolError on failure, after removing the temporary file.
    void Commit();

    /// "cannot write '<path>': <reason>".
    [[noreturn]] void Fail(const std::string& reason);

private:
    std::string m_path;
    std::string m_temp;
    std::FILE* m_stream = nullptr;
    bool m_committed = false;
};

/// Writes `path` through a SafeOutput: `write` gets the open stream; the file
/// is committed when it returns and removed when it throws.
void WriteFileSafely(const std::string& path, const std::function<void(std::FILE*)>& write);

}  // namespace orbimg::tool
