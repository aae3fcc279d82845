// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A recording of the window's polls: one CSV row per answered poll, as
// `zub3ctl monitor --format csv` writes it, so that zub3sim replays it and the same
// scripts read both.

#include "app/LinkQuality.h"

#include <QObject>
#include <QString>

#include <sys/types.h>

#include <chrono>
#include <optional>

namespace zub3 {
struct PollResult;
}

class Recording : public QObject {
    Q_OBJECT

public:
    // Creates file and writes the header; throws std::runtime_error saying why it cannot.
    // An existing file is refused unless overwrite, and then emptied.
    Recording(const QString& file, bool overwrite, QObject* parent = nullptr);
    // Why the constructor would refuse file ("" when it would not), leaving no file behind.
    static QString Refusal(const QString& file, bool overwrite);
    ~Recording() override;
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    const QString& File() const { return file_; }
    // Writes the row of an answered poll at once, timed from the first poll it is given.
    // Polls without a valid reply have no row, as in zub3ctl's records. A row is in the file
    // whole or not at all.
    void Add(const zub3::PollResult& poll);
    // The file and the polls since the start, with what came of them, for people.
    QString Summary() const;

signals:
    // The file took no more (a full disk, a folder removed); nothing more is written.
    void Failed(const QString& reason);

private:
    bool write(const std::string& text);

    QString file_;
    int fd_ = -1;
    off_t whole_ = 0;  // the length of the file up to its last whole row
    std::optional<std::chrono::steady_clock::time_point> first_;
    std::chrono::steady_clock::time_point linksChecked_{};
    LinkQuality link_;
};
