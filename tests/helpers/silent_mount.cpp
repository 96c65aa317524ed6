// silent_mount FOLDER: mounts a file system on FOLDER that answers the
// kernel's greeting and the questions about FOLDER itself, and never any
// other: a look-up of anything inside waits, as on an sshfs or NFS mount
// whose server has gone. Prints "mounted" once the mount is there. Ending it
// (SIGTERM) closes the connection, which fails every waiting look-up;
// the mount is then detached.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/fuse.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

volatile std::sig_atomic_t ending = 0;
void onEnd(int) {
    ending = 1;
}

void reply(int device, const fuse_in_header& request, const void* body, std::size_t size) {
    fuse_out_header header{};
    header.len = static_cast<std::uint32_t>(sizeof header + size);
    header.unique = request.unique;
    std::vector<char> message(sizeof header + size);
    std::memcpy(message.data(), &header, sizeof header);
    if (size > 0) {
        std::memcpy(message.data() + sizeof header, body, size);
    }
    if (::write(device, message.data(), message.size()) < 0) {
        std::perror("silent_mount: reply");
    }
}

void answerRoot(int device, const fuse_in_header& request) {
    fuse_attr_out out{};
    out.attr.ino = FUSE_ROOT_ID;
    out.attr.mode = S_IFDIR | 0755;
    out.attr.nlink = 2;
    reply(device, request, &out, sizeof out);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: silent_mount FOLDER\n");
        return 2;
    }
    struct sigaction end {};
    end.sa_handler = onEnd; // no SA_RESTART: the read below is interrupted
    ::sigaction(SIGTERM, &end, nullptr);
    ::sigaction(SIGINT, &end, nullptr);
    const int device = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (device < 0) {
        std::perror("silent_mount: /dev/fuse");
        return 77;
    }
    const std::string options = "fd=" + std::to_string(device) +
                                ",rootmode=40000,user_id=" + std::to_string(::getuid()) +
                                ",group_id=" + std::to_string(::getgid()) + ",allow_other";
    if (::mount("silent", argv[1], "fuse.silent", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        std::perror("silent_mount: mount");
        return 77;
    }
    std::vector<char> buffer(FUSE_MIN_READ_BUFFER + 65536);
    bool announced = false;
    while (!ending) {
        const ssize_t got = ::read(device, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR || errno == ENOENT) {
                continue;
            }
            break; // the mount was taken away
        }
        fuse_in_header request{};
        std::memcpy(&request, buffer.data(), sizeof request);
        if (request.opcode == FUSE_INIT) {
            fuse_init_out out{};
            out.major = FUSE_KERNEL_VERSION;
            out.minor = FUSE_KERNEL_MINOR_VERSION;
            out.max_readahead = 65536;
            out.max_write = 65536;
            reply(device, request, &out, sizeof out);
            if (!announced) {
                std::printf("mounted\n");
                std::fflush(stdout);
                announced = true;
            }
        } else if (request.opcode == FUSE_GETATTR && request.nodeid == FUSE_ROOT_ID) {
            answerRoot(device, request);
        } else if (request.opcode == FUSE_ACCESS && request.nodeid == FUSE_ROOT_ID) {
            reply(device, request, nullptr, 0); // a shell may make it its folder
        }
        // Everything else is left unanswered.
    }
    // Closing the device aborts the connection: every look-up still waiting
    // fails at once.
    ::close(device);
    ::umount2(argv[1], MNT_DETACH);
    return 0;
}
