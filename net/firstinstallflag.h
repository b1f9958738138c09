#pragma once

#include <QString>

// Whether the welcome page is still to be shown for this user. Changes stay in memory until
// save(); the process-wide instance saves once as the application ends.
class FirstInstallFlag
{
public:
    // Loads the flag from the JSON file at path. A missing or unreadable file, or one that is
    // not JSON, counts as a first run; otherwise only a JSON boolean true does.
    explicit FirstInstallFlag(const QString &path);

    bool isFirstInstall() const;
    void setFirstInstall(bool value);
    QString path() const;

    // Writes the flag back in indented form; returns false when the file cannot be opened.
    bool save() const;

private:
    bool m_flag = true;
    QString m_path;
};

// The flag of "setting.inf" in the application-local data folder. The first call loads it and
// arranges the save for when the application object is destroyed.
FirstInstallFlag &firstInstallFlag();
