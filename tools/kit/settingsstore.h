// settingsstore.h - one JSON settings file per camera serial number.
#ifndef LORVEXKIT_SETTINGSSTORE_H
#define LORVEXKIT_SETTINGSSTORE_H

#include <QJsonObject>
#include <QString>

// What was found on disk for one camera, before any camera is opened.
struct StoredSettings
{
    enum class State { Missing, Loaded, Invalid };
    State state = State::Missing;
    QString path;
    QJsonObject json;  // valid when Loaded
    QString problem;   // why it is Invalid: the path and the JSON error
};

class SettingsStore
{
public:
    explicit SettingsStore(const QString& folder);

    QString folder() const { return folder_; }
    QString pathFor(const QString& serial) const;

    // Reads and checks the file of `serial`. A file that exists but cannot be
    // read, is not JSON, is not an object or lacks a "paramsWrap" array is
    // Invalid; a file that does not exist is Missing.
    StoredSettings read(const QString& serial) const;

    // Writes `json` atomically (temporary file, then rename). Returns false
    // with a message in `error`.
    bool write(const QString& serial, const QJsonObject& json, QString& error) const;

    // Moves an invalid file aside (keeping it for the user) so that defaults
    // can be written in its place. Returns the new name, or empty on failure.
    QString setAside(const QString& serial) const;

private:
    QString folder_;
};

#endif
