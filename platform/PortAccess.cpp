#include "platform/PortAccess.h"

#include "platform/SerialRegistry.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <limits>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace platform::ports {
namespace {

std::mutex g_rootsMutex;
std::optional<Roots> g_roots;

thread_local PortAccess t_lastRefusal;

// A sysfs string or a program's name, both chosen by others (a USB device, any process):
// control characters, a terminal's escape sequences among them, become '?'.
std::string readFirstLine(const fs::path& p)
{
    std::ifstream in(p);
    std::string s;
    std::getline(in, s);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return s;
}

// The device's real path, so that a /dev/serial/by-id link and its target are one device.
std::string realDevicePath(const std::string& devicePath)
{
    std::error_code ec;
    const fs::path p = fs::weakly_canonical(devicePath, ec);
    return ec ? devicePath : p.string();
}

// A PID beyond pid_t (a lock file holds up to ten digits) is no process; cut to pid_t it
// could name a live one, or a process group.
bool processAlive(long pid)
{
    return pid > 0 && pid <= std::numeric_limits<pid_t>::max() &&
           (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

std::string programOf(long pid)
{
    return readFirstLine(CurrentRoots().procDir / std::to_string(pid) / "comm");
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
long lockOwner(const fs::path& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return 0;
    char buffer[32] = {};
    const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    // A binary PID's low byte may well be a digit; its high bytes are not.
    const bool text = n > 0 && std::strspn(buffer, " 0123456789\n") == static_cast<std::size_t>(n);
    if (n == 4 && !text) {
        int pid = 0;
        std::memcpy(&pid, buffer, 4);
        return pid;
    }
    return n > 0 ? std::strtol(buffer, nullptr, 10) : 0;
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
    if (pid == ::getpid() ? ownLock(file) : processAlive(pid))
        return held(devicePath, pid);
    return freeAccess(devicePath);
}

// An empty or unreadable lock may be one another program is still writing; only an old
// one is taken as stale.
bool staleLock(const fs::path& file)
{
    if (const long pid = lockOwner(file); pid > 0)
        return pid == ::getpid() ? !ownLock(file) : !processAlive(pid);
    struct stat st {};
    return ::lstat(file.c_str(), &st) == 0 && st.st_mtime + 10 < ::time(nullptr);
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
            d.product = readFirstLine(dir / "product");
            d.manufacturer = readFirstLine(dir / "manufacturer");
            d.serial = readFirstLine(dir / "serial");
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

std::string Explain(const PortAccess& a, Language language)
{
    const bool en = language == Language::English;
    const std::string& dev = a.device;
    switch (a.state) {
    case Access::Free:
        return {};
    case Access::Denied:
        if (a.group.empty())
            return en ? "No permission to use " + dev + ": ask the administrator for access to it."
                      : dev + " を使う権限がありません。管理者に使用の許可を求めてください";
        return en ? "No permission to use " + dev + ": add the user to the group " + a.group +
                        " and log in again."
                  : dev + " を使う権限がありません。ユーザーを " + a.group +
                        " グループに追加して、ログインし直してください";
    case Access::Held: {
        std::string who;
        if (a.pid > 0)
            who = (a.program.empty() ? std::string(en ? "process" : "プロセス") : a.program) +
                  " (PID " + std::to_string(a.pid) + ")";
        if (!dev.empty() && dev.front() != '/')  // a network port: HOST:PORT
            return en ? dev + " is in use by another client of its server: close that one and open the port again."
                      : dev + " は、サーバーの別のクライアントが使用中です。そのクライアントを終了してから、もう一度オープンしてください";
        if (en)
            return dev + " is in use by " + (who.empty() ? "another program" : who) +
                   ": close it and open the port again.";
        return dev + " は" + (who.empty() ? "別のプログラム" : " " + who + " ") +
               "が使用中です。そのプログラムを終了してから、もう一度オープンしてください";
    }
    case Access::Gone:
        return en ? dev + " is no longer there: plug the adapter in again or choose another port."
                  : dev + " はもう存在しません。アダプターを接続し直すか、別のポートを選んでください";
    case Access::Refused:
        return en ? dev + " refused the connection: check that its RFC 2217 server (ser2net) runs and shares the port."
                  : dev + " が接続を拒否しました。RFC 2217 サーバー (ser2net) が動いていて、ポートを共有しているか確認してください";
    case Access::Unreachable:
        return en ? dev + " cannot be reached: check the network and the address."
                  : dev + " に接続できません。ネットワークとアドレスを確認してください";
    case Access::Unresolved:
        return en ? "The host of " + dev + " is not known: check the name."
                  : dev + " のホスト名が見つかりません。名前を確認してください";
    case Access::Dropped:
        return en ? "The connection to " + dev + " was lost: check the server and the network, then open the port again."
                  : dev + " との接続が切れました。サーバーとネットワークを確認してから、もう一度オープンしてください";
    }
    return {};
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
    for (int attempt = 0; attempt < 2 && !held_; ++attempt) {
        if (::link(temp.c_str(), file.c_str()) == 0) {
            held_ = true;
            file_ = file;
            addOwnLock(file);
        } else if (errno == EEXIST && staleLock(file)) {
            // Another user's stale lock in a shared (sticky) directory stays: like an
            // unwritable directory, that leaves the device unlocked, not refused.
            if (::unlink(file.c_str()) != 0 && errno != ENOENT)
                held_ = true;
        } else {
            break;
        }
    }
    ::unlink(temp.c_str());
    if (!held_)
        holder_ = held(devicePath, lockOwner(file));
    if (!held_ && holder_.pid == 0 && !fs::exists(file))
        held_ = true;  // the directory refused the link: unlocked, not refused
    if (held_)
        holder_ = freeAccess(devicePath);
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
