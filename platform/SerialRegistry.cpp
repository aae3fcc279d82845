// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/SerialRegistry.h"

#include "platform/PortAccess.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace platform::registry {
namespace {

std::mutex g_mutex;
std::optional<Location> g_location;
std::map<int, std::string> g_processPorts;  // by number: the devices named by path

const char* typeName(ValueType t)
{
    switch (t) {
    case ValueType::String: return "REG_SZ";
    case ValueType::ExpandString: return "REG_EXPAND_SZ";
    case ValueType::MultiString: return "REG_MULTI_SZ";
    case ValueType::DWord: return "REG_DWORD";
    case ValueType::Binary: return "REG_BINARY";
    }
    return "REG_SZ";
}

std::optional<ValueType> typeFromName(const std::string& s)
{
    for (ValueType t : {ValueType::String, ValueType::ExpandString, ValueType::MultiString,
                        ValueType::DWord, ValueType::Binary})
        if (s == typeName(t))
            return t;
    return std::nullopt;
}

// An entry without an owner never goes stale.
bool ownerAlive(long pid)
{
    return pid <= 0 || ports::ProcessAlive(pid);
}

struct Entry {
    Value value;
    long pid = 0;
    fs::path file;
};

std::optional<Entry> readEntry(const fs::path& file)
{
    std::ifstream in(file);
    if (!in)
        return std::nullopt;
    std::map<std::string, std::string> kv;
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos)
            kv[line.substr(0, eq)] = line.substr(eq + 1);
    }
    const auto type = typeFromName(kv["type"]);
    if (!type || kv["name"].empty())
        return std::nullopt;
    Entry e;
    e.value = Value{kv["name"], *type, kv["data"], kv["path"]};
    e.pid = std::strtol(kv["pid"].c_str(), nullptr, 10);
    e.file = file;
    return e;
}

// Registered entries, live and stale; nullopt when the directory cannot be listed.
std::optional<std::vector<Entry>> readEntries(const fs::path& dir)
{
    std::error_code ec;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().extension() == ".port")
            files.push_back(it->path());
    if (ec)
        return std::nullopt;
    std::sort(files.begin(), files.end());
    std::vector<Entry> entries;
    for (const auto& f : files)
        if (auto e = readEntry(f))
            entries.push_back(std::move(*e));
    return entries;
}

// Each kind of device has its own band of numbers, so that a device keeps its number
// whatever else is plugged in; a device beyond its band takes a free number later.
struct Band {
    const char* prefix;
    int first;  // the port number of device 0
    int size;
};
constexpr Band kBands[] = {{"ttyS", 1, 10}, {"ttyUSB", 11, 20}, {"ttyACM", 31, 20}};

int realPortNumber(const std::string& name)
{
    static const std::regex re(R"((ttyS|ttyUSB|ttyACM)(\d{1,4}))");
    std::smatch m;
    if (!std::regex_match(name, m, re))
        return -1;
    const int n = std::stoi(m[2]);
    for (const Band& b : kBands)
        if (m[1] == b.prefix)
            return n < b.size ? b.first + n : 0;
    return -1;
}

bool numberTaken(const std::vector<Value>& values, int number)
{
    return std::any_of(values.begin(), values.end(),
                       [number](const Value& v) { return PortNumber(v.data) == number; });
}

// A board's own UARTs (a Raspberry Pi's PL011 ttyAMA, a Jetson's ttyTHS) have no band:
// they are known by their paths, as the board's documentation names them.
bool boardUart(const std::string& name)
{
    static const std::regex re(R"((ttyAMA|ttyTHS)\d{1,4})");
    return std::regex_match(name, re);
}

Value byPath(const std::string& name, const fs::path& path, const fs::path& device)
{
    return Value{name, ValueType::String, path.string(), device.string()};
}

