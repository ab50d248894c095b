#include "StopAtStep.h"

#include <atomic>
#include <cstdarg>
#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using stopatstep::kStoppedExit;

// Steps are taken on more than one thread.
std::atomic_bool g_armed{false};
int g_stopAt = 0;
bool g_halfway = false;
std::mutex g_counting;
int g_steps = 0;
std::string g_taken;

template <typename Function> Function Real(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// Counts one step; true when the process is to stop at it. Then no other thread takes a step
// until the process ends, as if it had been killed there.
bool StopsAt(const char* kind) {
    if (!g_armed)
        return false;
    std::unique_lock lock(g_counting);
    ++g_steps;
    g_taken += (g_taken.empty() ? "" : " ") + std::string(kind);
    if (g_steps != g_stopAt)
        return false;
    lock.release();
    return true;
}

bool IsRegularFile(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

bool Writes(int flags) {
    return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0;
}

mode_t ModeArgument(int flags, va_list args) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? mode_t(va_arg(args, int)) : 0;
}

// A write stops before the call, or once half of its bytes are in the file.
template <typename WriteSome> void StopWriting(int fd, size_t size, WriteSome writeSome) {
    if (IsRegularFile(fd) && StopsAt("write")) {
        if (g_halfway)
            writeSome(size / 2);
        _exit(kStoppedExit);
    }
}

void StopOpening(int flags) {
    if (Writes(flags) && StopsAt("open"))
        _exit(kStoppedExit);
}

// Every other step stops before the call.
template <typename Function, typename... Args> int Step(const char* kind, const char* name, Args... args) {
    if (StopsAt(kind))
        _exit(kStoppedExit);
    return Real<Function>(name)(args...);
}

using Open = int (*)(const char*, int, ...);

} // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArgument(flags, args);
    va_end(args);
    StopOpening(flags);
    return Real<Open>("open")(path, flags, mode);
}
// The same call under its large-file name, which Qt's file engine uses.
int open64(const char* path, int flags, ...) __attribute__((alias("open")));
ssize_t write(int fd, const void* data, size_t size) {
    static const auto real = Real<decltype(&write)>("write");
    StopWriting(fd, size, [&](size_t half) { real(fd, data, half); });
    return real(fd, data, size);
}
ssize_t pwrite(int fd, const void* data, size_t size, off_t at) {
    static const auto real = Real<decltype(&pwrite)>("pwrite");
    StopWriting(fd, size, [&](size_t half) { real(fd, data, half, at); });
    return real(fd, data, size, at);
}
ssize_t pwrite64(int fd, const void* data, size_t size, off64_t at) {
    static const auto real = Real<decltype(&pwrite64)>("pwrite64");
    StopWriting(fd, size, [&](size_t half) { real(fd, data, half, at); });
    return real(fd, data, size, at);
}
int fsync(int fd) {
    return Step<decltype(&fsync)>("sync", "fsync", fd);
}
int fdatasync(int fd) {
    return Step<decltype(&fdatasync)>("sync", "fdatasync", fd);
}
int ftruncate(int fd, off_t length) noexcept {
    return Step<decltype(&ftruncate)>("truncate", "ftruncate", fd, length);
}
int link(const char* from, const char* to) noexcept {
    return Step<decltype(&link)>("link", "link", from, to);
}
int linkat(int fromDir, const char* from, int toDir, const char* to, int flags) noexcept {
    return Step<decltype(&linkat)>("link", "linkat", fromDir, from, toDir, to, flags);
}
int rename(const char* from, const char* to) noexcept {
    return Step<decltype(&rename)>("rename", "rename", from, to);
}
int renameat(int fromDir, const char* from, int toDir, const char* to) noexcept {
    return Step<decltype(&renameat)>("rename", "renameat", fromDir, from, toDir, to);
}
int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) noexcept {
    return Step<decltype(&renameat2)>("rename", "renameat2", fromDir, from, toDir, to, flags);
}
int unlink(const char* path) noexcept {
    return Step<decltype(&unlink)>("unlink", "unlink", path);
}
int unlinkat(int dir, const char* path, int flags) noexcept {
    return Step<decltype(&unlinkat)>("unlink", "unlinkat", dir, path, flags);
}

} // extern "C"

namespace stopatstep {

void Arm(int stopAt, bool halfway) {
    const std::lock_guard lock(g_counting);
    g_stopAt = stopAt;
    g_halfway = halfway;
    g_steps = 0;
    g_taken.clear();
    g_armed = true;
}

void Disarm() {
    g_armed = false;
}

std::string Taken() {
    const std::lock_guard lock(g_counting);
    return g_taken;
}

} // namespace stopatstep
