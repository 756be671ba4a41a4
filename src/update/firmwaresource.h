// SPDX-License-Identifier: GPL-3.0-or-later
// Where firmware comes from, as the owner names it: the maker's server (the
// default), a mirror over https, a server on this computer over plain http,
// or a local folder (a USB stick) laid out as the server is: data.json and
// the HEX files beside it. The window and tarvik-config read it the same way.
#pragma once

#include <QString>

namespace road {

struct FirmwareSource {
    QString baseUrl;  // ends in "/"; the description and the files lie below it
    QString probeUrl; // what tells whether the source answers; empty: the maker's probe
    QString error;    // why the text names no usable source, in Portuguese
    bool ok() const { return error.isEmpty(); }
};

// An empty text is the maker's server.
FirmwareSource firmwareSource(const QString &text);

} // namespace road
