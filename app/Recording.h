// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A recording of the window's polls: one CSV row per answered poll, as
// `zub3ctl monitor --format csv` writes it, so that zub3sim replays it and the same
// scripts read both.

#include <QObject>
#include <QString>

#include <chrono>
#include <optional>

namespace zub3 {
struct PollResult;
}

class Recording : public QObject {
    Q_OBJECT

public:
    // Creates (or empties) file and writes the header; throws std::runtime_error saying why
    // it cannot.
    explicit Recording(const QString& file, QObject* parent = nullptr);
    ~Recording() override;
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    const QString& File() const { return file_; }
    // Writes the row of an answered poll at once, timed from the first poll it is given.
    // Polls without a valid reply have no row, as in zub3ctl's records.
    void Add(const zub3::PollResult& poll);

signals:
    // The file took no more (a full disk, a folder removed); nothing more is written.
    void Failed(const QString& reason);

private:
    bool write(const std::string& text);

    QString file_;
    int fd_ = -1;
    std::optional<std::chrono::steady_clock::time_point> first_;
};
