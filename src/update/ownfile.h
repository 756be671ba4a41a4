// SPDX-License-Identifier: GPL-3.0-or-later
// Reading and writing the files the program keeps for the owner, in a
// folder others may also put things in: a link is never followed at a name
// the program chose, a pipe or a device never blocks or takes the data, and
// a file is written whole or not at all. Reasons come in Portuguese.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace road {

// The file's bytes, when it is a regular file (not a link) of at most
// `maxBytes`; otherwise nothing, and `why` says what it is instead.
std::optional<QByteArray> readOwnFile(const QString &path, qint64 maxBytes, QString &why);
// Written to a fresh temporary name beside `path`, flushed to the disk and
// renamed over it; a link at `path` is replaced, never written through.
bool writeOwnFile(const QString &path, const QByteArray &bytes, QString &why);
// For a file the owner named, written whole or not at all like the above,
// but a link at `path` is followed: the file it points to is replaced, the
// link stays. A new file gets the permissions the owner's umask leaves, an
// existing one keeps its own.
bool writeOwnersFile(const QString &path, const QByteArray &bytes, QString &why);
// Gives `from` the name `to` when nothing stands there; a link is moved
// itself, never followed.
bool renameOwnFile(const QString &from, const QString &to, QString &why);
// Whether a new file can be made and written in `folder`; `why` gives the
// system's reason when not (a full disk among them).
bool canWriteIn(const QString &folder, QString &why);
// Removes `path` only when it is a regular file (a link there stays).
bool removeOwnFile(const QString &path);
// Whether `path` itself is a symbolic link.
bool isLink(const QString &path);
// The system's reason for the last failed file call, in Portuguese.
QString lastFileError();

} // namespace road
