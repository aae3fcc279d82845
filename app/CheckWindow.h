// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The guided check of a controller, beside the main window: it asks for every button,
// diagonal and channel end and to let go, ticks each off as the polls see it, then shows
// the verdict with its reasons and saves the report as an HTML page or as JSON. Its
// tolerances are kept with the window's settings.

#include "core/ControllerCheck.h"

#include <QTimer>
#include <QWidget>

#include <array>
#include <optional>

class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTextBrowser;
class TMainForm;

class CheckWindow : public QWidget {
    Q_OBJECT

public:
    CheckWindow(TMainForm& form, QString settingsFile);

    // Every poll of the main window; taken only while a check runs on screen.
    void Add(const zub3::PollResult& poll);
    // Forgets what was seen and checks again.
    void Restart();
    // Judges what has been seen so far.
    void Finish();
    bool Finished() const { return report_.has_value(); }
    const zub3::ControllerCheck& Check() const { return check_; }
    QString VerdictText() const;
    QString ReportText() const;
    void SetLimits(const zub3::CheckLimits& limits);

    enum class Format { Html, Json };
    // False, after saying why in a box, when the file cannot be written.
    bool SaveReport(const QString& file, Format format);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void refresh();
    void limitsChanged();
    void save(Format format);
    zub3::CheckContext context() const;
    QString reasonText(const zub3::CheckReason& reason) const;
    zub3::CheckPageTexts pageTexts(const zub3::CheckReport& report) const;

    TMainForm& form_;
    const QString settingsFile_;
    zub3::ControllerCheck check_;
    std::optional<zub3::CheckReport> report_;
    std::optional<zub3::CheckContext> judgedOn_;  // the port and receiver the report names
    std::array<QLabel*, zub3::kIndicatorCount> ticks_{};
    std::array<std::array<QLabel*, 3>, 4> channels_{};  // per channel: now, low end, high end
    std::array<int, 4> now_{};
    QLabel* state_;
    QLabel* verdict_;
    QTextBrowser* reportView_;
    QSpinBox* endTolerance_;
    QSpinBox* centreTolerance_;
    QDoubleSpinBox* noiseSd_;
    QSpinBox* noisePeakToPeak_;
    QPushButton* finish_;
    QPushButton* saveHtml_;
    QPushButton* saveJson_;
    QTimer refresh_;
    bool storeFailed_ = false;
};
