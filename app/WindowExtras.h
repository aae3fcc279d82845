// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the window offers around its controls: recording, the chart, the sticks and link
// panel, the button log, help and version information, from a context menu and from keys.

#include "app/WindowSettings.h"

#include <QObject>
#include <QString>

#include <memory>

class ButtonLog;
class ChartWindow;
class CheckWindow;
class QAction;
class Recording;
class StickView;
class TMainForm;

class WindowExtras : public QObject {
    Q_OBJECT

public:
    // settingsFile keeps the language chosen in the menu.
    explicit WindowExtras(TMainForm& form, QString settingsFile = DefaultSettingsFile());
    ~WindowExtras() override;

    // Records every answered poll from the next on into file; throws std::runtime_error
    // saying why when the file cannot be written, or is there and not to be overwritten.
    void StartRecording(const QString& file, bool overwrite = false);
    // The recording's summary, "" when there was none.
    QString StopRecording();
    bool Recording() const { return recording_ != nullptr; }
    ChartWindow& Chart() { return *chart_; }
    StickView& Sticks() { return *sticks_; }
    CheckWindow& Check() { return *check_; }
    // What F1 shows: first steps, what each part shows, the keys, the files in use.
    static QString HelpText();
    ::ButtonLog& ButtonLog() { return *buttonLog_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void toggleRecording();
    void recordingFailed(const QString& file, const QString& reason);
    void updateTitle();
    void showChart();
    void showSticks();
    void showCheck();
    static void bringUp(QWidget& window);
    void showButtonLog();
    void showHelp();
    void showVersion();
    void switchLanguage();
    // The language the next start will use: the one chosen in the menu, else this one.
    QString nextLanguage() const;
    static QString otherLanguage(const QString& language);

    TMainForm& form_;
    const QString caption_;
    const QString settingsFile_;
    std::unique_ptr<::Recording> recording_;
    ChartWindow* chart_;
    StickView* sticks_;
    CheckWindow* check_;
    ::ButtonLog* buttonLog_;
    QAction* recordAction_ = nullptr;
    QAction* languageAction_ = nullptr;
};
