// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A separate ZUB3Manager's world: a virtual receiver as COM99 in a registry and lock
// directory of their own, and the settings file of a last run that chose it.

#include "sim/VirtualReceiver.h"
#include "support/TempRegistry.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QString>

#include <filesystem>
#include <memory>

class KeptPortRun {
public:
    // more: further settings lines after the port's and the receiver's line speed.
    explicit KeptPortRun(zub3::sim::VirtualReceiver::Config config = {},
                         const QByteArray& more = {})
    {
        namespace fs = std::filesystem;
        const fs::path runtime = registry_.Root() / "xdg";
        fs::create_directories(runtime);
        fs::permissions(runtime, fs::perms::owner_all);  // private to the user, as Qt wants it
        platform::registry::SetLocation(
            {runtime / "zub3" / "serialcomm", registry_.Root() / "sys", "/dev", {}});
        const int bitRate = config.bitRate;
        receiver_ = std::make_unique<zub3::sim::VirtualReceiver>(std::move(config));
        platform::registry::WriteEntry("zub3sim", platform::registry::ValueType::String, "COM99",
                                       receiver_->SlavePath());
        const QString configHome = QString::fromStdString((registry_.Root() / "config").string());
        settingsFile_ = configHome + "/zub3/ZUB3Manager.conf";
        QDir().mkpath(configHome + "/zub3");
        QFile f(settingsFile_);
        if (f.open(QIODevice::WriteOnly))
            f.write("[port]\nname=COM99\ndevice=" +
                    QByteArray::fromStdString(receiver_->SlavePath()) +
                    "\n[line]\nspeed=" + QByteArray::number(bitRate) + "\n" + more);
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime.string()));
        env_.insert("XDG_CONFIG_HOME", configHome);
        env_.insert("ZUB3_LOCK_DIR", QString::fromStdString(registry_.LockDir().string()));
    }

    zub3::sim::VirtualReceiver& Receiver() { return *receiver_; }
    const QProcessEnvironment& Environment() const { return env_; }
    std::filesystem::path LockDir() const { return registry_.LockDir(); }
    QByteArray Settings() const
    {
        QFile f(settingsFile_);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    TempRegistry registry_;
    std::unique_ptr<zub3::sim::VirtualReceiver> receiver_;
    QString settingsFile_;
    QProcessEnvironment env_;
};
