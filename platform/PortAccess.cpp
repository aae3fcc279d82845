// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/PortAccess.h"

#include "platform/SerialRegistry.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <limits>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace platform::ports {
namespace {

std::mutex g_rootsMutex;
std::optional<Roots> g_roots;

thread_local PortAccess t_lastRefusal;

// The device's real path, so that a /dev/serial/by-id link and its target are one device.
std::string realDevicePath(const std::string& devicePath)
{
    std::error_code ec;
    const fs::path p = fs::weakly_canonical(devicePath, ec);
    return ec ? devicePath : p.string();
}

// The state letter of a process in /proc/PID/stat ('R', 'S', 'Z', ...), or 0 when unknown.
// The program name before it is in parentheses and may itself hold ") ".
char processState(long pid)
{
    std::ifstream in(CurrentRoots().procDir / std::to_string(pid) / "stat");
    std::string stat;
    std::getline(in, stat);
    const std::size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : 0;
}

std::string programOf(long pid)
{
    return ReadFirstLine(CurrentRoots().procDir / std::to_string(pid) / "comm");
}

PortAccess freeAccess(const std::string& devicePath)
{
    PortAccess a;
    a.device = devicePath;
    return a;
}

PortAccess held(const std::string& devicePath, long pid)
{
    PortAccess a;
    a.state = Access::Held;
    a.device = devicePath;
    a.pid = pid;
    if (pid > 0)
        a.program = programOf(pid);
    return a;
}

// The PID in a lock file: ten ASCII digits (with leading blanks) and a newline, or the
// four binary bytes some old programs write. 0 when unreadable.
long lockOwner(int fd)
{
    char buffer[32] = {};
    const ssize_t n = ::pread(fd, buffer, sizeof buffer - 1, 0);
    // A binary PID's low byte may well be a digit; its high bytes are not.
    const bool text = n > 0 && std::strspn(buffer, " 0123456789\n") == static_cast<std::size_t>(n);
    if (n == 4 && !text) {
        int pid = 0;
        std::memcpy(&pid, buffer, 4);
        return pid;
    }
    return n > 0 ? std::strtol(buffer, nullptr, 10) : 0;
}

long lockOwner(const fs::path& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return 0;
    const long pid = lockOwner(fd);
    ::close(fd);
    return pid;
}

// Lock files this process holds; those no closed port has removed go at exit.
std::mutex g_locksMutex;
// Never destroyed: a port closed during static destruction still finds it.
std::set<fs::path>& ownLocks()
{
    static auto& locks = *new std::set<fs::path>;
    return locks;
}

// Removes a lock file of this process's, unless another program has replaced it meanwhile
// (one that took ours for stale, from a PID namespace of its own, say).
void removeLockFile(const fs::path& file)
{
    if (lockOwner(file) == ::getpid())
        ::unlink(file.c_str());
}

void removeOwnLocks()
{
    std::lock_guard lock(g_locksMutex);
    for (const auto& f : ownLocks())
        removeLockFile(f);
    ownLocks().clear();
}

bool ownLock(const fs::path& file)
{
    std::lock_guard lock(g_locksMutex);
    return ownLocks().count(file) != 0;
}

void addOwnLock(const fs::path& file)
{
    static std::once_flag atExit;
    std::call_once(atExit, [] { std::atexit(removeOwnLocks); });
    std::lock_guard lock(g_locksMutex);
    ownLocks().insert(file);
}

// Who holds the lock file now; Free when nobody (no file, or a stale one).
PortAccess lockHolder(const std::string& devicePath, const fs::path& file)
{
    const long pid = lockOwner(file);
    if (pid == ::getpid() ? ownLock(file) : ProcessAlive(pid))
        return held(devicePath, pid);
    return freeAccess(devicePath);
}

// An empty or unreadable lock may be one another program is still writing; only an old
// one is taken as stale.
bool oldLock(const struct stat& st)
{
    return st.st_mtime + 10 < ::time(nullptr);
}

bool staleLock(int fd, const fs::path& file)
{
    if (const long pid = lockOwner(fd); pid > 0)
        return pid == ::getpid() ? !ownLock(file) : !ProcessAlive(pid);
    struct stat st {};
    return ::fstat(fd, &st) == 0 && oldLock(st);
}

// Waits for an exclusive flock for a while, not for ever: a program that keeps one on a
// lock file must not hang an open.
bool flockWithin(int fd, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

enum class Takeover {
    Taken,        // ours now
    Live,         // the lock is not stale (any more): refused
    Changed,      // the name leads to another file now, or to none: try again
    Unremovable,  // stale, but this user may not replace it: the device stays unlocked
};

// Replaces a stale lock at file with ours, written whole at temp. Several programs may find
// the same stale lock at once, and one that unlinks it and links its own may remove the
// fresh lock another has just put there. So the taker flocks the stale file itself, checks
// again under that flock that the name still leads to this very file and that the file is
// still stale, and only then renames its own over it. The rename replaces exactly the file
// checked; a second taker, which waited on the same flock, finds the name leading to the
// winner's file, starts over and finds the winner alive. Programs that only read lock files
// see a lock at the name at every moment.
Takeover takeOver(const fs::path& temp, const fs::path& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        // Unreadable: judged by its age alone, and not to be taken without reading it.
        struct stat st {};
        if (errno == ENOENT || ::lstat(file.c_str(), &st) != 0)
            return Takeover::Changed;
        return oldLock(st) ? Takeover::Unremovable : Takeover::Live;
    }
    Takeover result = Takeover::Live;  // also when the flock does not come
    struct stat opened {}, named {};
    if (flockWithin(fd, std::chrono::seconds(1))) {
        if (::fstat(fd, &opened) != 0 || ::lstat(file.c_str(), &named) != 0 ||
            opened.st_dev != named.st_dev || opened.st_ino != named.st_ino)
            result = Takeover::Changed;
        else if (staleLock(fd, file))
            // Another user's stale lock in a shared (sticky) directory stays.
            result = ::rename(temp.c_str(), file.c_str()) == 0 ? Takeover::Taken : Takeover::Unremovable;
    }
    ::close(fd);  // and with it the flock
    return result;
}

std::string groupName(gid_t gid)
{
    std::vector<char> buffer(4096);
    group g{};
    group* found = nullptr;
    if (::getgrgid_r(gid, &g, buffer.data(), buffer.size(), &found) == 0 && found)
        return found->gr_name;
    return std::to_string(gid);
}

// The index of a pseudo-terminal slave (/dev/pts/N), or -1.
long ptyIndex(const std::string& realPath)
{
    static const std::string prefix = "/dev/pts/";
    if (realPath.compare(0, prefix.size(), prefix) != 0)
        return -1;
    char* end = nullptr;
    const long n = std::strtol(realPath.c_str() + prefix.size(), &end, 10);
    return (end && *end == '\0') ? n : -1;
}

// True when the descriptor is the master of pseudo-terminal index.
bool isMasterOf(const fs::path& fdinfo, long index)
{
    std::ifstream in(fdinfo);
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, 10, "tty-index:") == 0)
            return std::strtol(line.c_str() + 10, nullptr, 10) == index;
    return false;
}

}  // namespace

