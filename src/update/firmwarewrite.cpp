// SPDX-License-Identifier: GPL-3.0-or-later
#include "firmwarewrite.h"

#include "flashfailure.h"
#include "programmer.h"

#include <optional>

namespace road {

namespace {

Outcome outcome(int result, const QString &path)
{
    return {result, result == flashing::kOk ? QString() : flashFailureReason(result, path), {}, {}};
}

} // namespace

Outcome connectBootloader(const QString &usbIndex)
{
    return outcome(flashing::connectDfuBootloader(usbIndex.toLatin1().constData()), QString());
}

Outcome writeFirmware(const WriteRequest &request)
{
    // Nothing was read (a download that never came): the device is not touched.
    if (request.image.empty())
        return outcome(flashing::kFileNotFound, request.path);
    std::optional<FirmwareCopyKeeper> keeper;
    flashing::WriteHooks hooks;
    if (!request.copy.folder.isEmpty()) {
        CopyRequest copy = request.copy;
        copy.writing = request.path;
        keeper.emplace(copy);
        hooks.backup = &*keeper;
    }
    hooks.stopRequested = request.stopRequested;
    const flashing::WriteResult written = flashing::downloadImageWith(request.image, 0, request.verify ? 1 : 0, hooks);
    Outcome done = outcome(written.code, request.path);
    done.flashChanged = written.flashChanged;
    if (keeper) {
        done.copyReport = keeper->report();
        done.copyPath = keeper->path();
    }
    return done;
}

} // namespace road
