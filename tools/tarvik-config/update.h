// SPDX-License-Identifier: GPL-3.0-or-later
// The window's firmware update without the window: the file from the server
// (or a local one), "BOOT", the bootloader, the write with its read-back, and
// the device back on its port, optionally with its settings restored.
#pragma once

#include <QString>

struct UpdateRequest {
    QString port;          // empty: the first K931
    QString model;         // empty: the first model the server lists
    QString type;          // one of firmwareTypes(); empty only with `file`
    QString file;          // a local HEX file instead of the server's
    QString source;        // as the user named it: empty, an address or a folder
    QString server;        // where data.json and the files are, ends in "/"
    bool keepSettings = false;
    QString restore;       // a kept settings file to put back after the update
    bool backup = true;    // a copy of the firmware it replaces, in the data folder
};

int updateCommand(const UpdateRequest &request);
// Copies the source's data.json and every file it lists (every model and
// type), each checked, into `folder`, which then serves as a source offline.
int mirrorCommand(const QString &folder, const QString &server);

// Each run downloads into a folder of its own, gone when the run ends: two
// runs at once (a mirror beside an update, two cars) never take each
// other's files, and nothing is left behind. Empty when none could be made.
QString workFolder();
// A version as a source gave it, fit for one line of a terminal.
QString shownVersion(const QString &text);
