// Temporary file, rename on success, removal on failure.
#include "safeoutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

#include "tool.h"

namespace orbimg::tool {
namespace {

std::atomic<unsigned> g_tempCounter{0};

std::string ErrnoText(int code) { return std::strerror(code); }

/// Directory part of a path ("." for a bare name) and the last component.
std::pair<std::string, std::string> SplitPath(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return {".", path};
    }
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

}  // namespace

SafeOutput::SafeOutput(std::string path) : m_path(std::move(path))
{
    const auto [dir, base] = SplitPath(m_path);
    if (base.empty()) {
        Fail("the name ends with '/'");
    }
    struct stat st {};
    if (::stat(m_path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        Fail("it is a directory");
    }
    const std::string prefix = (dir == "/" ? std::string("/") : dir + "/") + "." + base + ".tmp-" +
                               std::to_string(static_cast<long>(::getpid())) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = prefix + std::to_string(g_tempCounter.fetch_add(1));
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            m_temp = std::move(candidate);
            return;
        }
        if (errno != EEXIST) {
            Fail(ErrnoText(errno));
        }
    }
    Fail("no free temporary file name in its directory");
}

SafeOutput::~SafeOutput()
{
    if (m_stream) {
        std::fclose(m_stream);
        m_stream = nullptr;
    }
    if (!m_committed && !m_temp.empty()) {
        ::unlink(m_temp.c_str());
    }
}

std::FILE* SafeOutput::Stream()
{
    if (!m_stream) {
        m_stream = std::fopen(m_temp.c_str(), "wb");
        if (!m_stream) {
            Fail(ErrnoText(errno));
        }
    }
    return m_stream;
}

void SafeOutput::HandOver()
{
    if (m_stream) {
        std::fclose(m_stream);
        m_stream = nullptr;
    }
    ::unlink(m_temp.c_str());
}

void SafeOutput::Commit()
{
    if (m_stream) {
        const bool bad = std::ferror(m_stream) != 0;
        const int closed = std::fclose(m_stream);
        const int code = errno;
        m_stream = nullptr;
        if (bad || closed != 0) {
            Fail(bad ? std::string("write error") : ErrnoText(code));
        }
    }
    if (::rename(m_temp.c_str(), m_path.c_str()) != 0) {
        Fail(ErrnoText(errno));
    }
    m_committed = true;
}

void SafeOutput::Fail(const std::string& reason)
{
    if (m_stream) {
        std::fclose(m_stream);
        m_stream = nullptr;
    }
    if (!m_temp.empty()) {
        ::unlink(m_temp.c_str());
        m_temp.clear();
    }
    throw ToolError("cannot write '" + m_path + "': " + reason);
}

void WriteFileSafely(const std::string& path, const std::function<void(std::FILE*)>& write)
{
    SafeOutput output(path);
    write(output.Stream());
    output.Commit();
}

}  // namespace orbimg::tool
