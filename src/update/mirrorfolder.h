// SPDX-License-Identifier: GPL-3.0-or-later
// A copy of a firmware source in a folder of the owner's choosing, made
// whole or not at all: its files are gathered in a new folder beside it and
// that folder then takes the old one's place. What stood there is replaced
// only when it is a copy this program made (its own list of files says so)
// or an empty folder; anything of the owner's is left as it was.
#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>

namespace road {

// The list a copy keeps of the files this program put in it.
inline const QString kMirrorListName = QStringLiteral(".tarvik-mirror.json");

class MirrorFolder {
public:
    explicit MirrorFolder(QString folder);
    ~MirrorFolder();

    // Whether the folder may be replaced, and the new folder beside it made;
    // `why` says what stops it, in Portuguese.
    bool begin(QString &why);
    // Where a file of the copy goes while it is gathered. `name` must be a
    // plain name judged before (a model's file name, data.json).
    QString pathFor(const QString &name) const;
    // The gathered files take the folder's place; on failure the folder is
    // as it was. `note` says what was left behind, if anything (an old copy
    // that had gained files of someone else's).
    bool commit(const QStringList &names, QString &why, QString &note);

private:
    QString target;
    std::unique_ptr<QTemporaryDir> fresh;
    bool replacesOldCopy = false;
};

} // namespace road
