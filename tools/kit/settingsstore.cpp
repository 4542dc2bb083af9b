// settingsstore.cpp
#include "settingsstore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

namespace {

// Serial numbers come from devices; keep only characters safe in a file name.
QString safeName(const QString& serial)
{
    QString out;
    for (const QChar c : serial)
        out += (c.isLetterOrNumber() || c == '-' || c == '_' || c == '.') ? c : QChar('_');
    if (out.isEmpty() || out.startsWith('.'))
        out.prepend('_');
    return out;
}

} // namespace

SettingsStore::SettingsStore(const QString& folder) : folder_(folder) {}

QString SettingsStore::pathFor(const QString& serial) const
{
    return QDir(folder_).absoluteFilePath(safeName(serial) + QStringLiteral(".json"));
}

StoredSettings SettingsStore::read(const QString& serial) const
{
    StoredSettings s;
    s.path = pathFor(serial);
    QFileInfo info(s.path);
    if (!info.exists()) {
        s.state = StoredSettings::State::Missing;
        return s;
    }
    s.state = StoredSettings::State::Invalid;
    QFile f(s.path);
    if (info.isDir() || !f.open(QIODevice::ReadOnly)) {
        s.problem = QStringLiteral("%1: cannot be read: %2").arg(s.path, info.isDir() ? QStringLiteral("is a folder") : f.errorString());
        return s;
    }
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &pe);
    if (pe.error != QJsonParseError::NoError) {
        s.problem = QStringLiteral("%1: invalid JSON at offset %2: %3").arg(s.path).arg(pe.offset).arg(pe.errorString());
        return s;
    }
    if (!doc.isObject()) {
        s.problem = QStringLiteral("%1: invalid settings: the top level is not a JSON object").arg(s.path);
        return s;
    }
    const QJsonObject obj = doc.object();
    if (!obj.value(QStringLiteral("paramsWrap")).isArray()) {
        s.problem = QStringLiteral("%1: invalid settings: no \"paramsWrap\" array").arg(s.path);
        return s;
    }
    s.json = obj;
    s.state = StoredSettings::State::Loaded;
    return s;
}

bool SettingsStore::write(const QString& serial, const QJsonObject& json, QString& error) const
{
    if (!QDir().mkpath(folder_)) {
        error = QStringLiteral("cannot create the settings folder %1").arg(folder_);
        return false;
    }
    QSaveFile f(pathFor(serial));
    if (!f.open(QIODevice::WriteOnly)) {
        error = QStringLiteral("%1: cannot be written: %2").arg(f.fileName(), f.errorString());
        return false;
    }
    f.write(QJsonDocument(json).toJson(QJsonDocument::Indented));
    if (!f.commit()) {
        error = QStringLiteral("%1: cannot be written: %2").arg(f.fileName(), f.errorString());
        return false;
    }
    return true;
}

QString SettingsStore::setAside(const QString& serial) const
{
    const QString from = pathFor(serial);
    const QString to = from + QStringLiteral(".invalid-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    return QFile::rename(from, to) ? to : QString();
}
