// Files: reading one whole, and writing one that replaces another only once
// it is complete and on disk. Every descriptor is closed on every path, and
// a failed system call throws IoError with its errno and the path the
// caller named.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace parvenkel::util {

// A failed system call on `path`, with its errno.
class IoError : public std::runtime_error {
   public:
    IoError(int error, std::string path, const std::string& what)
        : std::runtime_error(what), error_(error), path_(std::move(path)) {}
    int error() const noexcept { return error_; }
    const std::string& path() const noexcept { return path_; }

   private:
    int error_;
    std::string path_;
};

// Throws IoError for `path` with the current errno.
[[noreturn]] void throw_errno(const std::string& path, const std::string& what);

namespace testing {

// The system calls made through this file's functions.
enum class Call { open, fstat, read, write, seek, pwrite, fsync, link, close, rename };

// Makes the call `call` fail with `error` once, after `skip` successful
// calls of it; fail_call(call, 0) clears it. For tests only: one at a time.
void fail_call(Call call, int error, unsigned skip = 0) noexcept;

}  // namespace testing

// A file opened for reading.
class ReadFile {
   public:
    explicit ReadFile(const std::string& path);
    ~ReadFile();
    ReadFile(const ReadFile&) = delete;
    ReadFile& operator=(const ReadFile&) = delete;

    struct Status {
        std::uint64_t size;
        bool regular;  // a regular file, not a folder or a device
    };
    Status status() const;
    // Reads up to `bytes` from the start into `out`; fewer only at the end
    // of the file.
    std::size_t read(void* out, std::size_t bytes) const;

   private:
    int fd_;
    std::string path_;
};

// A file written in place of `target`: an unnamed file in the same folder
// (O_TMPFILE) that is linked under a temporary name and renamed over
// `target` only by commit, once complete and flushed. Until then `target`
// is as it was; a writer destroyed without commit, or a process killed
// while writing, leaves no file behind. (Where the file system has no
// unnamed files, a named one is created and removed again on failure.)
// The temporary names are `target`.tmp-HOST-PID-N; naming one first
// removes those of this host's processes that no longer run, so that the
// files of processes killed while a file had a name do not pile up.
class AtomicWriter {
   public:
    explicit AtomicWriter(std::string target);
    ~AtomicWriter();
    AtomicWriter(const AtomicWriter&) = delete;
    AtomicWriter& operator=(const AtomicWriter&) = delete;

    void write(const void* data, std::size_t bytes);
    void seek(std::uint64_t offset);
    void pwrite(const void* data, std::size_t bytes, std::uint64_t offset);
    // Flushes the file, puts it in place of the target and flushes the
    // folder.
    void commit();

   private:
    void name_temporary();
    [[noreturn]] void fail(const char* what);

    std::string target_;
    std::string temporary_;  // the file's name while it has one
    int fd_ = -1;
};

}  // namespace parvenkel::util
