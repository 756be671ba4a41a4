// SPDX-License-Identifier: GPL-3.0-or-later
// Where firmware comes from, as the owner names it: the maker's server (the
// default), a mirror over https, a server on this computer over plain http,
// or a local folder (a USB stick) laid out as the server is: data.json and
// the HEX files beside it. The window and tarvik-config read it the same way.
#pragma once

#include <QString>

namespace road {

// What a source may send, with room to spare: the F446's 512 KiB of flash
// as Intel HEX is about 1.4 MB, a description a few hundred bytes.
constexpr qint64 kDescriptionMaxBytes = 64 * 1024;
constexpr qint64 kFirmwareFileMaxBytes = 4 * 1024 * 1024;
// A file not whole within this long is abandoned however steadily its bytes
// come: 1.4 MB over a poor mobile link of 128 kbit/s takes about 90 s.
constexpr int kFileTimeLimitMs = 180000;

struct FirmwareSource {
    QString baseUrl;  // ends in "/"; the description and the files lie below it
    QString probeUrl; // what tells whether the source answers; empty: the maker's probe
    QString error;    // why the text names no usable source, in Portuguese
    // Named by the owner: its redirects are followed only on its own server,
    // so that plain http on this computer never leaves it.
    bool chosen = false;
    bool ok() const { return error.isEmpty(); }
};

// An empty text is the maker's server.
FirmwareSource firmwareSource(const QString &text);
// Whether a URL lies on the maker's server, whose redirects Qt judges as it
// always has.
bool isMakersServer(const QString &url);

} // namespace road
