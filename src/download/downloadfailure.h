// SPDX-License-Identifier: GPL-3.0-or-later
// Why a download saved nothing, in the owner's words and with what to do
// next: the network, the server's certificate, the source's own misdeeds
// and the local disk are each told as what they are.
#pragma once

#include "downloadmanager.h"

QString downloadFailureText(const DownloadResult &result);