// The links a board's set-up makes to its console-free UARTs (/dev/serial0, serial1 on a
// Raspberry Pi, whichever UART is wired to the header). A link to nothing is not a port.
std::vector<Value> serialLinks(const Location& loc)
{
    static const std::regex re(R"(serial\d{1,3})");
    std::vector<Value> out;
    std::error_code ec;
    for (fs::directory_iterator it(loc.devDir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code linkError;
        if (!std::regex_match(name, re) || !it->is_symlink(linkError))
            continue;
        const fs::path target = fs::canonical(it->path(), linkError);
        if (!linkError)
            out.push_back(byPath(name, it->path(), target));
    }
    std::sort(out.begin(), out.end(), [](const Value& a, const Value& b) { return a.name < b.name; });
    return out;
}

std::vector<Value> realDevices(const Location& loc)
{
    std::vector<Value> out;
    std::error_code ec;
    std::vector<std::string> names;
    for (fs::directory_iterator it(loc.sysTtyDir, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    std::vector<std::string> beyondBands;
    for (const auto& name : names) {
        const int number = realPortNumber(name);
        const bool board = number < 0 && boardUart(name);
        if (number < 0 && !board)
            continue;
        const fs::path entry = loc.sysTtyDir / name;
        if (!fs::exists(entry / "device", ec))
            continue;  // a virtual console or the like: no hardware behind it
        if (board) {
            out.push_back(byPath(name, loc.devDir / name, loc.devDir / name));
            continue;
        }
        // The kernel lists ttyS ports that have no UART; their type reads 0.
        if (name.rfind("ttyS", 0) == 0 && ports::ReadFirstLine(entry / "type") == "0")
            continue;
        if (number == 0) {
            beyondBands.push_back(name);
            continue;
        }
        out.push_back(Value{name, ValueType::String, "COM" + std::to_string(number),
                            (loc.devDir / name).string()});
    }
    int next = kFirstExtraPort;
    for (const auto& name : beyondBands) {
        while (numberTaken(out, next))
            ++next;
        out.push_back(Value{name, ValueType::String, "COM" + std::to_string(next),
                            (loc.devDir / name).string()});
    }
    for (Value& link : serialLinks(loc))
        out.push_back(std::move(link));
    return out;
}

std::string sanitize(const std::string& name)
{
    std::string s = name;
    for (char& c : s)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.'))
            c = '_';
    return s;
}

// The registry's directory must be a real directory of this user that nobody else can
// write to, in a directory nobody else can swap it in: in a shared /tmp another user could
// otherwise plant entries naming devices to open, or links that make a registration
// overwrite files.
bool privateDirectory(const fs::path& dir)
{
    struct stat st {};
    return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// This user's or root's; writable by others only with the sticky bit, as /tmp is.
bool trustedParent(const fs::path& dir)
{
    struct stat st {};
    return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           (st.st_uid == ::getuid() || st.st_uid == 0) &&
           ((st.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (st.st_mode & S_ISVTX) != 0);
}

bool safeLocation(const fs::path& dir)
{
    return trustedParent(dir.parent_path()) && privateDirectory(dir);
}

void makePrivateDirectory(const fs::path& dir)
{
    for (const fs::path& d : {dir.parent_path(), dir})
        if (::mkdir(d.c_str(), 0700) != 0 && errno != EEXIST)
            throw std::runtime_error("cannot create " + d.string() + ": " + std::strerror(errno));
    if (!safeLocation(dir))
        throw std::runtime_error(dir.string() +
                                 " is not a private directory of this user; remove it");
}

// Serialises registrations between processes.
class DirLock {
public:
    explicit DirLock(const fs::path& dir)
        : fd_(::open((dir / ".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600))
    {
        if (fd_ >= 0)
            ::flock(fd_, LOCK_EX);
    }
    ~DirLock()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    DirLock(const DirLock&) = delete;
    DirLock& operator=(const DirLock&) = delete;

private:
    int fd_;
};

void writeEntryFile(const fs::path& file, const Value& v, long pid)
{
    const fs::path tmp = file.string() + ".tmp";
    std::ostringstream text;
    text << "name=" << v.name << "\ntype=" << typeName(v.type) << "\ndata=" << v.data
         << "\npath=" << v.devicePath << "\npid=" << pid << "\n";
    const std::string bytes = text.str();
    // A new file of our own: never through a link, never someone else's.
    ::unlink(tmp.c_str());
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const bool written = fd >= 0 && ::write(fd, bytes.data(), bytes.size()) ==
                                        static_cast<ssize_t>(bytes.size());
    if (fd >= 0)
        ::close(fd);
    if (!written)
        throw std::runtime_error("cannot write the port registration " + tmp.string());
    fs::rename(tmp, file);
}



constexpr std::string_view kNetworkScheme = "rfc2217://";

Value networkValue(const std::string& portName, const std::string& address)
{
    return Value{address, ValueType::String, portName, address};
}

void toStandardError(const PortsFileProblem& p)
{
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, p.message.c_str());
}

struct ProblemLog {
    std::mutex mutex;
    std::vector<PortsFileProblem> told;
    PortsFileSink sink = toStandardError;
};

ProblemLog& problemLog()
{
    static ProblemLog log;
    return log;
}

// Each problem of ports.conf is told once per process: the port list is read again
// whenever the window's list drops down.
void reportOnce(const PortsFileProblem& problem)
{
    ProblemLog& log = problemLog();
    PortsFileSink sink;
    {
        std::lock_guard lock(log.mutex);
        if (std::any_of(log.told.begin(), log.told.end(),
                        [&problem](const PortsFileProblem& p) { return p.message == problem.message; }))
            return;
        log.told.push_back(problem);
        sink = log.sink;
    }
    sink(problem);
}

// A bracketed IPv6 address, with a scope (an interface name or number) after '%' for a
// link-local one: [fe80::1%eth0].
bool validIpv6(const std::string& host)
{
    const auto percent = host.find('%');
    const std::string address = host.substr(0, percent);
    if (address.empty() || address.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos)
        return false;
    if (percent == std::string::npos)
        return true;
    const std::string scope = host.substr(percent + 1);
    return !scope.empty() && scope.size() < 16 &&
           std::all_of(scope.begin(), scope.end(), [](unsigned char c) {
               return std::isalnum(c) || c == '-' || c == '_' || c == '.';
           });
}

// "COMn rfc2217://HOST:PORT" a line; blank lines and # comments; a UTF-8 byte-order mark,
// as some editors write, is allowed. A line that cannot be used is skipped, never the rest
// of the file; a file that cannot be read is said once.
void addConfiguredPorts(const fs::path& file, std::vector<Value>& values)
{
    if (file.empty())
        return;
    std::error_code ec;
    const fs::file_status status = fs::status(file, ec);
    if (!fs::exists(status))
        return;
    std::ifstream in;
    if (!fs::is_directory(status))
        in.open(file);
    if (!in.is_open()) {
        const std::string why = fs::is_directory(status) ? "is a directory, not a file" : std::strerror(errno);
        reportOnce({"", file.string() + ": cannot be read (" + why + "); its network ports are not listed"});
        return;
    }
    std::string line;
    for (int lineNo = 1; std::getline(in, line); ++lineNo) {
        if (lineNo == 1 && line.starts_with("\xEF\xBB\xBF"))
            line.erase(0, 3);
        if (const auto hash = line.find('#'); hash != std::string::npos)
            line.erase(hash);
        std::istringstream fields(line);
        std::string port, address, extra;
        if (!(fields >> port))
            continue;
        fields >> address >> extra;
        for (char& c : port)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const int number = PortNumber(port);
        const auto skip = [&](const std::string& why) {
            reportOnce({number > 0 ? "COM" + std::to_string(number) : "",
                        file.string() + ":" + std::to_string(lineNo) + ": " + why + "; line skipped"});
        };
        if (address.empty() || !extra.empty())
            skip("expected \"COMn rfc2217://HOST:PORT\"");
        else if (number <= 0 || port.size() > 11)
            skip("\"" + port + "\" is not a port name such as COM60");
        else if (!ParseNetworkAddress(address))
            skip("\"" + address + "\" is not an address such as rfc2217://robot:7000");
        else if (const auto taken = std::find_if(values.begin(), values.end(),
                                                 [number](const Value& v) { return PortNumber(v.data) == number; });
                 taken != values.end())
            skip(port + " is already " + taken->name);
        else
            values.push_back(networkValue("COM" + std::to_string(number), address));
    }
}

}  // namespace

void SetPortsFileSink(PortsFileSink sink)
{
    ProblemLog& log = problemLog();
    std::lock_guard lock(log.mutex);
    log.sink = sink ? std::move(sink) : toStandardError;
}

std::vector<PortsFileProblem> PortsFileProblems()
{
    ProblemLog& log = problemLog();
    std::lock_guard lock(log.mutex);
    return log.told;
}

Location DefaultLocation()
{
    fs::path base;
    if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg)
        base = fs::path(xdg) / "zub3";
    else
        base = fs::path("/tmp") / ("zub3-" + std::to_string(::getuid()));
    fs::path config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        config = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        config = fs::path(home) / ".config";
    return Location{base / "serialcomm", "/sys/class/tty", "/dev",
                    config.empty() ? config : config / "zub3" / "ports.conf"};
}

void SetLocation(const Location& location)
{
    std::lock_guard lock(g_mutex);
    g_location = location;
}

Location CurrentLocation()
{
    std::lock_guard lock(g_mutex);
    return g_location ? *g_location : DefaultLocation();
}

std::optional<std::vector<Value>> ReadSerialComm()
{
    const Location loc = CurrentLocation();
    std::vector<Value> values = realDevices(loc);
    std::error_code ec;
    const bool key = fs::is_directory(loc.runtimeDir, ec);
    if (key) {
        if (!safeLocation(loc.runtimeDir))
            return std::nullopt;
        const auto entries = readEntries(loc.runtimeDir);
        if (!entries)
            return std::nullopt;
        // A registration never shadows a port listed before it: one name opens one device.
        for (const auto& e : *entries) {
            const int number = PortNumber(e.value.data);
            const bool shadows = e.value.type == ValueType::String && number >= 0 &&
                                 numberTaken(values, number);
            if (ownerAlive(e.pid) && !shadows)
                values.push_back(e.value);
        }
    }
    addConfiguredPorts(loc.portsFile, values);
    if (!key && values.empty())
        return std::nullopt;
    return values;
}

std::optional<std::string> ResolvePort(const std::string& portName)
{
    std::string name = portName;
    if (name.rfind("\\\\.\\", 0) == 0)
        name = name.substr(4);
    {
        std::lock_guard lock(g_mutex);
        if (const auto it = g_processPorts.find(PortNumber(name)); it != g_processPorts.end())
            return it->second;
    }
    const auto values = ReadSerialComm();
    if (!values)
        return std::nullopt;
    for (const auto& v : *values)
        if (v.type == ValueType::String && v.data == name && !v.devicePath.empty())
            return v.devicePath;
    return std::nullopt;
}

bool IsTerminalDevice(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned major = ::major(st.st_rdev);
    const unsigned minor = ::minor(st.st_rdev);
    // Lines as "serial  /dev/ttyS  4 64-111 serial": driver, node, major, minors, type.
    std::ifstream in("/proc/tty/drivers");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string driver, node, minors, type;
        unsigned driverMajor = 0;
        if (!(fields >> driver >> node >> driverMajor >> minors >> type))
            continue;
        char* end = nullptr;
        const auto first = std::strtoul(minors.c_str(), &end, 10);
        const auto last = *end == '-' ? std::strtoul(end + 1, nullptr, 10) : first;
        if (driverMajor == major && minor >= first && minor <= last)
            return type.rfind("system", 0) != 0 && type != "pty:master";
    }
    return false;
}

int PortForThisProcess(const std::string& devicePath)
{
    std::lock_guard lock(g_mutex);
    for (const auto& [number, path] : g_processPorts)
        if (path == devicePath)
            return number;
    const int n = kFirstProcessPort + static_cast<int>(g_processPorts.size());
    g_processPorts[n] = devicePath;
    return n;
}

int OpenNumber(const std::string& portName)
{
    if (portName.starts_with('/'))
        return PortForThisProcess(portName);
    return PortNumber(portName);
}

int FreePortNumber()
{
    const auto values = ReadSerialComm();
    int n = kFirstVirtualPort;
    while (values && numberTaken(*values, n))
        ++n;
    return n;
}

std::string RealDeviceName(const std::string& portName)
{
    const int n = PortNumber(portName);
    for (const Band& b : kBands)
        if (n >= b.first && n < b.first + b.size)
            return b.prefix + std::to_string(n - b.first);
    return {};
}

std::string DevicePathOf(const std::string& portName)
{
    if (auto path = ResolvePort(portName))
        return *path;
    const std::string device = RealDeviceName(portName);
    return device.empty() ? device : (CurrentLocation().devDir / device).string();
}

std::string NetworkAddress::Text() const
{
    return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + port;
}

bool IsNetworkAddress(const std::string& devicePath)
{
    return devicePath.starts_with(kNetworkScheme);
}

std::optional<NetworkAddress> ParseNetworkAddress(const std::string& devicePath)
{
    if (!IsNetworkAddress(devicePath))
        return std::nullopt;
    const std::string rest = devicePath.substr(kNetworkScheme.size());
    const auto colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return std::nullopt;
    NetworkAddress a;
    a.host = rest.substr(0, colon);
    a.port = rest.substr(colon + 1);
    if (a.host.front() == '[') {
        if (a.host.size() < 3 || a.host.back() != ']')
            return std::nullopt;
        a.host = a.host.substr(1, a.host.size() - 2);
        if (!validIpv6(a.host))
            return std::nullopt;
    } else if (a.host.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                        "0123456789-._") != std::string::npos) {
        return std::nullopt;  // also a bare IPv6 address, whose last colon is ambiguous
    }
    int number = 0;
    const auto [end, error] = std::from_chars(a.port.data(), a.port.data() + a.port.size(), number);
    if (a.port.empty() || a.port.size() > 5 || error != std::errc() ||
        end != a.port.data() + a.port.size() || number < 1 || number > 65535)
        return std::nullopt;
    return a;
}

Registration::Registration(int portNumber, const std::string& devicePath,
                           const std::string& valueName)
{
    const Location loc = CurrentLocation();
    makePrivateDirectory(loc.runtimeDir);
    DirLock lock(loc.runtimeDir);
    std::error_code ec;

    // A registration left by a run that was killed is replaced.
    if (const auto entries = readEntries(loc.runtimeDir))
        for (const auto& e : *entries)
            if (!ownerAlive(e.pid))
                fs::remove(e.file, ec);

    number_ = portNumber > 0 ? portNumber : FreePortNumber();
    if (const auto values = ReadSerialComm())
        for (const auto& v : *values)
            if (registry::PortNumber(v.data) == number_)
                throw std::runtime_error("COM" + std::to_string(number_) +
                                         " is already in use by " + v.name);

    file_ = loc.runtimeDir / (sanitize(valueName) + ".port");
    if (fs::exists(file_, ec))
        throw std::runtime_error("a port named " + valueName + " is already registered");
    writeEntryFile(file_, Value{valueName, ValueType::String, PortName(), devicePath},
                   static_cast<long>(::getpid()));
}

Registration::~Registration()
{
    std::error_code ec;
    fs::remove(file_, ec);
}

void WriteEntry(const std::string& valueName, ValueType type, const std::string& data,
                const std::string& devicePath, long ownerPid)
{
    const Location loc = CurrentLocation();
    makePrivateDirectory(loc.runtimeDir);
    writeEntryFile(loc.runtimeDir / (sanitize(valueName) + ".port"),
                   Value{valueName, type, data, devicePath}, ownerPid);
}

}  // namespace platform::registry
