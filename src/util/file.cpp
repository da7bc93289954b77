#include "util/file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace parvenkel::util {

void throw_errno(const std::string& path, const std::string& what) {
    const int error = errno;
    throw IoError(error, path, what + " '" + path + "': " + std::strerror(error));
}

namespace testing {
namespace {

std::atomic<int> failing_call{-1};
std::atomic<int> failing_error{0};
std::atomic<unsigned> failing_skip{0};

}  // namespace

void fail_call(Call call, int error, unsigned skip) noexcept {
    failing_call.store(-1);
    failing_error.store(error);
    failing_skip.store(skip);
    if (error != 0) {
        failing_call.store(static_cast<int>(call));
    }
}

}  // namespace testing

namespace {

using testing::Call;

// True, with errno set, when the test seam makes this call fail.
bool injected(Call call) noexcept {
    if (testing::failing_call.load(std::memory_order_relaxed) != static_cast<int>(call)) {
        return false;
    }
    if (testing::failing_skip.load() > 0) {
        testing::failing_skip.fetch_sub(1);
        return false;
    }
    testing::failing_call.store(-1);
    errno = testing::failing_error.load();
    return true;
}

// Closes `fd` keeping errno, for paths that already failed.
void close_quietly(int fd) noexcept {
    const int error = errno;
    ::close(fd);
    errno = error;
}

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_name(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The start of the names of this host's temporary files for `target`.
std::string temporary_prefix(const std::string& target) {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) {
        host[0] = '\0';
    }
    return target + ".tmp-" + host + "-";
}

// Removes the temporary files for `target` left by processes of this host
// that no longer run (killed between naming their file and renaming it, or
// while writing one where files cannot be unnamed). Those of other hosts,
// which may share the folder, are left alone.
void remove_stale_temporaries(const std::string& target) {
    const std::string folder = folder_of(target);
    const std::string prefix = base_name(temporary_prefix(target));
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return;
    }
    const int error = errno;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (!name.starts_with(prefix)) {
            continue;
        }
        // <pid>-<count>
        const std::string_view rest = name.substr(prefix.size());
        const std::size_t dash = rest.find('-');
        if (dash == 0 || dash == std::string_view::npos || dash > 9 ||
            rest.substr(0, dash).find_first_not_of("0123456789") != std::string_view::npos ||
            rest.substr(dash + 1).find_first_not_of("0123456789") != std::string_view::npos) {
            continue;
        }
        const auto pid = static_cast<pid_t>(std::stol(std::string(rest.substr(0, dash))));
        if (::kill(pid, 0) != 0 && errno == ESRCH) {
            ::unlink((folder + "/" + std::string(name)).c_str());
        }
    }
    ::closedir(dir);
    errno = error;
}

}  // namespace

// ---------------------------------------------------------------------------

ReadFile::ReadFile(const std::string& path) : path_(path) {
    // Without blocking: opening a named pipe would wait for a writer, for
    // ever if none comes, before status() could tell it is no file. A
    // regular file reads the same either way.
    fd_ = injected(Call::open) ? -1 : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        throw_errno(path_, "cannot open");
    }
}

ReadFile::~ReadFile() { close_quietly(fd_); }

ReadFile::Status ReadFile::status() const {
    struct stat st {};
    if (injected(Call::fstat) || ::fstat(fd_, &st) != 0) {
        throw_errno(path_, "cannot open");
    }
    return {static_cast<std::uint64_t>(st.st_size), S_ISREG(st.st_mode)};
}

std::size_t ReadFile::read(void* out, std::size_t bytes) const {
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t n = injected(Call::read) ? -1
                                               : ::pread(fd_, static_cast<char*>(out) + done,
                                                         bytes - done, static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw_errno(path_, "cannot read");
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

// ---------------------------------------------------------------------------

AtomicWriter::AtomicWriter(std::string target) : target_(std::move(target)) {
    const std::string folder = folder_of(target_);
    fd_ =
        injected(Call::open) ? -1 : ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd_ < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // No unnamed files here: a named one, of this process.
        name_temporary();
        return;
    }
    if (fd_ < 0) {
        throw_errno(target_, "cannot create");
    }
}

AtomicWriter::~AtomicWriter() {
    if (fd_ >= 0) {
        close_quietly(fd_);
    }
    if (!temporary_.empty()) {
        const int error = errno;
        ::unlink(temporary_.c_str());
        errno = error;
    }
}

void AtomicWriter::fail(const char* what) { throw_errno(target_, what); }

// Gives the file a name of its own beside the target: linked there if it
// is unnamed, else created there. Two saves to one path at once each have
// their own.
void AtomicWriter::name_temporary() {
    static std::atomic<std::uint64_t> saves{0};
    remove_stale_temporaries(target_);
    const std::string prefix = temporary_prefix(target_) + std::to_string(::getpid()) + "-";
    for (;;) {
        std::string name = prefix + std::to_string(saves.fetch_add(1));
        int made = 0;
        if (fd_ >= 0) {
            const std::string self = "/proc/self/fd/" + std::to_string(fd_);
            made = injected(Call::link) ? -1
                                        : ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(),
                                                   AT_SYMLINK_FOLLOW);
        } else {
            fd_ = injected(Call::open)
                      ? -1
                      : ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            made = fd_ < 0 ? -1 : 0;
        }
        if (made == 0) {
            temporary_ = std::move(name);
            return;
        }
        if (errno != EEXIST) {
            fail(fd_ >= 0 ? "cannot link" : "cannot create");
        }
    }
}

void AtomicWriter::write(const void* data, std::size_t bytes) {
    const auto* p = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t n = injected(Call::write) ? -1 : ::write(fd_, p, bytes);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("cannot write");
        }
        p += n;
        bytes -= static_cast<std::size_t>(n);
    }
}

void AtomicWriter::seek(std::uint64_t offset) {
    if (injected(Call::seek) || ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
        fail("cannot write");
    }
}

void AtomicWriter::pwrite(const void* data, std::size_t bytes, std::uint64_t offset) {
    const auto* p = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t n =
            injected(Call::pwrite) ? -1 : ::pwrite(fd_, p, bytes, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("cannot write");
        }
        p += n;
        offset += static_cast<std::uint64_t>(n);
        bytes -= static_cast<std::size_t>(n);
    }
}

void AtomicWriter::commit() {
    if (injected(Call::fsync) || ::fsync(fd_) != 0) {
        fail("cannot write");
    }
    if (temporary_.empty()) {
        name_temporary();
    }
    const int fd = fd_;
    fd_ = -1;
    // Linux closes the descriptor whatever close reports; an interrupted
    // close lost nothing that fsync had not written.
    const bool closed = ::close(fd) == 0;
    if ((injected(Call::close) || !closed) && errno != EINTR) {
        fail("cannot write");
    }
    if (injected(Call::rename) || ::rename(temporary_.c_str(), target_.c_str()) != 0) {
        fail("cannot replace");
    }
    temporary_.clear();
    // The rename itself is made durable by flushing the folder.
    const int folder = ::open(folder_of(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

}  // namespace parvenkel::util
