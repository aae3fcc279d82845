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

Recording::Recording(const QString& file, QObject* parent) : QObject(parent), file_(file)
{
    fd_ = ::open(QFile::encodeName(file).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                 0666);
    if (fd_ < 0 || !write(zub3::Header(zub3::Format::Csv, false))) {
        const std::string reason = std::strerror(errno);
        if (fd_ >= 0)
            ::close(fd_);
        throw std::runtime_error(QFile::encodeName(file).toStdString() + ": " + reason);
    }
}

Recording::~Recording()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void Recording::Add(const zub3::PollResult& poll)
{
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

// Straight to the file, so that a crash loses at most the row being written. A file that
// has been unlinked (its folder removed) takes writes that nobody will ever read: that
// fails too, with errno 0.
bool Recording::write(const std::string& text)
{
    if (!platform::WriteAll(fd_, text))
        return false;
    struct stat st{};
    if (::fstat(fd_, &st) == 0 && st.st_nlink == 0) {
        errno = 0;
        return false;
    }
    return true;
}