void SetRoots(const Roots& roots)
{
    std::lock_guard lock(g_rootsMutex);
    g_roots = roots;
}

Roots CurrentRoots()
{
    std::lock_guard lock(g_rootsMutex);
    return g_roots ? *g_roots : Roots{};
}

fs::path LockDirectory()
{
    const Roots roots = CurrentRoots();
    if (!roots.lockDir.empty())
        return roots.lockDir;
    if (const char* dir = std::getenv("ZUB3_LOCK_DIR"); dir && *dir)
        return dir;
    std::error_code ec;
    return fs::is_directory("/run/lock", ec) ? fs::path("/run/lock") : fs::path("/var/lock");
}

std::string LockFileName(const std::string& devicePath)
{
    std::string name = realDevicePath(devicePath);
    if (name.compare(0, 5, "/dev/") == 0)
        name.erase(0, 5);
    else
        name = fs::path(name).filename().string();
    for (char& c : name)
        if (c == '/')
            c = '_';
    return "LCK.." + name;
}

// --- description ---

namespace {

// The length of the well-formed UTF-8 sequence at the start of s, 0 when its first byte
// starts none (a stray continuation byte, an overlong form, a surrogate, beyond U+10FFFF, or
// cut short).
std::size_t utf8Length(std::string_view s)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return 1;
    std::size_t n = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (s.size() < n || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < n; ++i)
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
    return n;
}

}  // namespace

