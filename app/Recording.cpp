// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Recording.h"

#include "core/Records.h"
#include "platform/WriteAll.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace {

int openFlags(bool overwrite)
{
    return O_WRONLY | O_CREAT | O_CLOEXEC | (overwrite ? O_TRUNC : O_EXCL);
}

}  // namespace

Recording::Recording(const QString& file, bool overwrite, QObject* parent)
    : QObject(parent), file_(file)
{
    const QByteArray path = QFile::encodeName(file);
    struct stat st{};
    const bool existed = overwrite && ::lstat(path.constData(), &st) == 0;
    fd_ = ::open(path.constData(), openFlags(overwrite), 0666);
    if (fd_ < 0 || !write(zub3::Header(zub3::Format::Csv, false))) {
        const std::string reason = std::strerror(errno);
        if (fd_ >= 0) {
            ::close(fd_);
            // An empty file left behind (a full disk) would refuse the same command again.
            if (!existed)
                ::unlink(path.constData());
        }
        throw std::runtime_error(path.toStdString() + ": " + reason);
    }
}

QString Recording::Refusal(const QString& file, bool overwrite)
{
    const QByteArray path = QFile::encodeName(file);
    struct stat st{};
    const bool existed = ::lstat(path.constData(), &st) == 0;
    if (existed && S_ISDIR(st.st_mode))  // not "exists": no --overwrite would help
        return file + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(EISDIR));
    // As the constructor opens it, but without emptying a file that is there.
    const int fd = ::open(path.constData(), openFlags(overwrite) & ~O_TRUNC, 0666);
    if (fd < 0)
        return file + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
    ::close(fd);
    if (!existed)
        ::unlink(path.constData());
    return {};
}

Recording::~Recording()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void Recording::Add(const zub3::PollResult& poll)
{
    link_.Add(poll);
    if (fd_ < 0 || !poll.data)
        return;
    if (!first_)
        first_ = poll.sent;
    if (write(zub3::FormatRecord(zub3::Format::Csv, false, zub3::MakeRecord(poll, *first_))))
        return;
    const QString reason = errno ? QString::fromLocal8Bit(std::strerror(errno))
                                 : tr("ファイルが削除されました");
    ::close(fd_);
    fd_ = -1;
    emit Failed(reason);
}

QString Recording::Summary() const
{
    return tr("%1 に記録しました\n%2").arg(file_, link_.Describe(LinkQuality::Clock::now()));
}

// Straight to the file, so that a crash loses at most the row being written. A row the
// file took only in part (a full disk, a size limit) is cut off again, so that what is
// there can still be read to its end. A file that has been unlinked (its folder removed)
// takes writes that nobody will ever read: that fails too, with errno 0, found within a
// second (asking on every row would double the recording's system calls).
bool Recording::write(const std::string& text)
{
    if (!platform::WriteAll(fd_, text)) {
        const int error = errno;
        if (::ftruncate(fd_, whole_) != 0) {
            // Refused too: the file ends in a row cut short, which readers leave out.
        }
        errno = error;
        return false;
    }
    whole_ += static_cast<off_t>(text.size());
    const auto now = std::chrono::steady_clock::now();
    if (now - linksChecked_ < std::chrono::seconds(1))
        return true;
    linksChecked_ = now;
    struct stat st{};
    if (::fstat(fd_, &st) == 0 && st.st_nlink == 0) {
        errno = 0;
        return false;
    }
    return true;
}
