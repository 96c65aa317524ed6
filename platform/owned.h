#pragma once

#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <utility>

namespace corvale::platform {

// A C library's object, freed by its own function when it goes out of scope:
// Owned<nl_sock, nl_socket_free>.
template <auto Free> struct FreeWith {
    template <typename T> void operator()(T* object) const { Free(object); }
};
template <typename T, auto Free> using Owned = std::unique_ptr<T, FreeWith<Free>>;

// A file descriptor, closed when it goes out of scope. Moving it hands the
// descriptor on; release() gives it up without closing it.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { reset(); }

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

// Both ends of a pipe.
struct Pipe {
    FileDescriptor read;
    FileDescriptor write;
};
// A pipe whose ends are closed on exec; both ends empty when none can be had.
inline Pipe openPipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return {};
    }
    return {FileDescriptor(ends[0]), FileDescriptor(ends[1])};
}

} // namespace corvale::platform