std::string DisplaySafe(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const std::size_t n = utf8Length(text);
        const unsigned char first = static_cast<unsigned char>(text[0]);
        // C1 controls are U+0080 to U+009F: 0xC2 followed by 0x80 to 0x9F.
        const bool control = n == 1 ? first < 0x20 || first == 0x7F
                                    : n == 2 && first == 0xC2 && static_cast<unsigned char>(text[1]) <= 0x9F;
        if (n == 0 || control)
            out += '?';
        else
            out.append(text.substr(0, n));
        text.remove_prefix(n == 0 ? 1 : n);
    }
    return out;
}

std::string ReadFirstLine(const fs::path& file)
{
    std::ifstream in(file);
    std::string s;
    std::getline(in, s);
    while (!s.empty() && (s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    return DisplaySafe(s);
}

bool ProcessAlive(long pid)
{
    if (pid <= 0 || pid > std::numeric_limits<pid_t>::max() ||
        (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM))
        return false;
    const char state = processState(pid);
    return state != 'Z' && state != 'X';
}

PortDescription DescribePort(const std::string& devicePath)
{
    PortDescription d;
    d.device = devicePath;
    if (registry::IsNetworkAddress(devicePath))
        return d;
    const registry::Location loc = registry::CurrentLocation();
    const std::string name = fs::path(realDevicePath(devicePath)).filename().string();
    std::error_code ec;
    // The tty's device is the USB interface; the adapter's strings are on a parent of it.
    fs::path dir = fs::canonical(loc.sysTtyDir / name / "device", ec);
    for (int up = 0; !ec && up < 6 && !dir.empty() && dir != dir.root_path(); ++up, dir = dir.parent_path()) {
        if (fs::exists(dir / "idVendor", ec)) {
            d.product = ReadFirstLine(dir / "product");
            d.manufacturer = ReadFirstLine(dir / "manufacturer");
            d.serial = ReadFirstLine(dir / "serial");
            break;
        }
    }
    const fs::path target = fs::weakly_canonical(loc.devDir / name, ec);
    for (fs::directory_iterator it(loc.devDir / "serial" / "by-id", ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code linkError;
        if (fs::weakly_canonical(it->path(), linkError) == target && !linkError) {
            d.byId = it->path().string();
            break;
        }
    }
    return d;
}

std::string DescriptionText(const PortDescription& d)
{
    std::string text = d.device;
    std::string sep = ": ";
    for (const std::string& part :
         {d.product, d.manufacturer, d.serial.empty() ? std::string() : "serial " + d.serial}) {
        if (part.empty())
            continue;
        text += sep + part;
        sep = ", ";
    }
    if (!d.byId.empty())
        text += "\n" + d.byId;
    return text;
}

// --- availability ---

PortAccess AccessFromError(const std::string& devicePath, int error)
{
    PortAccess a;
    a.device = devicePath;
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case ENOTDIR:
        a.state = Access::Gone;
        break;
    case EACCES:
    case EPERM: {
        a.state = Access::Denied;
        // Joining the group helps only where the group may read and write, and root's
        // group is no group to join.
        struct stat st {};
        if (::stat(devicePath.c_str(), &st) == 0 && st.st_gid != 0 &&
            (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP))
            a.group = groupName(st.st_gid);
        break;
    }
    case EBUSY:
        // Someone holds it exclusively; who cannot be seen from here.
        a.state = Access::Held;
        break;
    default:
        break;
    }
    return a;
}

PortAccess FindHolder(const std::string& devicePath)
{
    const std::string target = realDevicePath(devicePath);
    const long index = ptyIndex(target);
    const fs::path proc = CurrentRoots().procDir;
    std::error_code ec;
    for (fs::directory_iterator it(proc, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string pidText = it->path().filename().string();
        if (pidText.empty() || pidText.find_first_not_of("0123456789") != std::string::npos)
            continue;
        bool holds = false;
        bool otherEnd = false;
        std::error_code fdError;  // processes of other users, or gone meanwhile: not visible
        for (fs::directory_iterator fd(it->path() / "fd", fdError), fdEnd;
             !fdError && fd != fdEnd && !otherEnd; fd.increment(fdError)) {
            std::error_code linkError;
            const std::string link = fs::read_symlink(fd->path(), linkError).string();
            if (linkError)
                continue;
            if (link == target)
                holds = true;
            else if (index >= 0 && (link == "/dev/ptmx" || link == "/dev/pts/ptmx"))
                otherEnd = isMasterOf(it->path() / "fdinfo" / fd->path().filename(), index);
        }
        if (holds && !otherEnd)
            return held(devicePath, std::strtol(pidText.c_str(), nullptr, 10));
    }
    return freeAccess(devicePath);
}

PortAccess CheckAccess(const std::string& devicePath)
{
    if (registry::IsNetworkAddress(devicePath))
        return freeAccess(devicePath);
    struct stat st {};
    if (::stat(devicePath.c_str(), &st) != 0)
        return AccessFromError(devicePath, errno);
    if (::access(devicePath.c_str(), R_OK | W_OK) != 0)
        return AccessFromError(devicePath, errno);
    if (PortAccess a = lockHolder(devicePath, LockDirectory() / LockFileName(devicePath));
        a.state != Access::Free)
        return a;
    return FindHolder(devicePath);
}

PortAccess LastOpenRefusal()
{
    return t_lastRefusal;
}

void SetLastOpenRefusal(const PortAccess& access)
{
    t_lastRefusal = access;
}

// --- locking ---

DeviceLock::DeviceLock(const std::string& devicePath)
{
    const fs::path dir = LockDirectory();
    const fs::path file = dir / LockFileName(devicePath);
    // Written whole under a temporary name and linked into place, so that no reader ever
    // sees a lock without its PID.
    static std::atomic<unsigned> serial{0};
    const fs::path temp = dir / ("LTMP." + std::to_string(::getpid()) + "." + std::to_string(serial++));
    char text[16];
    std::snprintf(text, sizeof text, "%10ld\n", static_cast<long>(::getpid()));
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    const bool written = fd >= 0 && ::write(fd, text, 11) == 11;
    if (fd >= 0)
        ::close(fd);
    if (!written) {
        ::unlink(temp.c_str());
        // No lock can be taken here; a lock another program took still counts.
        holder_ = lockHolder(devicePath, file);
        held_ = holder_.state == Access::Free;
        return;
    }
    // Unlocked, not refused, when the directory takes no lock or a stale one cannot be replaced.
    bool unlocked = false;
    // A few rounds: each is started again only because another program changed the lock.
    for (int attempt = 0; attempt < 4 && !held_ && !unlocked; ++attempt) {
        if (::link(temp.c_str(), file.c_str()) == 0) {
            held_ = true;
        } else if (errno != EEXIST) {
            unlocked = true;
        } else {
            const Takeover t = takeOver(temp, file);
            held_ = t == Takeover::Taken;
            unlocked = t == Takeover::Unremovable;
            if (t == Takeover::Live)
                break;
        }
    }
    ::unlink(temp.c_str());
    if (held_) {
        file_ = file;
        addOwnLock(file);
    }
    if (held_ || unlocked) {
        held_ = true;
        holder_ = freeAccess(devicePath);
        return;
    }
    const long pid = lockOwner(file);
    holder_ = held(devicePath, ProcessAlive(pid) ? pid : 0);
}

DeviceLock::~DeviceLock()
{
    if (file_.empty())
        return;
    removeLockFile(file_);
    std::lock_guard lock(g_locksMutex);
    ownLocks().erase(file_);
}

}  // namespace platform::ports
