// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The controller's buttons as the polls saw them go down and up, each with its time: the
// list a user reads to tell whether every button registers, and can clear and save.

#include <QWidget>

#include <cstdint>
#include <optional>
#include <deque>
#include <vector>

class QListWidget;
class TMainForm;
namespace zub3 {
struct PollResult;
}

class ButtonLog : public QWidget {
    Q_OBJECT

public:
    // The window's 20 indicators, each logged by its name; a window of its own over form.
    explicit ButtonLog(TMainForm& form);

    // Logs what changed since the last answered poll; a poll without a reply changes nothing.
    void Add(const zub3::PollResult& poll);
    void Clear();
    // The log as CSV (time,event,indicator), the same in every locale; false when the file
    // could not be written.
    bool Save(const QString& file) const;
    QStringList Lines() const;

private:
    struct Entry {
        std::int64_t wallMs;
        bool pressed;
        int indicator;
    };
    struct Indicator {
        std::uint32_t mask;
        QString name;
    };

    QString line(const Entry& e) const;
    void save();

    std::vector<Indicator> indicators_;
    std::deque<Entry> entries_;
    QListWidget* list_;
    std::optional<std::uint16_t> buttons_;  // of the last answered poll
};
